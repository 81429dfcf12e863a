// The session window, the start dialog and the bookmark dialog, driven as a
// user would against a local command-interface stand-in.
#include "BookmarkDialog.h"
#include "BookmarkModel.h"
#include "JsonRpcHandler.h"
#include "QuestionDialog.h"
#include "SciProcess.h"
#include "SessionListWidget.h"
#include "SessionModel.h"
#include "StartSessionDialog.h"
#include "WindowModeWidget.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QStackedWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

namespace {

const int Timeout = 20000;

QJsonArray storedSessions(const SciProcess& sci)
{
    return sci.storedState().value(QStringLiteral("sessions")).toArray();
}

QJsonObject storedSession(const SciProcess& sci, const QString& command)
{
    for (const QJsonValue& session : storedSessions(sci)) {
        if (session.toObject().value(QStringLiteral("command")).toString() == command)
            return session.toObject();
    }
    return QJsonObject();
}

QList<QMessageBox*> failureBoxes()
{
    QList<QMessageBox*> boxes;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
            boxes.append(box);
    }
    return boxes;
}

void closeFailureBoxes()
{
    for (QMessageBox* box : failureBoxes())
        box->close();
}

QPushButton* button(QWidget* parent, const char* name)
{
    return parent->findChild<QPushButton*>(QLatin1String(name));
}

// Selects the row of the session with the given command.
bool selectSession(SessionListWidget& window, const QString& command)
{
    const SessionModel* model = window.model();
    for (int row = 0; row < model->rowCount(); ++row) {
        if (model->session(row).command() == command) {
            const QModelIndex index = window.proxy()->mapFromSource(model->index(row, 0));
            window.view()->selectionModel()->select(
                index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            window.view()->setCurrentIndex(index);
            return true;
        }
    }
    return false;
}

// Xvfb runs without a window manager: activate the window by hand.
void showActive(QWidget* widget)
{
    widget->show();
    QVERIFY(QTest::qWaitForWindowExposed(widget));
    QApplication::setActiveWindow(widget);
}

bool hasSession(const SessionListWidget& window, const QString& command)
{
    for (int row = 0; row < window.model()->rowCount(); ++row) {
        if (window.model()->session(row).command() == command)
            return true;
    }
    return false;
}

} // namespace

class SessionWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void windowModeWidget();
    void startDialogMenu();
    void startDialogRefusesBlankCommand();
    void startRenameAndTerminate();
    void startRefusedShowsTheLog();
    void connectRefusedAndButtonRules();
    void headerButtonColumnsDoNotSort();
    void bookmarkDialogPromoteAndDelete();

private:
    QTemporaryDir m_home;
    std::unique_ptr<SciProcess> m_sci;
};

void SessionWindowTest::initTestCase()
{
    QVERIFY(m_home.isValid());
    pointHomeAt(m_home.path());
}

void SessionWindowTest::init()
{
    m_sci = std::make_unique<SciProcess>();
    QString error;
    QVERIFY2(m_sci->start(&error), qPrintable(error));
}

void SessionWindowTest::cleanup()
{
    closeFailureBoxes();
    m_sci.reset();
}

void SessionWindowTest::windowModeWidget()
{
    WindowModeWidget widget(nullptr);
    auto* box = widget.findChild<QCheckBox*>(QStringLiteral("SingleApplicationBox"));
    auto* geometry = widget.findChild<QLineEdit*>(QStringLiteral("GeometryLineEdit"));
    QVERIFY(box && geometry);
    QCOMPARE(widget.value(), QString());
    widget.setValue(QStringLiteral("800x600"));
    QVERIFY(!box->isChecked());
    QCOMPARE(widget.value(), QStringLiteral("800x600"));
    widget.setValue(QStringLiteral("rootless"));
    QVERIFY(box->isChecked());
    QVERIFY(!geometry->isEnabled());
    QCOMPARE(geometry->text(), QStringLiteral("800x600"));
    QCOMPARE(widget.value(), QStringLiteral("rootless"));

    showActive(&widget);
    box->setChecked(false);
    QVERIFY(geometry->isEnabled());
    QCOMPARE(geometry->selectedText(), QStringLiteral("800x600"));
    QTRY_VERIFY(geometry->hasFocus());
}

