// Opening a saved connection through real ssh to the command-interface
// stand-in, and working with its session window as a user would.
#include "BookmarkDialog.h"
#include "BookmarkModel.h"
#include "Connection.h"
#include "ConnectionListWidget.h"
#include "JsonRpcHandler.h"
#include "LogDialog.h"
#include "OperationStatusDialog.h"
#include "QuestionDialog.h"
#include "SciProcess.h"
#include "SessionListWidget.h"
#include "SessionModel.h"
#include "SshDevice.h"
#include "SshServer.h"
#include "StartSessionDialog.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QStackedWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QtGlobal>
#include <QScopeGuard>

#include <algorithm>
#include <csignal>

namespace {

const int Timeout = 30000;

QList<SessionListWidget*> sessionWindows()
{
    QList<SessionListWidget*> windows;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<SessionListWidget*>(widget))
            windows.append(window);
    }
    return windows;
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

bool processGone(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    // A reaped child disappears; a zombie has ended too.
    const QByteArray text = stat.readAll();
    return text.mid(text.lastIndexOf(')') + 2, 1) == "Z";
}

// True once the displays of the test have gone; their failure boxes may stay.
bool onlyFailureBoxesVisible()
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    return std::all_of(windows.cbegin(), windows.cend(), [](QWidget* widget) {
        return !widget->isVisible() || qobject_cast<QMessageBox*>(widget);
    });
}

QPushButton* button(QWidget* parent, const char* name)
{
    return parent->findChild<QPushButton*>(QLatin1String(name));
}

bool selectSession(SessionListWidget* window, const QString& command)
{
    const SessionModel* model = window->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        if (model->session(row).command() == command) {
            const QModelIndex index = window->proxy()->mapFromSource(model->index(row, 0));
            window->view()->selectionModel()->select(
                index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            window->view()->setCurrentIndex(index);
            return true;
        }
    }
    return false;
}

Session findSession(SessionListWidget* window, const QString& command)
{
    for (int row = 0; row < window->model()->rowCount(); ++row) {
        if (window->model()->session(row).command() == command)
            return window->model()->session(row);
    }
    return Session::null;
}

} // namespace

class SessionLoginTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void loginListAndClose();
    void startFromDialogAndRename();
    void disconnectAndTerminate();
    void bookmarksAndRefusedStart();
    void twoConnectionsStayApart();
    void abortClosesTheWindow();

private:
    bool startServer(const SshServer::Options& options, QString* error);
    Connection addConnectionFile(const QString& name, const QString& user);
    SessionListWidget* openFromMainWindow(ConnectionListWidget& main, int row);
    SessionListWidget* waitForLogin(ConnectionListWidget& main, int row);
    static qint64 sshProcessId(SessionListWidget* window);
    static SshDevice* device(SessionListWidget* window);

    QTemporaryDir m_home;
    QString m_userDirectory;
    QString m_globalDirectory;
    QString m_serverData;
    std::unique_ptr<SshServer> m_server;
    std::unique_ptr<SciProcess> m_sci;
};

void SessionLoginTest::initTestCase()
{
    QVERIFY(m_home.isValid());
    // HOME itself follows the ssh fixture's client directory.
    pointHomeAt(m_home.path());
}

void SessionLoginTest::init()
{
    static int round = 0;
    ++round;
    m_userDirectory = m_home.filePath(QStringLiteral("connections-%1").arg(round));
    m_globalDirectory = m_home.filePath(QStringLiteral("global-%1").arg(round));
    m_serverData = m_home.filePath(QStringLiteral("server-%1").arg(round));
    QVERIFY(QDir().mkpath(m_userDirectory));
    QVERIFY(QDir().mkpath(m_globalDirectory));
    QVERIFY(QDir().mkpath(m_serverData));
}

void SessionLoginTest::cleanup()
{
    // Ending the sessions ends their displays, which hold ssh's forward open.
    terminateSessions(m_serverData);
    for (SessionListWidget* window : sessionWindows())
        window->close();
    QTRY_VERIFY_WITH_TIMEOUT(sessionWindows().isEmpty(), Timeout);
    QTRY_VERIFY_WITH_TIMEOUT(onlyFailureBoxesVisible(), Timeout);
    for (QMessageBox* box : failureBoxes())
        box->close();
    m_sci.reset();
    m_server.reset();
}

