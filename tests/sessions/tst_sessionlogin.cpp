// The session window over a real ssh login to the command-interface
// stand-in, driven as a user would from the connection list.
#include "BookmarkDialog.h"
#include "BookmarkModel.h"
#include "ConnectionListWidget.h"
#include "JsonRpcHandler.h"
#include "LogDialog.h"
#include "LoginFixture.h"
#include "OperationStatusDialog.h"
#include "QuestionDialog.h"
#include "SciProcess.h"
#include "SessionListWidget.h"
#include "SessionModel.h"
#include "SshDevice.h"
#include "StartSessionDialog.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>

#include <algorithm>
#include <csignal>

namespace {

const int Timeout = 30000;

QPushButton* buttonWithText(QWidget* parent, const QString& text)
{
    const QList<QPushButton*> buttons = parent->findChildren<QPushButton*>();
    const auto found = std::find_if(buttons.cbegin(), buttons.cend(),
                                    [&text](QPushButton* button) { return button->text() == text; });
    return found == buttons.cend() ? nullptr : *found;
}

// True once the test's windows have gone; failure boxes may stay.
bool onlyMessageBoxesVisible()
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    return std::all_of(windows.cbegin(), windows.cend(), [](QWidget* widget) {
        return !widget->isVisible() || qobject_cast<QMessageBox*>(widget);
    });
}

} // namespace

class SessionLoginTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void twoLoginsListAndClose();
    void startRenameDisconnectTerminate();
    void refusedStartAndBookmarks();
    void abortClosesTheWindow();

private:
    // Starts sshd, one stand-in session and the main window with the named connections.
    bool prepare(const QStringList& connections, QString* error,
                 const SshServer::Options& options = SshServer::Options());
    // Starts a session directly at the stand-in; its reply holds port and password.
    QJsonObject startSession(const QJsonObject& params);

    QTemporaryDir m_home;
    std::unique_ptr<QTemporaryDir> m_root;
    std::unique_ptr<LoginFixture> m_login;
    std::unique_ptr<ConnectionListWidget> m_main;
    QList<Connection> m_connections;
};

void SessionLoginTest::initTestCase()
{
    QVERIFY(m_home.isValid());
    pointHomeAt(m_home.path());
}

void SessionLoginTest::init()
{
    m_root = std::make_unique<QTemporaryDir>();
    QVERIFY(m_root->isValid());
    m_login = std::make_unique<LoginFixture>(m_root->path());
    m_connections.clear();
}

void SessionLoginTest::cleanup()
{
    // Ending the sessions ends their displays, which hold ssh's forward open.
    terminateSessions(m_login->serverData());
    for (SessionListWidget* window : sessionWindows())
        window->close();
    QTRY_VERIFY_WITH_TIMEOUT(sessionWindows().isEmpty(), Timeout);
    m_main.reset();
    QTRY_VERIFY_WITH_TIMEOUT(onlyMessageBoxesVisible(), Timeout);
    closeMessageBoxes();
    m_login.reset();
    m_root.reset();
}

bool SessionLoginTest::prepare(const QStringList& connections, QString* error, const SshServer::Options& options)
{
    if (!m_login->start(error, options))
        return false;
    for (const QString& name : connections) {
        m_connections.append(m_login->addConnection(name, error));
        if (!m_connections.last().isValid())
            return false;
    }
    m_main = std::make_unique<ConnectionListWidget>(m_login->userDirectory(), m_login->globalDirectory());
    m_main->show();
    return QTest::qWaitForWindowExposed(m_main.get());
}

QJsonObject SessionLoginTest::startSession(const QJsonObject& params)
{
    SciProcess sci(m_login->serverData());
    QString error;
    QJsonValue result;
    QJsonObject request = params;
    request.insert(QStringLiteral("id"), newSessionId());
    if (!sci.start(&error) || !sci.call(QStringLiteral("Zentu.start"), request, &result))
        return QJsonObject();
    return result.toObject();
}