void SessionWindowTest::startDialogMenu()
{
    StartSessionDialog dialog(nullptr, nullptr);
    QVERIFY(!dialog.suggestionsButton());
    const QJsonArray empty;
    dialog.handleBookmarkReply(QString(),
                               QJsonObject{{QStringLiteral("suggestions"), empty},
                                           {QStringLiteral("bookmarks"), empty},
                                           {QStringLiteral("history"), empty}},
                               QJsonValue());
    QVERIFY(!dialog.suggestionsButton());

    const QJsonObject reply{
        {QStringLiteral("suggestions"),
         QJsonArray{QJsonObject{{QStringLiteral("id"), QStringLiteral("s1")},
                                {QStringLiteral("command"), QStringLiteral("xterm -ls")},
                                {QStringLiteral("geometry"), QStringLiteral("rootless")}}}},
        {QStringLiteral("history"),
         QJsonArray{QJsonObject{{QStringLiteral("id"), QStringLiteral("h1")},
                                {QStringLiteral("name"), QStringLiteral("Editor")},
                                {QStringLiteral("command"), QStringLiteral("xterm -e vi")},
                                {QStringLiteral("geometry"), QStringLiteral("800x600")}},
                    QJsonObject{{QStringLiteral("name"), QStringLiteral("no id")}}}}};
    dialog.handleBookmarkReply(QString(), reply, QJsonValue());
    QVERIFY(dialog.suggestionsButton());
    QStringList texts;
    for (QAction* action : dialog.suggestionsMenu()->actions())
        texts.append(action->text());
    QCOMPARE(texts, QStringList({QStringLiteral("Suggestions"),
                                 QStringLiteral("   xterm -ls (Single Application)"),
                                 QStringLiteral("History"), QStringLiteral("   Editor")}));
    QVERIFY(!dialog.suggestionsMenu()->actions().at(0)->isEnabled());
    QCOMPARE(dialog.entries().size(), 2);

    auto* command = dialog.findChild<QLineEdit*>(QStringLiteral("CommandLineEdit"));
    auto* box = dialog.findChild<QCheckBox*>(QStringLiteral("SingleApplicationBox"));
    auto* geometry = dialog.findChild<QLineEdit*>(QStringLiteral("GeometryLineEdit"));
    auto* ok = dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
    geometry->setText(QStringLiteral("640x480"));
    dialog.suggestionsMenu()->actions().at(1)->trigger();
    QCOMPARE(command->text(), QStringLiteral("xterm -ls"));
    QVERIFY(box->isChecked());
    QCOMPARE(geometry->text(), QStringLiteral("640x480"));
    QVERIFY(ok->isEnabled());

    // A picked entry keeps its name only while its fields stay as they were.
    dialog.suggestionsMenu()->actions().at(3)->trigger();
    QVERIFY(!box->isChecked());
    QCOMPARE(geometry->text(), QStringLiteral("800x600"));
    dialog.done(QDialog::Accepted);
    QCOMPARE(dialog.name(), QStringLiteral("Editor"));
    QCOMPARE(dialog.command(), QStringLiteral("xterm -e vi"));
    QCOMPARE(dialog.geometry(), QStringLiteral("800x600"));

    dialog.suggestionsMenu()->actions().at(3)->trigger();
    command->setText(QStringLiteral("xterm -e vim"));
    dialog.done(QDialog::Accepted);
    QCOMPARE(dialog.name(), QString());
    QCOMPARE(dialog.command(), QStringLiteral("xterm -e vim"));

    // A second reply replaces menu and button; a malformed one keeps them.
    QPointer<QPushButton> first = dialog.suggestionsButton();
    dialog.handleBookmarkReply(QString(), reply, QJsonValue());
    QVERIFY(!first);
    QCOMPARE(dialog.findChildren<QPushButton*>(QStringLiteral("SuggestionsButton")).size(), 1);
    dialog.handleBookmarkReply(QString(), QJsonValue(), QJsonObject());
    QVERIFY(dialog.suggestionsButton());
}

void SessionWindowTest::startDialogRefusesBlankCommand()
{
    StartSessionDialog dialog(m_sci->handler(), nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(dialog.suggestionsButton(), Timeout);
    showActive(&dialog);
    auto* command = dialog.findChild<QLineEdit*>(QStringLiteral("CommandLineEdit"));
    auto* ok = dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
    QVERIFY(!ok->isEnabled());
    command->setFocus();
    // The validator refuses leading white space as it is typed.
    QTest::keyClicks(command, QStringLiteral("  "));
    QCOMPARE(command->text(), QString());
    QVERIFY(!ok->isEnabled());
    QTest::keyClick(command, Qt::Key_Return);
    QVERIFY(dialog.isVisible());
    dialog.done(QDialog::Accepted);
    QVERIFY(dialog.isVisible());
    QTest::keyClicks(command, QStringLiteral("xterm"));
    QVERIFY(ok->isEnabled());
    QTest::keyClick(command, Qt::Key_Return);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.geometry(), QString());
}