bool SessionLoginTest::startServer(const SshServer::Options& options, QString* error)
{
    SshServer::Options serverOptions = options;
    // The stand-in keeps its files in this test's folder, not in the real home.
    serverOptions.extraServerConfig.append(
        QStringLiteral("SetEnv PATH=%1:/usr/local/bin:/usr/bin:/bin XDG_DATA_HOME=%2")
            .arg(SshServer::binDir(), m_serverData));
    m_server = std::make_unique<SshServer>(serverOptions);
    if (!m_server->start(error))
        return false;
    m_server->exportClientEnvironment();
    return true;
}

Connection SessionLoginTest::addConnectionFile(const QString& name, const QString& user)
{
    Connection connection;
    connection.setUid(QUuid::createUuid());
    connection.setName(name);
    connection.setHost(m_server->host());
    connection.setPort(m_server->port());
    connection.setUser(user);
    QString error;
    const QString path = QDir(m_userDirectory).filePath(Connection::fileName(connection.uid()));
    if (!writeConnectionFile(path, connection, &error))
        qWarning("%s", qPrintable(error));
    return connection;
}

SessionListWidget* SessionLoginTest::openFromMainWindow(ConnectionListWidget& main, int row)
{
    auto* view = main.findChild<QTableView*>(QStringLiteral("ConnectionListView"));
    if (!view || view->model()->rowCount() <= row)
        return nullptr;
    const QList<SessionListWidget*> before = sessionWindows();
    view->setCurrentIndex(view->model()->index(row, 0));
    QTest::keyClick(view, Qt::Key_Return);
    for (SessionListWidget* window : sessionWindows()) {
        if (!before.contains(window))
            return window;
    }
    return nullptr;
}

SessionListWidget* SessionLoginTest::waitForLogin(ConnectionListWidget& main, int row)
{
    QPointer<SessionListWidget> window = openFromMainWindow(main, row);
    if (!window)
        return nullptr;
    QPointer<OperationStatusDialog> status = window->findChild<OperationStatusDialog*>();
    // The status dialog goes once the server answered the version request.
    if (!QTest::qWaitFor([&]() { return !window || !status; }, Timeout) || !window)
        return nullptr;
    return window;
}

SshDevice* SessionLoginTest::device(SessionListWidget* window)
{
    return window->handler() ? qobject_cast<SshDevice*>(window->handler()->device()) : nullptr;
}

qint64 SessionLoginTest::sshProcessId(SessionListWidget* window)
{
    SshDevice* sshDevice = device(window);
    const auto* process = sshDevice ? sshDevice->findChild<QProcess*>() : nullptr;
    return process ? process->processId() : 0;
}

void SessionLoginTest::loginListAndClose()
{
    QString error;
    QVERIFY2(startServer(SshServer::Options(), &error), qPrintable(error));
    // A session that exists before the login shows up in the list.
    m_sci = std::make_unique<SciProcess>(m_serverData);
    QVERIFY2(m_sci->start(&error), qPrintable(error));
    QJsonValue result;
    QVERIFY(m_sci->call(QStringLiteral("Zentu.start"),
                        QJsonObject{{QStringLiteral("id"), newSessionId()},
                                    {QStringLiteral("command"), QStringLiteral("xterm -ls")},
                                    {QStringLiteral("geometry"), QStringLiteral("rootless")}},
                        &result));
    QVERIFY(result.isObject());

    const Connection connection = addConnectionFile(QStringLiteral("Lab"), m_server->user());
    ConnectionListWidget main(m_userDirectory, m_globalDirectory);
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    QPointer<SessionListWidget> window = waitForLogin(main, 0);
    QVERIFY(window);
    QCOMPARE(window->objectName(),
             QStringLiteral("%1-SessionListWidget").arg(connection.uid().toString()));
    QCOMPARE(window->windowTitle(), QStringLiteral("Lab (%1)").arg(m_server->host()));
    QTRY_VERIFY_WITH_TIMEOUT(findSession(window, QStringLiteral("xterm -ls")).isValid(), Timeout);
    // A second activation raises the open window instead of logging in again.
    QVERIFY(!openFromMainWindow(main, 0));
    QCOMPARE(sessionWindows().size(), 1);

    // The connection log holds ssh's diagnostics, one per line.
    QTest::mouseClick(button(window, "LogButton"), Qt::LeftButton);
    auto* log = window->findChild<LogDialog*>();
    QVERIFY(log);
    QCOMPARE(log->windowTitle(), QStringLiteral("Connection Log"));
    const QString logText = log->findChild<QTextBrowser*>()->toPlainText();
    QVERIFY(logText.contains(QStringLiteral("debug1: Entering interactive session")));
    QVERIFY(logText.count(QLatin1Char('\n')) > 5);
    log->close();

    // Closing the window ends ssh and forgets the window; the next activation logs in anew.
    const qint64 pid = sshProcessId(window);
    QVERIFY(pid > 0);
    window->close();
    QTRY_VERIFY_WITH_TIMEOUT(!window, Timeout);
    QTRY_VERIFY_WITH_TIMEOUT(processGone(pid), Timeout);
    QVERIFY(failureBoxes().isEmpty());
    QPointer<SessionListWidget> again = waitForLogin(main, 0);
    QVERIFY(again);
    QVERIFY(sshProcessId(again) != pid);
}