void SessionLoginTest::twoLoginsListAndClose()
{
    QString error;
    QVERIFY2(prepare({QStringLiteral("First"), QStringLiteral("Second")}, &error), qPrintable(error));
    QVERIFY(!startSession({{QStringLiteral("command"), QStringLiteral("xterm -ls")},
                           {QStringLiteral("geometry"), QStringLiteral("rootless")}})
                 .isEmpty());

    QPointer<SessionListWidget> first = logIn(*m_main, 0, &error);
    QVERIFY2(first, qPrintable(error));
    QPointer<SessionListWidget> second = logIn(*m_main, 1, &error);
    QVERIFY2(second, qPrintable(error));
    // A second activation raises the open window instead of logging in again.
    QVERIFY(!openConnection(*m_main, 0));
    QCOMPARE(sessionWindows().size(), 2);

    QStringList names{first->objectName(), second->objectName()};
    QStringList titles{first->windowTitle(), second->windowTitle()};
    names.sort();
    titles.sort();
    QStringList expectedNames;
    for (const Connection& connection : qAsConst(m_connections))
        expectedNames.append(QStringLiteral("%1-SessionListWidget").arg(connection.uid().toString()));
    expectedNames.sort();
    QCOMPARE(names, expectedNames);
    QCOMPARE(titles, QStringList({QStringLiteral("First (127.0.0.1)"), QStringLiteral("Second (127.0.0.1)")}));

    // Each login has its own ssh and askpass relay, and sees the session that was there before.
    const auto askpass = [](SessionListWidget* window) {
        return qobject_cast<SshDevice*>(window->handler()->device())->askpassServer();
    };
    QVERIFY(askpass(first).contains(QStringLiteral("askpass-")));
    QVERIFY(askpass(first) != askpass(second));
    const qint64 firstPid = sshProcessId(first);
    QVERIFY(firstPid > 0 && sshProcessId(second) > 0 && firstPid != sshProcessId(second));
    for (SessionListWidget* window : {first.data(), second.data()})
        QTRY_VERIFY_WITH_TIMEOUT(findSession(window, QStringLiteral("xterm -ls")).isValid(), Timeout);

    // The connection log holds ssh's diagnostics, one per line.
    QTest::mouseClick(findButton(first, "LogButton"), Qt::LeftButton);
    auto* log = first->findChild<LogDialog*>();
    QVERIFY(log);
    QCOMPARE(log->windowTitle(), QStringLiteral("Connection Log"));
    const QString logText = log->findChild<QTextBrowser*>()->toPlainText();
    QVERIFY(logText.contains(QStringLiteral("debug1: Entering interactive session")));
    QVERIFY(logText.count(QLatin1Char('\n')) > 5);
    log->close();

    // Closing a window ends its ssh only; the other login keeps answering.
    const int row = first->windowTitle().startsWith(QLatin1String("First")) ? 0 : 1;
    first->close();
    QTRY_VERIFY_WITH_TIMEOUT(!first, Timeout);
    QTRY_VERIFY_WITH_TIMEOUT(processGone(firstPid), Timeout);
    QVERIFY2(messageBoxes().isEmpty(), qPrintable(messageBoxTexts()));
    QSignalSpy updated(second->model(), &SessionModel::sessionsUpdated);
    second->model()->forceUpdate();
    QVERIFY(updated.wait(Timeout));
    QVERIFY(findSession(second, QStringLiteral("xterm -ls")).isValid());

    // The next activation of the closed connection logs in anew.
    QPointer<SessionListWidget> again = logIn(*m_main, row, &error);
    QVERIFY2(again, qPrintable(error));
    QVERIFY(sshProcessId(again) > 0 && sshProcessId(again) != firstPid);
}