void SessionWindowTest::startRenameAndTerminate()
{
    SessionListWidget window(m_sci->handler(), nullptr);
    QSignalSpy version(&window, &SessionListWidget::gotVersion);
    QAbstractItemModelTester tester(window.model());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.startUpdating();
    QVERIFY(version.wait(Timeout));

    // Start from the dialog: no size and no name.
    QTest::mouseClick(button(&window, "NewSessionButton"), Qt::LeftButton);
    auto* dialog = window.findChild<StartSessionDialog*>();
    QVERIFY(dialog);
    QTRY_VERIFY(dialog->isVisible());
    auto* command = dialog->findChild<QLineEdit*>(QStringLiteral("CommandLineEdit"));
    QTest::keyClicks(command, QStringLiteral("xterm"));
    QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok),
                      Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!storedSession(*m_sci, QStringLiteral("xterm")).isEmpty(), Timeout);
    const QJsonObject stored = storedSession(*m_sci, QStringLiteral("xterm"));
    QCOMPARE(stored.value(QStringLiteral("geometry")).toString(), QStringLiteral("1024x768"));
    QCOMPARE(stored.value(QStringLiteral("name")).toString(), QString());
    window.model()->forceUpdate();
    QTRY_VERIFY_WITH_TIMEOUT(hasSession(window, QStringLiteral("xterm")), Timeout);

    // Rename through the Edit button; the server keeps the name.
    QVERIFY(selectSession(window, QStringLiteral("xterm")));
    QPushButton* edit = button(&window, "EditSessionButton");
    QTRY_VERIFY(edit->isVisible());
    QVERIFY(button(&window, "ConnectSessionButton")->isEnabled());
    QVERIFY(!button(&window, "DisconnectSessionButton")->isEnabled());
    QTest::mouseClick(edit, Qt::LeftButton);
    auto* editor = window.view()->viewport()->findChild<QLineEdit*>();
    QVERIFY(editor);
    QCOMPARE(editor->text(), QStringLiteral("xterm"));
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("Work shell"));
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(
        storedSession(*m_sci, QStringLiteral("xterm")).value(QStringLiteral("name")).toString(),
        QStringLiteral("Work shell"), Timeout);
    QTRY_COMPARE_WITH_TIMEOUT(window.model()->pendingCount(), 0, Timeout);
    QVERIFY(selectSession(window, QStringLiteral("xterm")));
    QCOMPARE(window.view()->selectionModel()->selectedIndexes().first().data().toString(),
             QStringLiteral("Work shell"));

    // Terminate: "Keep" sends nothing, "Terminate" ends the session.
    QTest::mouseClick(button(&window, "TerminateSessionButton"), Qt::LeftButton);
    QPointer<QuestionDialog> question = window.findChild<QuestionDialog*>();
    QVERIFY(question);
    QVERIFY(question->isVisible());
    QCOMPARE(question->windowModality(), Qt::WindowModal);
    QPushButton* keep = nullptr;
    for (QPushButton* candidate : question->findChildren<QPushButton*>()) {
        if (candidate->text() == QStringLiteral("Keep"))
            keep = candidate;
    }
    QVERIFY(keep);
    QTest::mouseClick(keep, Qt::LeftButton);
    QTRY_VERIFY(!question);
    QSignalSpy updated(window.model(), &SessionModel::sessionsUpdated);
    window.model()->forceUpdate();
    QVERIFY(updated.wait(Timeout));
    QCOMPARE(storedSessions(*m_sci).size(), 1);
    QVERIFY(hasSession(window, QStringLiteral("xterm")));

    QVERIFY(selectSession(window, QStringLiteral("xterm")));
    QTest::mouseClick(button(&window, "TerminateSessionButton"), Qt::LeftButton);
    question = window.findChild<QuestionDialog*>();
    QVERIFY(question);
    QVERIFY(question->findChild<QLabel*>()->text().contains(QStringLiteral("Work shell")));
    question->accept();
    QTRY_VERIFY_WITH_TIMEOUT(storedSessions(*m_sci).isEmpty(), Timeout);
    QTRY_VERIFY_WITH_TIMEOUT(!hasSession(window, QStringLiteral("xterm")), Timeout);
    QVERIFY(!button(&window, "TerminateSessionButton")->isVisible());
    QVERIFY(failureBoxes().isEmpty());
}