void SessionLoginTest::startFromDialogAndRename()
{
    QString error;
    QVERIFY2(startServer(SshServer::Options(), &error), qPrintable(error));
    m_sci = std::make_unique<SciProcess>(m_serverData);
    QVERIFY2(m_sci->start(&error), qPrintable(error));
    addConnectionFile(QStringLiteral("Lab"), m_server->user());
    ConnectionListWidget main(m_userDirectory, m_globalDirectory);
    QPointer<SessionListWidget> window = waitForLogin(main, 0);
    QVERIFY(window);

    // Start from the dialog with neither size nor name.
    QTest::mouseClick(button(window, "NewSessionButton"), Qt::LeftButton);
    auto* dialog = window->findChild<StartSessionDialog*>();
    QVERIFY(dialog);
    QTRY_VERIFY_WITH_TIMEOUT(dialog->suggestionsButton(), Timeout);
    QTest::keyClicks(dialog->findChild<QLineEdit*>(QStringLiteral("CommandLineEdit")),
                     QStringLiteral("xterm"));
    QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok),
                      Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(findSession(window, QStringLiteral("xterm")).isValid(), Timeout);
    QJsonObject stored;
    for (const QJsonValue& session : m_sci->storedState().value(QStringLiteral("sessions")).toArray()) {
        if (session.toObject().value(QStringLiteral("command")).toString() == QStringLiteral("xterm"))
            stored = session.toObject();
    }
    QCOMPARE(stored.value(QStringLiteral("geometry")).toString(), QStringLiteral("1024x768"));
    QCOMPARE(stored.value(QStringLiteral("name")).toString(), QString());

    // Rename through the Edit button; the server keeps it.
    QVERIFY(selectSession(window, QStringLiteral("xterm")));
    QTRY_VERIFY(button(window, "EditSessionButton")->isVisible());
    QTest::mouseClick(button(window, "EditSessionButton"), Qt::LeftButton);
    auto* editor = window->view()->viewport()->findChild<QLineEdit*>();
    QVERIFY(editor);
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("Night build"));
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(findSession(window, QStringLiteral("xterm")).name(),
                              QStringLiteral("Night build"), Timeout);
    window->model()->forceUpdate();
    QTRY_COMPARE_WITH_TIMEOUT(window->model()->pendingCount(), 0, Timeout);
    QCOMPARE(findSession(window, QStringLiteral("xterm")).name(), QStringLiteral("Night build"));

}

