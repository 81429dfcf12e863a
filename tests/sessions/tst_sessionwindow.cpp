// The session window's rules and the start dialog against a local
// command-interface stand-in; the user's paths over ssh are in tst_sessionlogin.
#include "JsonRpcHandler.h"
#include "LoginFixture.h"
#include "QuestionDialog.h"
#include "SciProcess.h"
#include "SessionListWidget.h"
#include "SessionModel.h"
#include "StartSessionDialog.h"
#include "WindowModeWidget.h"

#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QJsonArray>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

namespace {

const int Timeout = 20000;

// Xvfb runs without a window manager: activate the window by hand.
void showActive(QWidget* widget)
{
    widget->show();
    QVERIFY(QTest::qWaitForWindowExposed(widget));
    QApplication::setActiveWindow(widget);
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
    void startRequest_data();
    void startRequest();
    void refusedStartWithoutItsLog();
    void connectRefusedAndButtonRules();
    void headerButtonColumnsDoNotSort();

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
    closeMessageBoxes();
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
    dialog.handleBookmarkReply(QString(), jsonObject(R"({"suggestions": [], "bookmarks": [], "history": []})"),
                               QJsonValue());
    QVERIFY(!dialog.suggestionsButton());

    const QJsonObject reply = jsonObject(R"({
        "suggestions": [{"id": "s1", "command": "xterm -ls", "geometry": "rootless"}],
        "history": [{"id": "h1", "name": "Editor", "command": "xterm -e vi", "geometry": "800x600"},
                    {"name": "no id"}]})");
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

void SessionWindowTest::startRequest_data()
{
    QTest::addColumn<QString>("geometry");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QJsonObject>("sent");
    QTest::newRow("empty geometry, no name")
        << QString() << QString() << jsonObject(R"({"command": "xterm", "geometry": "1024x768"})");
    QTest::newRow("single application, named") << QStringLiteral("rootless") << QStringLiteral("Shell")
                                               << jsonObject(R"({"command": "xterm", "geometry": "rootless", "name": "Shell"})");
}

void SessionWindowTest::startRequest()
{
    QFETCH(QString, geometry);
    QFETCH(QString, name);
    QFETCH(QJsonObject, sent);
    QBuffer buffer;
    QVERIFY(buffer.open(QIODevice::ReadWrite));
    JsonRpcHandler handler(&buffer);
    SessionListWidget window(&handler, nullptr);
    window.callStart(QStringLiteral("xterm"), geometry, name);
    const QList<QJsonObject> written = requests(buffer);
    QCOMPARE(written.size(), 1);
    QCOMPARE(written.at(0).value(QStringLiteral("method")).toString(), QStringLiteral("Zentu.start"));
    QJsonObject params = written.at(0).value(QStringLiteral("params")).toObject();
    QCOMPARE(params.take(QStringLiteral("id")).toString().size(), 32);
    QCOMPARE(params, sent);
}

void SessionWindowTest::refusedStartWithoutItsLog()
{
    SessionListWidget window(m_sci->handler(), nullptr);
    // A refusal without a log shows at once, without detailed text.
    window.handleStartReply(QString(), QJsonValue(), jsonObject(R"({"message": "No room.", "log": "x"})"),
                            QString(), QString());
    QCOMPARE(messageBoxes().size(), 1);
    QVERIFY(messageBoxes().first()->text().contains(QStringLiteral("No room.")));
    QVERIFY(messageBoxes().first()->detailedText().isEmpty());
    closeMessageBoxes();

    // A refused log fetch still reports the start failure.
    window.handleStartReply(QString(), QJsonValue(),
                            jsonObject(R"({"message": "Gone.", "id": "../etc", "log": "passwd"})"), QString(),
                            QString());
    QTRY_COMPARE_WITH_TIMEOUT(messageBoxes().size(), 1, Timeout);
    QVERIFY(messageBoxes().first()->text().contains(QStringLiteral("Gone.")));
    QVERIFY(messageBoxes().first()->detailedText().isEmpty());
}

void SessionWindowTest::connectRefusedAndButtonRules()
{
    SessionListWidget window(m_sci->handler(), nullptr);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.callConnect(newSessionId(), QStringLiteral("gone"));
    QTRY_COMPARE_WITH_TIMEOUT(messageBoxes().size(), 1, Timeout);
    QVERIFY(messageBoxes().first()->text().contains(QStringLiteral("Failed to connect to the session.")));
    closeMessageBoxes();
    window.callDisconnect(newSessionId());
    QTRY_COMPARE_WITH_TIMEOUT(messageBoxes().size(), 1, Timeout);
    QVERIFY(messageBoxes().first()->text().contains(QStringLiteral("Failed to disconnect the session.")));
    closeMessageBoxes();

    // A session with a client: Connect disabled, Disconnect enabled, activation does nothing.
    window.model()->updateSessions({Session(jsonObject(R"({"id": "busy", "command": "xterm", "clients": 1})"))});
    QVERIFY(!findButton(&window, "ConnectSessionButton")->isVisible());
    QVERIFY(selectSession(&window, QStringLiteral("xterm")));
    QVERIFY(findButton(&window, "ConnectSessionButton")->isVisible());
    QVERIFY(!findButton(&window, "ConnectSessionButton")->isEnabled());
    QVERIFY(findButton(&window, "DisconnectSessionButton")->isEnabled());
    const int pending = m_sci->handler()->pendingCount();
    window.on_SessionListView_activated(window.view()->currentIndex());
    window.on_ConnectSessionButton_clicked();
    QCOMPARE(m_sci->handler()->pendingCount(), pending);

    // Without a selection the row actions do nothing and the buttons hide.
    window.view()->clearSelection();
    QVERIFY(!findButton(&window, "TerminateSessionButton")->isVisible());
    window.on_DisconnectSessionButton_clicked();
    window.on_TerminateSessionButton_clicked();
    window.on_EditSessionButton_clicked();
    QCOMPARE(m_sci->handler()->pendingCount(), pending);
    QVERIFY(!window.findChild<QuestionDialog*>());

    // A double-click where the Edit button comes up after its first click
    // connects; the button takes clicks once the double-click is over.
    window.model()->updateSessions({Session(jsonObject(R"({"id": "free", "command": "xterm", "clients": 0})"))});
    QVERIFY(selectSession(&window, QStringLiteral("xterm")));
    QPushButton* edit = findButton(&window, "EditSessionButton");
    QVERIFY(edit->isVisible());
    const auto editing = [&window]() {
        const auto* editor = window.view()->viewport()->findChild<QLineEdit*>();
        return editor && editor->isVisible();
    };
    const QPoint onEdit = edit->mapTo(&window, edit->rect().center());
    window.view()->clearSelection();
    QVERIFY(!edit->isVisible());
    QTest::mouseDClick(window.windowHandle(), Qt::LeftButton, Qt::NoModifier, onEdit);
    QVERIFY(edit->isVisible());
    QVERIFY(!editing());
    QTRY_COMPARE_WITH_TIMEOUT(messageBoxes().size(), 1, Timeout);
    QVERIFY(messageBoxes().first()->text().contains(QStringLiteral("Failed to connect to the session.")));
    QTest::qWait(2 * QApplication::doubleClickInterval());
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, Qt::NoModifier, onEdit);
    QVERIFY(editing());

    // Another window shares these icons: an icon made anew would render into
    // Qt's pixmap cache under a key of its own, adding to it with every window.
    SessionListWidget second(m_sci->handler(), nullptr);
    for (const char* name :
         {"BookmarkButton", "LogButton", "NewSessionButton", "ConnectSessionButton", "EditSessionButton"})
        QCOMPARE(findButton(&second, name)->icon().cacheKey(), findButton(&window, name)->icon().cacheKey());
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

QTEST_MAIN(SessionWindowTest)
#include "tst_sessionwindow.moc"