void SessionWindowTest::startRefusedShowsTheLog()
{
    SessionListWidget window(m_sci->handler(), nullptr);
    window.callStart(QStringLiteral("no-such-program-here --now"), QStringLiteral("800x600"),
                     QStringLiteral("Broken"));
    QTRY_COMPARE_WITH_TIMEOUT(failureBoxes().size(), 1, Timeout);
    QMessageBox* box = failureBoxes().first();
    QVERIFY(box->text().contains(QStringLiteral("Failed to start the session.")));
    QVERIFY(box->text().contains(QStringLiteral("no-such-program-here")));
    QVERIFY(box->detailedText().contains(QStringLiteral("not found")));
    QVERIFY(storedSessions(*m_sci).isEmpty());
    closeFailureBoxes();

    // A refusal without a log shows at once, without detailed text.
    window.handleStartReply(QString(), QJsonValue(),
                            QJsonObject{{QStringLiteral("message"), QStringLiteral("No room.")},
                                        {QStringLiteral("log"), QStringLiteral("x")}},
                            QString(), QString());
    QCOMPARE(failureBoxes().size(), 1);
    QVERIFY(failureBoxes().first()->text().contains(QStringLiteral("No room.")));
    QVERIFY(failureBoxes().first()->detailedText().isEmpty());
    closeFailureBoxes();

    // A refused log fetch still reports the start failure.
    window.handleStartReply(QString(), QJsonValue(),
                            QJsonObject{{QStringLiteral("message"), QStringLiteral("Gone.")},
                                        {QStringLiteral("id"), QStringLiteral("../etc")},
                                        {QStringLiteral("log"), QStringLiteral("passwd")}},
                            QString(), QString());
    QTRY_COMPARE_WITH_TIMEOUT(failureBoxes().size(), 1, Timeout);
    QVERIFY(failureBoxes().first()->text().contains(QStringLiteral("Gone.")));
    QVERIFY(failureBoxes().first()->detailedText().isEmpty());
}

void SessionWindowTest::connectRefusedAndButtonRules()
{
    SessionListWidget window(m_sci->handler(), nullptr);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.callConnect(newSessionId(), QStringLiteral("gone"));
    QTRY_COMPARE_WITH_TIMEOUT(failureBoxes().size(), 1, Timeout);
    QVERIFY(failureBoxes().first()->text().contains(QStringLiteral("Failed to connect to the session.")));
    closeFailureBoxes();
    window.callDisconnect(newSessionId());
    QTRY_COMPARE_WITH_TIMEOUT(failureBoxes().size(), 1, Timeout);
    QVERIFY(failureBoxes().first()->text().contains(QStringLiteral("Failed to disconnect the session.")));
    closeFailureBoxes();

    // A session with a client: Connect disabled, Disconnect enabled, activation does nothing.
    QJsonObject busy{{QStringLiteral("id"), QStringLiteral("busy")},
                     {QStringLiteral("command"), QStringLiteral("xterm")},
                     {QStringLiteral("clients"), 1}};
    window.model()->updateSessions({Session(busy)});
    QVERIFY(!button(&window, "ConnectSessionButton")->isVisible());
    QVERIFY(selectSession(window, QStringLiteral("xterm")));
    QVERIFY(button(&window, "ConnectSessionButton")->isVisible());
    QVERIFY(!button(&window, "ConnectSessionButton")->isEnabled());
    QVERIFY(button(&window, "DisconnectSessionButton")->isEnabled());
    const int pending = m_sci->handler()->pendingCount();
    window.on_SessionListView_activated(window.view()->currentIndex());
    window.on_ConnectSessionButton_clicked();
    QCOMPARE(m_sci->handler()->pendingCount(), pending);

    // Without a selection the row actions do nothing and the buttons hide.
    window.view()->clearSelection();
    QVERIFY(!button(&window, "TerminateSessionButton")->isVisible());
    window.on_DisconnectSessionButton_clicked();
    window.on_TerminateSessionButton_clicked();
    window.on_EditSessionButton_clicked();
    QCOMPARE(m_sci->handler()->pendingCount(), pending);
    QVERIFY(!window.findChild<QuestionDialog*>());
}