void SessionLoginTest::startRenameDisconnectTerminate()
{
    QString error;
    QVERIFY2(prepare({QStringLiteral("Lab")}, &error), qPrintable(error));
    const QString busy = QStringLiteral("xterm -title busy");
    const QJsonObject reply = startSession({{QStringLiteral("command"), busy},
                                            {QStringLiteral("geometry"), QStringLiteral("800x600")}});
    QVERIFY(!reply.isEmpty());
    QPointer<SessionListWidget> window = logIn(*m_main, 0, &error);
    QVERIFY2(window, qPrintable(error));

    // Start from the dialog with neither size nor name.
    QTest::mouseClick(findButton(window, "NewSessionButton"), Qt::LeftButton);
    auto* dialog = window->findChild<StartSessionDialog*>();
    QVERIFY(dialog);
    QTRY_VERIFY_WITH_TIMEOUT(dialog->suggestionsButton(), Timeout);
    QTest::keyClicks(dialog->findChild<QLineEdit*>(QStringLiteral("CommandLineEdit")), QStringLiteral("xterm"));
    QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(findSession(window, QStringLiteral("xterm")).isValid(), Timeout);
    const QJsonObject stored = m_login->storedSession(QStringLiteral("xterm"));
    QCOMPARE(stored.value(QStringLiteral("geometry")).toString(), QStringLiteral("1024x768"));
    QCOMPARE(stored.value(QStringLiteral("name")).toString(), QString());

    // Rename through the Edit button; the server keeps the name.
    QVERIFY(selectSession(window, QStringLiteral("xterm")));
    QTRY_VERIFY(findButton(window, "EditSessionButton")->isVisible());
    QTest::mouseClick(findButton(window, "EditSessionButton"), Qt::LeftButton);
    auto* editor = window->view()->viewport()->findChild<QLineEdit*>();
    QVERIFY(editor);
    QCOMPARE(editor->text(), QStringLiteral("xterm"));
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("Work shell"));
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(m_login->storedSession(QStringLiteral("xterm")).value(QStringLiteral("name")).toString(),
                              QStringLiteral("Work shell"), Timeout);
    window->model()->forceUpdate();
    QTRY_COMPARE_WITH_TIMEOUT(window->model()->pendingCount(), 0, Timeout);
    QCOMPARE(findSession(window, QStringLiteral("xterm")).name(), QStringLiteral("Work shell"));

    // FreeRDP's own client occupies the other session; Disconnect lets it go.
    QProcess viewer;
    viewer.start(QStringLiteral("xfreerdp"),
                 {QStringLiteral("/v:127.0.0.1:%1").arg(reply.value(QStringLiteral("port")).toInt()),
                  QStringLiteral("/sec:rdp"), QStringLiteral("/cert:ignore"), QStringLiteral("/u:tester"),
                  QStringLiteral("/p:%1").arg(reply.value(QStringLiteral("password")).toString()),
                  QStringLiteral("/rfx"), QStringLiteral("/bpp:32"), QStringLiteral("/gdi:sw"),
                  QStringLiteral("/log-level:ERROR")});
    QVERIFY(viewer.waitForStarted(10000));
    auto stopViewer = qScopeGuard([&viewer]() {
        if (viewer.state() != QProcess::NotRunning) {
            ::kill(pid_t(viewer.processId()), SIGKILL);
            viewer.waitForFinished(10000);
        }
    });
    QTRY_COMPARE_WITH_TIMEOUT(findSession(window, busy).clients(), 1, Timeout);
    QVERIFY(selectSession(window, busy));
    QTRY_VERIFY(findButton(window, "DisconnectSessionButton")->isVisible());
    QVERIFY(!findButton(window, "ConnectSessionButton")->isEnabled());
    QVERIFY(findButton(window, "DisconnectSessionButton")->isEnabled());
    QTest::mouseClick(findButton(window, "DisconnectSessionButton"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(findSession(window, busy).clients(), 0, Timeout);
    QVERIFY(findSession(window, busy).lastDisconnect().isValid());
    QTRY_VERIFY(findButton(window, "ConnectSessionButton")->isEnabled());

    // "Keep" sends nothing; "Terminate" ends the session.
    QVERIFY(selectSession(window, busy));
    QTest::mouseClick(findButton(window, "TerminateSessionButton"), Qt::LeftButton);
    QPointer<QuestionDialog> question = window->findChild<QuestionDialog*>();
    QVERIFY(question && question->isVisible());
    QCOMPARE(question->windowModality(), Qt::WindowModal);
    QVERIFY(question->findChild<QLabel*>()->text().contains(busy));
    QTest::mouseClick(buttonWithText(question, QStringLiteral("Keep")), Qt::LeftButton);
    QTRY_VERIFY(!question);
    window->model()->forceUpdate();
    QTRY_COMPARE_WITH_TIMEOUT(window->model()->pendingCount(), 0, Timeout);
    QVERIFY(findSession(window, busy).isValid());
    QCOMPARE(m_login->storedSessions().size(), 2);

    QVERIFY(selectSession(window, busy));
    QTest::mouseClick(findButton(window, "TerminateSessionButton"), Qt::LeftButton);
    question = window->findChild<QuestionDialog*>();
    QVERIFY(question);
    question->accept();
    QTRY_VERIFY_WITH_TIMEOUT(!findSession(window, busy).isValid(), Timeout);
    QVERIFY(m_login->storedSession(busy).isEmpty());
    QVERIFY2(messageBoxes().isEmpty(), qPrintable(messageBoxTexts()));
}

void SessionLoginTest::refusedStartAndBookmarks()
{
    QString error;
    QVERIFY2(prepare({QStringLiteral("Lab")}, &error), qPrintable(error));
    QPointer<SessionListWidget> window = logIn(*m_main, 0, &error);
    QVERIFY2(window, qPrintable(error));

    // A refused start fetches the start log and shows it as detailed text.
    window->callStart(QStringLiteral("no-such-program-here --now"), QStringLiteral("rootless"),
                      QStringLiteral("Broken"));
    QTRY_COMPARE_WITH_TIMEOUT(messageBoxes().size(), 1, Timeout);
    QMessageBox* box = messageBoxes().first();
    QVERIFY(box->text().contains(QStringLiteral("Failed to start the session.")));
    QVERIFY(box->text().contains(QStringLiteral("no-such-program-here")));
    QVERIFY(box->detailedText().contains(QStringLiteral("not found")));
    QVERIFY(m_login->storedSessions().isEmpty());
    box->close();

    // A started command lands in the history; promote it, then delete the bookmark.
    window->callStart(QStringLiteral("xterm"), QString(), QStringLiteral("Term"));
    QTRY_VERIFY_WITH_TIMEOUT(findSession(window, QStringLiteral("xterm")).isValid(), Timeout);
    QTest::mouseClick(findButton(window, "BookmarkButton"), Qt::LeftButton);
    QPointer<BookmarkDialog> dialog = window->findChild<BookmarkDialog*>();
    QVERIFY(dialog);
    QTRY_VERIFY(dialog->isVisible());
    QAbstractItemModelTester bookmarkTester(dialog->bookmarkModel());
    QAbstractItemModelTester historyTester(dialog->historyModel());
    auto* stack = dialog->findChild<QStackedWidget*>(QStringLiteral("stackedWidget"));
    QCOMPARE(stack->currentIndex(), 1);
    auto* historyView = dialog->findChild<QTableView*>(QStringLiteral("HistoryListView"));
    QTRY_COMPARE_WITH_TIMEOUT(historyView->model()->rowCount(), 1, Timeout);
    QVERIFY(!findButton(dialog, "PromoteHistoryButton")->isVisible());
    historyView->selectRow(0);
    QTRY_VERIFY(findButton(dialog, "PromoteHistoryButton")->isVisible());
    QTest::mouseClick(findButton(dialog, "PromoteHistoryButton"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(dialog->bookmarkModel()->rowCount(), 1, Timeout);
    QCOMPARE(dialog->bookmarkModel()->bookmark(0).name(), QStringLiteral("Term"));
    QCOMPARE(dialog->bookmarkModel()->bookmark(0).geometry(), QStringLiteral("1024x768"));

    QTest::mouseClick(findButton(dialog, "BookmarkButton"), Qt::LeftButton);
    QCOMPARE(stack->currentIndex(), 0);
    auto* bookmarkView = dialog->findChild<QTableView*>(QStringLiteral("BookmarkListView"));
    // The last column holds buttons: a click on its header does not sort.
    QHeaderView* header = bookmarkView->horizontalHeader();
    const int sorted = header->sortIndicatorSection();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(header->sectionViewportPosition(3) + 3, header->height() / 2));
    QCOMPARE(header->sortIndicatorSection(), sorted);
    bookmarkView->selectRow(0);
    QTRY_VERIFY(findButton(dialog, "DeleteBookmarkButton")->isVisible());
    QTest::mouseClick(findButton(dialog, "DeleteBookmarkButton"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(dialog->bookmarkModel()->rowCount(), 0, Timeout);
    QVERIFY(!findButton(dialog, "DeleteBookmarkButton")->isVisible());
    QCOMPARE(dialog->historyModel()->rowCount(), 1);
    // Switching pages left the history polling.
    QVERIFY(dialog->historyModel()->isUpdating());
    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Close)->click();
    QTRY_VERIFY(!dialog);
}

void SessionLoginTest::abortClosesTheWindow()
{
    SshServer::Options options;
    options.knownHost = false;
    QString error;
    QVERIFY2(prepare({QStringLiteral("Unknown host")}, &error, options), qPrintable(error));
    QPointer<SessionListWidget> window = openConnection(*m_main, 0);
    QVERIFY(window);
    QPointer<OperationStatusDialog> status = window->findChild<OperationStatusDialog*>();
    QVERIFY(status && status->isVisible());
    // ssh waits for the answer to its host-key question.
    auto* stack = status->findChild<QStackedWidget*>();
    QTRY_VERIFY_WITH_TIMEOUT(stack->currentIndex() != OperationStatusDialog::ProgressPage, Timeout);
    const qint64 pid = sshProcessId(window);
    QVERIFY(pid > 0);
    QPushButton* abort = buttonWithText(status, QStringLiteral("Abort"));
    QVERIFY(abort);
    QTest::mouseClick(abort, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!window, Timeout);
    QTRY_VERIFY_WITH_TIMEOUT(processGone(pid), Timeout);
}

QTEST_MAIN(SessionLoginTest)
#include "tst_sessionlogin.moc"