void SessionLoginTest::disconnectAndTerminate()
{
    QString error;
    QVERIFY2(startServer(SshServer::Options(), &error), qPrintable(error));
    m_sci = std::make_unique<SciProcess>(m_serverData);
    QVERIFY2(m_sci->start(&error), qPrintable(error));
    QJsonValue result;
    QVERIFY(m_sci->call(QStringLiteral("Zentu.start"),
                        QJsonObject{{QStringLiteral("id"), newSessionId()},
                                    {QStringLiteral("command"), QStringLiteral("xterm")},
                                    {QStringLiteral("geometry"), QStringLiteral("800x600")}},
                        &result));
    QVERIFY(result.isObject());
    const QJsonObject reply = result.toObject();

    addConnectionFile(QStringLiteral("Lab"), m_server->user());
    ConnectionListWidget main(m_userDirectory, m_globalDirectory);
    QPointer<SessionListWidget> window = waitForLogin(main, 0);
    QVERIFY(window);
    QTRY_VERIFY_WITH_TIMEOUT(findSession(window, QStringLiteral("xterm")).isValid(), Timeout);

    // FreeRDP's own client occupies the session.
    QProcess viewer;
    viewer.start(QStringLiteral("xfreerdp"),
                 {QStringLiteral("/v:127.0.0.1:%1").arg(reply.value(QStringLiteral("port")).toInt()),
                  QStringLiteral("/sec:rdp"), QStringLiteral("/cert:ignore"),
                  QStringLiteral("/u:tester"),
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
    QTRY_COMPARE_WITH_TIMEOUT(findSession(window, QStringLiteral("xterm")).clients(), 1, Timeout);
    QVERIFY(selectSession(window, QStringLiteral("xterm")));
    QTRY_VERIFY(button(window, "DisconnectSessionButton")->isVisible());
    QVERIFY(!button(window, "ConnectSessionButton")->isEnabled());
    QVERIFY(button(window, "DisconnectSessionButton")->isEnabled());
    QTest::mouseClick(button(window, "DisconnectSessionButton"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(findSession(window, QStringLiteral("xterm")).clients(), 0, Timeout);
    QVERIFY(findSession(window, QStringLiteral("xterm")).lastDisconnect().isValid());
    QTRY_VERIFY(button(window, "ConnectSessionButton")->isEnabled());

    // "Keep" sends nothing; "Terminate" ends the session.
    QVERIFY(selectSession(window, QStringLiteral("xterm")));
    QTest::mouseClick(button(window, "TerminateSessionButton"), Qt::LeftButton);
    QPointer<QuestionDialog> question = window->findChild<QuestionDialog*>();
    QVERIFY(question);
    question->reject();
    QTRY_VERIFY(!question);
    window->model()->forceUpdate();
    QTRY_COMPARE_WITH_TIMEOUT(window->model()->pendingCount(), 0, Timeout);
    QVERIFY(findSession(window, QStringLiteral("xterm")).isValid());
    QCOMPARE(m_sci->storedState().value(QStringLiteral("sessions")).toArray().size(), 1);

    QVERIFY(selectSession(window, QStringLiteral("xterm")));
    QTest::mouseClick(button(window, "TerminateSessionButton"), Qt::LeftButton);
    question = window->findChild<QuestionDialog*>();
    QVERIFY(question);
    question->accept();
    QTRY_VERIFY_WITH_TIMEOUT(!findSession(window, QStringLiteral("xterm")).isValid(), Timeout);
    QVERIFY(m_sci->storedState().value(QStringLiteral("sessions")).toArray().isEmpty());
    QVERIFY(failureBoxes().isEmpty());
}

void SessionLoginTest::bookmarksAndRefusedStart()
{
    QString error;
    QVERIFY2(startServer(SshServer::Options(), &error), qPrintable(error));
    addConnectionFile(QStringLiteral("Lab"), m_server->user());
    ConnectionListWidget main(m_userDirectory, m_globalDirectory);
    QPointer<SessionListWidget> window = waitForLogin(main, 0);
    QVERIFY(window);

    // A refused start fetches the start log and shows it as detailed text.
    window->callStart(QStringLiteral("no-such-program-here"), QStringLiteral("rootless"),
                      QStringLiteral("Broken"));
    QTRY_COMPARE_WITH_TIMEOUT(failureBoxes().size(), 1, Timeout);
    QVERIFY(failureBoxes().first()->text().contains(QStringLiteral("Failed to start the session.")));
    QVERIFY(failureBoxes().first()->detailedText().contains(QStringLiteral("no-such-program-here")));
    failureBoxes().first()->close();

    // A started command lands in the history; promote it, then delete the bookmark.
    window->callStart(QStringLiteral("xterm"), QString(), QStringLiteral("Term"));
    QTRY_VERIFY_WITH_TIMEOUT(findSession(window, QStringLiteral("xterm")).isValid(), Timeout);
    QTest::mouseClick(button(window, "BookmarkButton"), Qt::LeftButton);
    QPointer<BookmarkDialog> dialog = window->findChild<BookmarkDialog*>();
    QVERIFY(dialog);
    auto* historyView = dialog->findChild<QTableView*>(QStringLiteral("HistoryListView"));
    QTRY_COMPARE_WITH_TIMEOUT(historyView->model()->rowCount(), 1, Timeout);
    historyView->selectRow(0);
    QTRY_VERIFY(button(dialog, "PromoteHistoryButton")->isVisible());
    QTest::mouseClick(button(dialog, "PromoteHistoryButton"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(dialog->bookmarkModel()->rowCount(), 1, Timeout);
    QCOMPARE(dialog->bookmarkModel()->bookmark(0).name(), QStringLiteral("Term"));
    QCOMPARE(dialog->bookmarkModel()->bookmark(0).geometry(), QStringLiteral("1024x768"));

    QTest::mouseClick(button(dialog, "BookmarkButton"), Qt::LeftButton);
    auto* bookmarkView = dialog->findChild<QTableView*>(QStringLiteral("BookmarkListView"));
    bookmarkView->selectRow(0);
    QTRY_VERIFY(button(dialog, "DeleteBookmarkButton")->isVisible());
    QTest::mouseClick(button(dialog, "DeleteBookmarkButton"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(dialog->bookmarkModel()->rowCount(), 0, Timeout);
    QCOMPARE(dialog->historyModel()->rowCount(), 1);
}

void SessionLoginTest::twoConnectionsStayApart()
{
    QString error;
    QVERIFY2(startServer(SshServer::Options(), &error), qPrintable(error));
    addConnectionFile(QStringLiteral("First"), m_server->user());
    addConnectionFile(QStringLiteral("Second"), m_server->user());
    ConnectionListWidget main(m_userDirectory, m_globalDirectory);
    QPointer<SessionListWidget> first = waitForLogin(main, 0);
    QPointer<SessionListWidget> second = waitForLogin(main, 1);
    QVERIFY(first && second);
    QVERIFY(first != second);
    QVERIFY(first->windowTitle() != second->windowTitle());
    QVERIFY(first->objectName() != second->objectName());
    QVERIFY(device(first)->askpassServer() != device(second)->askpassServer());
    QVERIFY(device(first)->askpassServer().contains(QStringLiteral("askpass-")));
    QVERIFY(sshProcessId(first) != sshProcessId(second));

    // Each window starts on its own channel; the other keeps working after one closes.
    const qint64 firstPid = sshProcessId(first);
    first->close();
    QTRY_VERIFY_WITH_TIMEOUT(!first, Timeout);
    QTRY_VERIFY_WITH_TIMEOUT(processGone(firstPid), Timeout);
    QVERIFY(second);
    second->callStart(QStringLiteral("xterm"), QString(), QString());
    QTRY_VERIFY_WITH_TIMEOUT(findSession(second, QStringLiteral("xterm")).isValid(), Timeout);
}

void SessionLoginTest::abortClosesTheWindow()
{
    SshServer::Options options;
    options.knownHost = false;
    QString error;
    QVERIFY2(startServer(options, &error), qPrintable(error));
    addConnectionFile(QStringLiteral("Unknown host"), m_server->user());
    ConnectionListWidget main(m_userDirectory, m_globalDirectory);
    QPointer<SessionListWidget> window = openFromMainWindow(main, 0);
    QVERIFY(window);
    QPointer<OperationStatusDialog> status = window->findChild<OperationStatusDialog*>();
    QVERIFY(status);
    QVERIFY(status->isVisible());
    // ssh waits for the answer to its host-key question.
    auto* stack = status->findChild<QStackedWidget*>();
    QVERIFY(stack);
    QTRY_VERIFY_WITH_TIMEOUT(stack->currentIndex() != OperationStatusDialog::ProgressPage, Timeout);
    const qint64 pid = sshProcessId(window);
    QVERIFY(pid > 0);
    QPushButton* abort = nullptr;
    for (QPushButton* candidate : status->findChildren<QPushButton*>()) {
        if (candidate->text() == QStringLiteral("Abort"))
            abort = candidate;
    }
    QVERIFY(abort);
    QTest::mouseClick(abort, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!window, Timeout);
    QTRY_VERIFY_WITH_TIMEOUT(processGone(pid), Timeout);
}

QTEST_MAIN(SessionLoginTest)
#include "tst_sessionlogin.moc"