void SessionWindowTest::headerButtonColumnsDoNotSort()
{
    SessionListWidget window(m_sci->handler(), nullptr);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QHeaderView* header = window.view()->horizontalHeader();
    QCOMPARE(header->sortIndicatorSection(), int(SessionModel::StartedColumn));
    for (int section : {int(SessionModel::ConnectColumn), int(SessionModel::TerminateColumn)}) {
        const QPoint centre(header->sectionViewportPosition(section) + header->sectionSize(section) / 2,
                            header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, centre);
        QCOMPARE(header->sortIndicatorSection(), int(SessionModel::StartedColumn));
    }
    const QPoint name(header->sectionViewportPosition(0) + 5, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, name);
    QCOMPARE(header->sortIndicatorSection(), int(SessionModel::NameColumn));
}

void SessionWindowTest::bookmarkDialogPromoteAndDelete()
{
    QJsonValue result;
    QVERIFY(m_sci->call(QStringLiteral("Zentu.start"),
                        QJsonObject{{QStringLiteral("id"), newSessionId()},
                                    {QStringLiteral("command"), QStringLiteral("xterm -ls")},
                                    {QStringLiteral("geometry"), QStringLiteral("rootless")},
                                    {QStringLiteral("name"), QStringLiteral("Shell")}},
                        &result));
    QVERIFY(result.isObject());

    SessionListWidget window(m_sci->handler(), nullptr);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::mouseClick(button(&window, "BookmarkButton"), Qt::LeftButton);
    QPointer<BookmarkDialog> dialog = window.findChild<BookmarkDialog*>();
    QVERIFY(dialog);
    QTRY_VERIFY(dialog->isVisible());
    QAbstractItemModelTester bookmarkTester(dialog->bookmarkModel());
    QAbstractItemModelTester historyTester(dialog->historyModel());
    auto* stack = dialog->findChild<QStackedWidget*>(QStringLiteral("stackedWidget"));
    QCOMPARE(stack->currentIndex(), 1);
    auto* historyView = dialog->findChild<QTableView*>(QStringLiteral("HistoryListView"));
    QTRY_COMPARE_WITH_TIMEOUT(historyView->model()->rowCount(), 1, Timeout);
    QVERIFY(!button(dialog, "PromoteHistoryButton")->isVisible());

    historyView->selectRow(0);
    QTRY_VERIFY(button(dialog, "PromoteHistoryButton")->isVisible());
    QTest::mouseClick(button(dialog, "PromoteHistoryButton"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(dialog->bookmarkModel()->rowCount(), 1, Timeout);
    const QJsonArray stored = m_sci->storedState().value(QStringLiteral("bookmarks")).toArray();
    QCOMPARE(stored.size(), 1);
    QCOMPARE(stored.at(0).toObject().value(QStringLiteral("name")).toString(), QStringLiteral("Shell"));
    QCOMPARE(stored.at(0).toObject().value(QStringLiteral("geometry")).toString(),
             QStringLiteral("rootless"));

    QTest::mouseClick(button(dialog, "BookmarkButton"), Qt::LeftButton);
    QCOMPARE(stack->currentIndex(), 0);
    auto* bookmarkView = dialog->findChild<QTableView*>(QStringLiteral("BookmarkListView"));
    QHeaderView* header = bookmarkView->horizontalHeader();
    const int sorted = header->sortIndicatorSection();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(header->sectionViewportPosition(3) + 3, header->height() / 2));
    QCOMPARE(header->sortIndicatorSection(), sorted);

    bookmarkView->selectRow(0);
    QTRY_VERIFY(button(dialog, "DeleteBookmarkButton")->isVisible());
    QTest::mouseClick(button(dialog, "DeleteBookmarkButton"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(dialog->bookmarkModel()->rowCount(), 0, Timeout);
    QVERIFY(m_sci->storedState().value(QStringLiteral("bookmarks")).toArray().isEmpty());
    QVERIFY(!button(dialog, "DeleteBookmarkButton")->isVisible());
    // Switching pages left the history polling.
    QVERIFY(dialog->historyModel()->isUpdating());

    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Close)->click();
    QTRY_VERIFY(!dialog);
}

QTEST_MAIN(SessionWindowTest)
#include "tst_sessionwindow.moc"
