// The whole client as a user drives it: the main window logs in through the
// real ssh and askpass to the command-interface stand-in behind a real sshd,
// starts and connects sessions (Xvnc, the RDP display server and the user's
// command, reached through ssh's SOCKS forward) and works with their desktop
// windows. Every process a test causes is ended and checked for.
#include "CloseHelper.h"
#include "Connection.h"
#include "ConnectionListWidget.h"
#include "JsonRpcHandler.h"
#include "NottyProcess.h"
#include "OperationStatusDialog.h"
#include "RdpDesktopWidget.h"
#include "RdpMainWidget.h"
#include "RdpToolbar.h"
#include "SciProcess.h"
#include "SessionFixture.h"
#include "SessionListWidget.h"
#include "SessionModel.h"
#include "SshDevice.h"
#include "SshServer.h"
#include "StartSessionDialog.h"

#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QSettings>
#include <QSortFilterProxyModel>
#include <QStackedWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <csignal>
#include <memory>

namespace {

const int Timeout = 30000;

// Set by main before the application exists: the test's HOME, XDG_* folders.
QString TestRoot;

template <typename T>
QList<T*> visibleTopLevels()
{
    QList<T*> found;
    const QWidgetList widgets = QApplication::topLevelWidgets();
    for (QWidget* widget : widgets) {
        if (auto* typed = qobject_cast<T*>(widget); typed && typed->isVisible())
            found.append(typed);
    }
    return found;
}

QList<SessionListWidget*> sessionWindows()
{
    QList<SessionListWidget*> windows;
    const QWidgetList widgets = QApplication::topLevelWidgets();
    for (QWidget* widget : widgets) {
        if (auto* window = qobject_cast<SessionListWidget*>(widget))
            windows.append(window);
    }
    return windows;
}

QString boxTexts()
{
    QStringList texts;
    for (QMessageBox* box : visibleTopLevels<QMessageBox>())
        texts.append(box->text());
    return texts.join(QLatin1String(" | "));
}

QMessageBox* failureBox(const QString& summary)
{
    for (QMessageBox* box : visibleTopLevels<QMessageBox>()) {
        if (box->text().startsWith(summary))
            return box;
    }
    return nullptr;
}

QPushButton* button(QWidget* parent, const char* name)
{
    return parent->findChild<QPushButton*>(QLatin1String(name));
}

Session findSession(SessionListWidget* window, const QString& command)
{
    for (int row = 0; row < window->model()->rowCount(); ++row) {
        if (window->model()->session(row).command() == command)
            return window->model()->session(row);
    }
    return Session::null;
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

// The session display as its own X clients see it.
QImage captureDisplay(const QString& name)
{
    Display* display = XOpenDisplay(name.toLocal8Bit().constData());
    if (!display)
        return QImage();
    const Window root = DefaultRootWindow(display);
    XWindowAttributes attributes;
    XGetWindowAttributes(display, root, &attributes);
    XImage* image = XGetImage(display, root, 0, 0, unsigned(attributes.width), unsigned(attributes.height),
                              AllPlanes, ZPixmap);
    QImage copy;
    if (image && image->bits_per_pixel == 32) {
        copy = QImage(reinterpret_cast<const uchar*>(image->data), image->width, image->height,
                      image->bytes_per_line, QImage::Format_RGB32)
                   .copy();
    }
    if (image)
        XDestroyImage(image);
    XCloseDisplay(display);
    return copy;
}

// The desktop widget shows what the session display holds. RemoteFX is
// lossy, so 8x8 blocks are compared by their mean colour; a few blocks may
// differ for a blinking text cursor.
bool showsSessionDisplay(RdpDesktopWidget* desktop, const QString& display, QString* why)
{
    const QImage remote = captureDisplay(display);
    const QImage shown = desktop->grab().toImage().convertToFormat(QImage::Format_RGB32);
    if (remote.isNull()) {
        *why = QStringLiteral("cannot capture %1").arg(display);
        return false;
    }
    if (shown.size() != remote.size()) {
        *why = QStringLiteral("shown %1x%2, display %3x%4")
                   .arg(shown.width()).arg(shown.height()).arg(remote.width()).arg(remote.height());
        return false;
    }
    constexpr int Block = 8;
    int differing = 0;
    QPoint first(-1, -1);
    for (int top = 0; top + Block <= remote.height(); top += Block) {
        for (int left = 0; left + Block <= remote.width(); left += Block) {
            int sums[2][3] = {};
            for (int y = top; y < top + Block; ++y) {
                const auto* a = reinterpret_cast<const QRgb*>(shown.constScanLine(y));
                const auto* b = reinterpret_cast<const QRgb*>(remote.constScanLine(y));
                for (int x = left; x < left + Block; ++x) {
                    sums[0][0] += qRed(a[x]), sums[0][1] += qGreen(a[x]), sums[0][2] += qBlue(a[x]);
                    sums[1][0] += qRed(b[x]), sums[1][1] += qGreen(b[x]), sums[1][2] += qBlue(b[x]);
                }
            }
            for (int channel = 0; channel < 3; ++channel) {
                if (qAbs(sums[0][channel] - sums[1][channel]) > 16 * Block * Block) {
                    if (differing++ == 0)
                        first = QPoint(left, top);
                    break;
                }
            }
        }
    }
    if (differing > 12) {
        *why = QStringLiteral("%1 blocks differ, the first at %2,%3")
                   .arg(differing).arg(first.x()).arg(first.y());
        return false;
    }
    return true;
}

// Pixels of the display brighter than light grey: the xterm's background.
int brightPixels(const QImage& image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            count += qGray(line[x]) > 200 ? 1 : 0;
    }
    return count;
}

QString processName(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    return comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll()).trimmed() : QString();
}

// Runs a program of this machine's X tools to its end (they never wait for the client).
bool runTool(const QString& program, const QStringList& arguments, QString* error)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(Timeout)) {
        ::kill(pid_t(process.processId()), SIGKILL);
        process.waitForFinished(5000);
        *error = QStringLiteral("%1 did not finish").arg(program);
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        *error = QStringLiteral("%1 failed: %2").arg(program, QString::fromLocal8Bit(process.readAll()));
        return false;
    }
    return true;
}

// Reads the CLIPBOARD of a session display with xclip, one run at a time,
// without blocking the event loop: the owner may be this very client.
class SessionClipboardReader
{
public:
    explicit SessionClipboardReader(const QString& display) : m_display(display) {}
    ~SessionClipboardReader()
    {
        if (m_process && m_process->state() != QProcess::NotRunning) {
            ::kill(pid_t(m_process->processId()), SIGKILL);
            m_process->waitForFinished(5000);
        }
    }

    // The text of the last finished run; starts the next run when none is going.
    QString latest()
    {
        if (m_process && m_process->state() != QProcess::NotRunning)
            return m_last;
        if (m_process && m_process->exitStatus() == QProcess::NormalExit && m_process->exitCode() == 0)
            m_last = QString::fromUtf8(m_process->readAllStandardOutput());
        m_process = std::make_unique<QProcess>();
        m_process->start(QStringLiteral("xclip"), {QStringLiteral("-o"), QStringLiteral("-selection"),
                                                   QStringLiteral("clipboard"), QStringLiteral("-display"),
                                                   m_display});
        return m_last;
    }

private:
    QString m_display;
    std::unique_ptr<QProcess> m_process;
    QString m_last;
};

} // namespace

class EndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void startedSessionShowsAndRunsTypedCommand();
    void clipboardTravelsBothWays();
    void clickLandsOnRemotePixelAtEachScale();
    void failedDisplayTellsTheUser();
    void lostLoginEndsItsDisplay();
    void applicationQuitsAfterLastDisplay();

private:
    bool startServer(QString* error, const QString& keyPassphrase = QString());
    SessionListWidget* login(ConnectionListWidget& main, const QString& keyPassphrase = QString());
    RdpMainWidget* startFromDialog(SessionListWidget* window, const QString& command);
    RdpMainWidget* connectFromList(SessionListWidget* window, const QString& command);
    RdpMainWidget* waitForNewDisplay(const QList<RdpMainWidget*>& before);
    bool disconnectFromToolbar(RdpMainWidget* display);
    QJsonObject runtimeOf(const QString& sessionId) const;
    qint64 sessionProcess(const QString& sessionId, const QString& name) const;
    void track(const QString& sessionId);
    static qint64 sshProcessId(SessionListWidget* window);

    QString m_userDirectory;
    QString m_globalDirectory;
    QString m_serverData;
    QString m_serverHome;
    QString m_serverRuntime;
    QString m_serverConfig;
    std::unique_ptr<QTemporaryDir> m_scratch;
    std::unique_ptr<SshServer> m_server;
    // Every process a test's sessions and logins ran, by pid, with its name.
    QMap<qint64, QString> m_processes;
    QList<qint64> m_stoppedSupervisors;
    // Why the last display helper came back without a window.
    QString m_problem;
};

void EndToEndTest::initTestCase()
{
    QVERIFY(!TestRoot.isEmpty());
    // As at start-up: the quit rule is in force before any window exists.
    CloseHelper::instance();
}

void EndToEndTest::init()
{
    static int round = 0;
    ++round;
    const QDir root(TestRoot);
    m_userDirectory = root.filePath(QStringLiteral("connections-%1").arg(round));
    m_globalDirectory = root.filePath(QStringLiteral("global-%1").arg(round));
    m_serverData = root.filePath(QStringLiteral("server-%1/data").arg(round));
    m_serverHome = root.filePath(QStringLiteral("server-%1/home").arg(round));
    m_serverRuntime = root.filePath(QStringLiteral("server-%1/run").arg(round));
    m_serverConfig = root.filePath(QStringLiteral("server-%1/config").arg(round));
    for (const QString& path :
         {m_userDirectory, m_globalDirectory, m_serverData, m_serverHome, m_serverRuntime, m_serverConfig})
        QVERIFY(QDir().mkpath(path));
    QFile::setPermissions(m_serverRuntime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    m_scratch = std::make_unique<QTemporaryDir>(QStringLiteral("/tmp/zentu-e2e-XXXXXX"));
    QVERIFY(m_scratch->isValid());
    m_processes.clear();
    m_stoppedSupervisors.clear();
    m_problem.clear();
}

void EndToEndTest::cleanup()
{
    for (qint64 pid : qAsConst(m_stoppedSupervisors))
        ::kill(pid_t(pid), SIGCONT);
    for (RdpMainWidget* display : visibleTopLevels<RdpMainWidget>())
        display->close();
    QTRY_VERIFY_WITH_TIMEOUT(visibleTopLevels<RdpMainWidget>().isEmpty(), Timeout);
    for (SessionListWidget* window : sessionWindows())
        window->close();
    QTRY_VERIFY_WITH_TIMEOUT(sessionWindows().isEmpty(), Timeout);
    for (QMessageBox* box : visibleTopLevels<QMessageBox>())
        box->close();

    // Sessions end through the stand-in, as the Terminate button ends them.
    {
        SciProcess sci(m_serverData);
        QString error;
        QVERIFY2(sci.start(&error), qPrintable(error));
        const QJsonArray sessions = sci.storedState().value(QStringLiteral("sessions")).toArray();
        for (const QJsonValue& session : sessions) {
            QJsonValue result;
            QJsonValue failure;
            QVERIFY(sci.call(QStringLiteral("Zentu.terminate"),
                             QJsonObject{{QStringLiteral("id"), session.toObject().value(QStringLiteral("id"))}},
                             &result, &failure));
            QVERIFY2(result.isObject(), qPrintable(QJsonDocument(failure.toObject()).toJson()));
        }
    }
    QStringList left;
    const bool allEnded = QTest::qWaitFor(
        [this, &left]() {
            left.clear();
            for (auto it = m_processes.cbegin(); it != m_processes.cend(); ++it) {
                if (SessionFixture::processRunning(it.key()) && processName(it.key()) == it.value())
                    left.append(QStringLiteral("%1 (%2)").arg(it.value()).arg(it.key()));
            }
            return left.isEmpty();
        },
        Timeout);
    m_server.reset();
    m_scratch.reset();
    QVERIFY2(allEnded, qPrintable(QStringLiteral("left running: ") + left.join(QLatin1String(", "))));
}

bool EndToEndTest::startServer(QString* error, const QString& keyPassphrase)
{
    // The server side of the login lives in this test's folders too: the
    // stand-in's sessions and state, and the home of the sessions' shells.
    SshServer::Options options;
    options.clientKeyPassphrase = keyPassphrase;
    options.extraServerConfig.append(
        QStringLiteral("SetEnv PATH=%1:/usr/local/bin:/usr/bin:/bin XDG_DATA_HOME=%2 HOME=%3 "
                       "XDG_RUNTIME_DIR=%4 XDG_CONFIG_HOME=%5")
            .arg(SshServer::binDir(), m_serverData, m_serverHome, m_serverRuntime, m_serverConfig));
    m_server = std::make_unique<SshServer>(options);
    if (!m_server->start(error))
        return false;
    m_server->exportClientEnvironment();

    Connection connection;
    connection.setUid(QUuid::createUuid());
    connection.setName(QStringLiteral("Lab"));
    connection.setHost(m_server->host());
    connection.setPort(m_server->port());
    connection.setUser(m_server->user());
    return writeConnectionFile(QDir(m_userDirectory).filePath(Connection::fileName(connection.uid())), connection,
                               error);
}

SessionListWidget* EndToEndTest::login(ConnectionListWidget& main, const QString& keyPassphrase)
{
    auto* view = main.findChild<QTableView*>(QStringLiteral("ConnectionListView"));
    if (!view || view->model()->rowCount() < 1)
        return nullptr;
    view->setCurrentIndex(view->model()->index(0, 0));
    QTest::keyClick(view, Qt::Key_Return);
    const QList<SessionListWidget*> windows = sessionWindows();
    if (windows.size() != 1)
        return nullptr;
    QPointer<SessionListWidget> window = windows.first();
    QPointer<OperationStatusDialog> status = window->findChild<OperationStatusDialog*>();
    if (!status)
        return nullptr;
    if (!keyPassphrase.isEmpty()) {
        // ssh asks through askpass; the question and the answer go through the dialog.
        auto* stack = status->findChild<QStackedWidget*>(QStringLiteral("StackedWidget"));
        if (!QTest::qWaitFor([&]() { return !status || stack->currentIndex() == OperationStatusDialog::AnswerPage; },
                             Timeout)
            || !status)
            return nullptr;
        const QString question = status->findChild<QLabel*>(QStringLiteral("InstructionsLabel"))->text();
        if (!question.startsWith(QStringLiteral("Enter passphrase for key")))
            return nullptr;
        QTest::keyClicks(status->findChild<QLineEdit*>(QStringLiteral("AnswerLineEdit")), keyPassphrase);
        QTest::mouseClick(button(status, "ContinueButton"), Qt::LeftButton);
    }
    // The host key is known, so no host-key question comes: the dialog goes
    // once the server answered the version request.
    if (!QTest::qWaitFor([&]() { return !window || !status; }, Timeout) || !window)
        return nullptr;
    m_processes.insert(sshProcessId(window), QStringLiteral("ssh"));
    return window;
}

qint64 EndToEndTest::sshProcessId(SessionListWidget* window)
{
    auto* device = window->handler() ? qobject_cast<SshDevice*>(window->handler()->device()) : nullptr;
    const auto* process = device ? device->findChild<NottyProcess*>() : nullptr;
    return process ? process->processId() : 0;
}

RdpMainWidget* EndToEndTest::waitForNewDisplay(const QList<RdpMainWidget*>& before)
{
    RdpMainWidget* found = nullptr;
    const bool ended = QTest::qWaitFor(
        [&]() {
            for (RdpMainWidget* display : visibleTopLevels<RdpMainWidget>()) {
                if (!before.contains(display) && display->desktopWidget())
                    found = display;
            }
            return found != nullptr || !boxTexts().isEmpty();
        },
        Timeout);
    if (!ended || !found || !QTest::qWaitForWindowExposed(found, Timeout)) {
        m_problem = QStringLiteral("no desktop window; messages: %1").arg(boxTexts());
        return nullptr;
    }
    return found;
}

RdpMainWidget* EndToEndTest::startFromDialog(SessionListWidget* window, const QString& command)
{
    const QList<RdpMainWidget*> before = visibleTopLevels<RdpMainWidget>();
    QTest::mouseClick(button(window, "NewSessionButton"), Qt::LeftButton);
    auto* dialog = window->findChild<StartSessionDialog*>();
    if (!dialog) {
        m_problem = QStringLiteral("no start dialog");
        return nullptr;
    }
    QTest::keyClicks(dialog->findChild<QLineEdit*>(QStringLiteral("CommandLineEdit")), command);
    QTest::mouseClick(dialog->findChild<QDialogButtonBox*>(QStringLiteral("ButtonBox"))->button(QDialogButtonBox::Ok),
                      Qt::LeftButton);
    return waitForNewDisplay(before);
}

RdpMainWidget* EndToEndTest::connectFromList(SessionListWidget* window, const QString& command)
{
    const QList<RdpMainWidget*> before = visibleTopLevels<RdpMainWidget>();
    // Right after a login the first list reply may still be on its way.
    if (!QTest::qWaitFor([&]() { return selectSession(window, command); }, Timeout)) {
        m_problem = QStringLiteral("no session \"%1\" in the list").arg(command);
        return nullptr;
    }
    QPushButton* connect = button(window, "ConnectSessionButton");
    if (!QTest::qWaitFor([connect]() { return connect->isVisible() && connect->isEnabled(); }, Timeout)) {
        m_problem = QStringLiteral("Connect stays disabled; the list shows %1 clients")
                        .arg(findSession(window, command).clients());
        return nullptr;
    }
    QTest::mouseClick(connect, Qt::LeftButton);
    return waitForNewDisplay(before);
}

bool EndToEndTest::disconnectFromToolbar(RdpMainWidget* display)
{
    QPointer<RdpMainWidget> guard = display;
    RdpToolbar* toolbar = display->toolbar();
    QPushButton* disconnect = button(toolbar, "DisconnectButton");
    if (!disconnect || !disconnect->isEnabled())
        return false;
    // The pointer comes from the desktop to the window's top edge, where the
    // toolbar's strip waits, and brings the toolbar in. A toolbar that is
    // sliding ignores the pointer, so the pointer comes again while the
    // toolbar rests hidden.
    const auto shown = [&]() {
        if (!guard)
            return false;
        if (toolbar->geometry() == guard->toolbarHiddenRect()) {
            QCursor::setPos(guard->mapToGlobal(guard->rect().center()));
            QCursor::setPos(guard->mapToGlobal(QPoint(guard->toolbarHiddenRect().center().x(), 1)));
        }
        return toolbar->geometry() == guard->toolbarShownRect();
    };
    if (!QTest::qWaitFor(shown, Timeout))
        return false;
    QTest::mouseClick(disconnect, Qt::LeftButton);
    return QTest::qWaitFor([&guard]() { return !guard || !guard->isVisible(); }, Timeout);
}

QJsonObject EndToEndTest::runtimeOf(const QString& sessionId) const
{
    QFile file(m_serverData + QStringLiteral("/zentu-server/state.json"));
    if (!file.open(QIODevice::ReadOnly))
        return QJsonObject();
    const QJsonArray sessions =
        QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("sessions")).toArray();
    for (const QJsonValue& session : sessions) {
        if (session.toObject().value(QStringLiteral("id")).toString() == sessionId)
            return session.toObject().value(QStringLiteral("runtime")).toObject();
    }
    return QJsonObject();
}

qint64 EndToEndTest::sessionProcess(const QString& sessionId, const QString& name) const
{
    const qint64 supervisor = qint64(runtimeOf(sessionId).value(QStringLiteral("pid")).toDouble());
    if (supervisor <= 0)
        return 0;
    const QList<qint64> below = SessionFixture::descendantsOf(supervisor);
    for (qint64 pid : below) {
        if (processName(pid) == name)
            return pid;
    }
    return 0;
}

void EndToEndTest::track(const QString& sessionId)
{
    const qint64 supervisor = qint64(runtimeOf(sessionId).value(QStringLiteral("pid")).toDouble());
    if (supervisor <= 0)
        return;
    m_processes.insert(supervisor, processName(supervisor));
    const QList<qint64> below = SessionFixture::descendantsOf(supervisor);
    for (qint64 pid : below)
        m_processes.insert(pid, processName(pid));
}

void EndToEndTest::startedSessionShowsAndRunsTypedCommand()
{
    QString error;
    QVERIFY2(startServer(&error), qPrintable(error));
    ConnectionListWidget main(m_userDirectory, m_globalDirectory);
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    QPointer<SessionListWidget> window = login(main);
    QVERIFY(window);

    QPointer<RdpMainWidget> display = startFromDialog(window, QStringLiteral("xterm"));
    QVERIFY2(display, qPrintable(m_problem));
    QTRY_VERIFY_WITH_TIMEOUT(findSession(window, QStringLiteral("xterm")).isValid(), Timeout);
    const QString sessionId = findSession(window, QStringLiteral("xterm")).id();
    track(sessionId);
    QVERIFY(m_processes.values().contains(QStringLiteral("Xvnc")));
    QVERIFY(m_processes.values().contains(QStringLiteral("zentu2_display")));
    QVERIFY(m_processes.values().contains(QStringLiteral("xterm")));
    // The display's arrival refreshes the list: one client now.
    QTRY_COMPARE_WITH_TIMEOUT(findSession(window, QStringLiteral("xterm")).clients(), 1, Timeout);
    QCOMPARE(display->windowTitle(), QStringLiteral("xterm"));

    RdpDesktopWidget* desktop = display->desktopWidget();
    QCOMPARE(desktop->size(), QSize(1024, 768));
    const QString x = runtimeOf(sessionId).value(QStringLiteral("display")).toString();
    QVERIFY(x.startsWith(QLatin1Char(':')));
    QTRY_VERIFY_WITH_TIMEOUT(brightPixels(captureDisplay(x)) > 10000, Timeout);
    QString mismatch;
    QTRY_VERIFY2_WITH_TIMEOUT(showsSessionDisplay(desktop, x, &mismatch), qPrintable(mismatch), Timeout);

    // The user points into the xterm (the session's X focus follows the
    // pointer) and types; the keys go out as this X server's keycodes.
    display->activateWindow();
    QTRY_VERIFY_WITH_TIMEOUT(display->isActiveWindow() && desktop->hasFocus(), Timeout);
    const QPoint inside(60, 60);
    QCursor::setPos(desktop->mapToGlobal(inside));
    QTest::mouseClick(desktop, Qt::LeftButton, Qt::NoModifier, inside);
    const QString typed = m_scratch->filePath(QStringLiteral("typed-Marker"));
    // Typed through the X server (XTEST), since only real key events carry
    // the keycode that the display sends on; QTest's synthetic ones have none.
    QVERIFY2(runTool(QStringLiteral("xdotool"),
                     {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("40"),
                      QStringLiteral("touch %1").arg(typed)},
                     &error),
             qPrintable(error));
    QVERIFY2(runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Return")}, &error),
             qPrintable(error));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(typed), Timeout);
    // What the shell echoed is on the screen as well.
    QTRY_VERIFY2_WITH_TIMEOUT(showsSessionDisplay(desktop, x, &mismatch), qPrintable(mismatch), Timeout);
    QVERIFY2(boxTexts().isEmpty(), qPrintable(boxTexts()));
}

void EndToEndTest::clipboardTravelsBothWays()
{
    // This login's key has a passphrase, asked through the askpass relay.
    const QString passphrase = QStringLiteral("open sesame");
    QString error;
    QVERIFY2(startServer(&error, passphrase), qPrintable(error));
    ConnectionListWidget main(m_userDirectory, m_globalDirectory);
    main.show();
    QPointer<SessionListWidget> window = login(main, passphrase);
    QVERIFY(window);
    QPointer<RdpMainWidget> display = startFromDialog(window, QStringLiteral("xterm"));
    QVERIFY2(display, qPrintable(m_problem));
    QTRY_VERIFY_WITH_TIMEOUT(findSession(window, QStringLiteral("xterm")).isValid(), Timeout);
    const QString sessionId = findSession(window, QStringLiteral("xterm")).id();
    track(sessionId);
    const QString x = runtimeOf(sessionId).value(QStringLiteral("display")).toString();

    // Copied here, pasted in the session.
    const QString toSession = QStringLiteral("copied on the client \u00e4\u20ac %1").arg(sessionId.left(8));
    QGuiApplication::clipboard()->setText(toSession);
    SessionClipboardReader reader(x);
    QTRY_COMPARE_WITH_TIMEOUT(reader.latest(), toSession, Timeout);

    // Copied in the session, pasted here.
    const QString fromSession = QStringLiteral("copied in the session %1").arg(sessionId.right(8));
    QProcess owner;
    owner.start(QStringLiteral("xclip"), {QStringLiteral("-quiet"), QStringLiteral("-i"), QStringLiteral("-selection"),
                                          QStringLiteral("clipboard"), QStringLiteral("-display"), x});
    QVERIFY(owner.waitForStarted(Timeout));
    auto endOwner = qScopeGuard([&owner]() {
        if (owner.state() != QProcess::NotRunning) {
            ::kill(pid_t(owner.processId()), SIGKILL);
            owner.waitForFinished(5000);
        }
    });
    owner.write(fromSession.toUtf8());
    owner.closeWriteChannel();
    QTRY_COMPARE_WITH_TIMEOUT(QGuiApplication::clipboard()->text(), fromSession, Timeout);
    QVERIFY2(boxTexts().isEmpty(), qPrintable(boxTexts()));
}

void EndToEndTest::clickLandsOnRemotePixelAtEachScale()
{
    const QString clickLog = m_scratch->filePath(QStringLiteral("clicks.log"));
    const QString command = QStringLiteral("%1/e2e_clicklog %2").arg(SshServer::binDir(), clickLog);
    const auto logLines = [&clickLog]() {
        QFile file(clickLog);
        return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'))
                                              : QStringList();
    };

    QString error;
    QVERIFY2(startServer(&error), qPrintable(error));
    ConnectionListWidget main(m_userDirectory, m_globalDirectory);
    main.show();
    QPointer<SessionListWidget> window = login(main);
    QVERIFY(window);
    QPointer<RdpMainWidget> display = startFromDialog(window, command);
    QVERIFY2(display, qPrintable(m_problem));
    QTRY_VERIFY_WITH_TIMEOUT(findSession(window, command).isValid(), Timeout);
    const QString sessionId = findSession(window, command).id();
    track(sessionId);
    QTRY_VERIFY_WITH_TIMEOUT(logLines().contains(QStringLiteral("ready 1024 768")), Timeout);

    struct Case
    {
        double factor; // remote pixels per local pixel
        QSize localSize;
        QPoint local;
        QPoint remote;
    };
    // The display started with the session has no factor yet: 1. The others
    // are set before connecting again from the list.
    const Case cases[] = {
        {1.0, QSize(1024, 768), QPoint(601, 403), QPoint(601, 403)},
        {0.5, QSize(2048, 1536), QPoint(600, 402), QPoint(300, 201)},
        {2.0, QSize(512, 384), QPoint(301, 203), QPoint(602, 406)},
    };
    for (const Case& c : cases) {
        if (!display) {
            QSettings settings;
            QVERIFY(settings.fileName().startsWith(TestRoot));
            settings.setValue(QStringLiteral("%1-Settings/ScalingFactor").arg(sessionId), c.factor);
            display = connectFromList(window, command);
            QVERIFY2(display, qPrintable(m_problem));
        }
        RdpDesktopWidget* desktop = display->desktopWidget();
        QCOMPARE(desktop->size(), c.localSize);
        QTRY_COMPARE_WITH_TIMEOUT(findSession(window, command).clients(), 1, Timeout);
        QCursor::setPos(desktop->mapToGlobal(c.local));
        QTest::mouseClick(desktop, Qt::LeftButton, Qt::NoModifier, c.local);
        const QString expected = QStringLiteral("button 1 %1 %2").arg(c.remote.x()).arg(c.remote.y());
        QTRY_VERIFY2_WITH_TIMEOUT(logLines().contains(expected),
                                  qPrintable(QStringLiteral("scale %1: %2").arg(c.factor).arg(logLines().join(QLatin1Char('|')))),
                                  Timeout);

        // The toolbar's Disconnect ends the display quietly; the list, asked
        // again at once, shows the session free to connect.
        QVERIFY(disconnectFromToolbar(display));
        QTRY_COMPARE_WITH_TIMEOUT(findSession(window, command).clients(), 0, Timeout);
        QVERIFY(selectSession(window, command));
        QTRY_VERIFY_WITH_TIMEOUT(button(window, "ConnectSessionButton")->isEnabled(), Timeout);
        QVERIFY(!button(window, "DisconnectSessionButton")->isEnabled());
        QVERIFY2(boxTexts().isEmpty(), qPrintable(boxTexts()));
        QVERIFY(!display);
    }
}

void EndToEndTest::failedDisplayTellsTheUser()
{
    const QString problem = QStringLiteral("There was a problem connecting to the session.");
    const QString advice = QStringLiteral("Make sure it is still running and that SSH tunneling is enabled.");
    QString error;
    QVERIFY2(startServer(&error), qPrintable(error));
    ConnectionListWidget main(m_userDirectory, m_globalDirectory);
    main.show();
    QPointer<SessionListWidget> window = login(main);
    QVERIFY(window);

    // A display server that dies under a running display.
    const QString first = QStringLiteral("xterm -title first");
    QPointer<RdpMainWidget> display = startFromDialog(window, first);
    QVERIFY2(display, qPrintable(m_problem));
    QTRY_VERIFY_WITH_TIMEOUT(findSession(window, first).isValid(), Timeout);
    const QString firstId = findSession(window, first).id();
    track(firstId);
    const qint64 firstServer = sessionProcess(firstId, QStringLiteral("zentu2_display"));
    QVERIFY(firstServer > 0);
    QCOMPARE(::kill(pid_t(firstServer), SIGKILL), 0);
    QTRY_VERIFY2_WITH_TIMEOUT(failureBox(problem), qPrintable(boxTexts()), Timeout);
    QVERIFY(failureBox(problem)->text().contains(advice));
    QCOMPARE(failureBox(problem)->windowTitle(), QStringLiteral("Zentu Error"));
    QTRY_VERIFY_WITH_TIMEOUT(!display, Timeout);
    failureBox(problem)->close();
    // The session went with its display server.
    QTRY_VERIFY_WITH_TIMEOUT(!findSession(window, first).isValid(), Timeout);

    // A session the server still lists whose port nobody answers: its
    // supervisor is held so it cannot clear up after the display server.
    const QString second = QStringLiteral("xterm -title second");
    display = startFromDialog(window, second);
    QVERIFY2(display, qPrintable(m_problem));
    QTRY_VERIFY_WITH_TIMEOUT(findSession(window, second).isValid(), Timeout);
    const QString secondId = findSession(window, second).id();
    track(secondId);
    // The server counts the client once it is active; then it lets it go.
    QTRY_COMPARE_WITH_TIMEOUT(findSession(window, second).clients(), 1, Timeout);
    QVERIFY(disconnectFromToolbar(display));
    QTRY_COMPARE_WITH_TIMEOUT(findSession(window, second).clients(), 0, Timeout);
    const qint64 supervisor = qint64(runtimeOf(secondId).value(QStringLiteral("pid")).toDouble());
    const qint64 secondServer = sessionProcess(secondId, QStringLiteral("zentu2_display"));
    QVERIFY(supervisor > 0 && secondServer > 0);
    QCOMPARE(::kill(pid_t(supervisor), SIGSTOP), 0);
    m_stoppedSupervisors.append(supervisor);
    QCOMPARE(::kill(pid_t(secondServer), SIGKILL), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!SessionFixture::processRunning(secondServer), Timeout);

    const QList<RdpMainWidget*> before = visibleTopLevels<RdpMainWidget>();
    QVERIFY(selectSession(window, second));
    QTRY_VERIFY_WITH_TIMEOUT(button(window, "ConnectSessionButton")->isEnabled(), Timeout);
    QTest::mouseClick(button(window, "ConnectSessionButton"), Qt::LeftButton);
    QTRY_VERIFY2_WITH_TIMEOUT(failureBox(problem), qPrintable(boxTexts()), Timeout);
    QVERIFY(failureBox(problem)->text().contains(advice));
    QCOMPARE(visibleTopLevels<RdpMainWidget>(), before);
    failureBox(problem)->close();

    ::kill(pid_t(supervisor), SIGCONT);
    m_stoppedSupervisors.removeAll(supervisor);
    QTRY_VERIFY_WITH_TIMEOUT(!findSession(window, second).isValid(), Timeout);
}

void EndToEndTest::lostLoginEndsItsDisplay()
{
    QString error;
    QVERIFY2(startServer(&error), qPrintable(error));
    ConnectionListWidget main(m_userDirectory, m_globalDirectory);
    main.show();
    QPointer<SessionListWidget> window = login(main);
    QVERIFY(window);
    QPointer<RdpMainWidget> display = startFromDialog(window, QStringLiteral("xterm"));
    QVERIFY2(display, qPrintable(m_problem));
    QTRY_VERIFY_WITH_TIMEOUT(findSession(window, QStringLiteral("xterm")).isValid(), Timeout);
    const QString sessionId = findSession(window, QStringLiteral("xterm")).id();
    track(sessionId);

    // The ssh client dies under a running display, as on a lost network: the
    // display went through its forward, so both the login and the display
    // end, each with its own message; the session lives on at the server.
    const qint64 ssh = sshProcessId(window);
    QVERIFY(ssh > 0);
    QCOMPARE(::kill(pid_t(ssh), SIGKILL), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!window, Timeout);
    QTRY_VERIFY_WITH_TIMEOUT(!display, Timeout);
    QTRY_VERIFY2_WITH_TIMEOUT(failureBox(QStringLiteral("There was a problem connecting to the session.")),
                              qPrintable(boxTexts()), Timeout);
    QTRY_VERIFY2_WITH_TIMEOUT(failureBox(QStringLiteral("There was a problem with the connection.")),
                              qPrintable(boxTexts()), Timeout);
    QVERIFY(SessionFixture::processRunning(qint64(runtimeOf(sessionId).value(QStringLiteral("pid")).toDouble())));

    // Logging in again finds the session and connects to it.
    for (QMessageBox* box : visibleTopLevels<QMessageBox>())
        box->close();
    window = login(main);
    QVERIFY(window);
    display = connectFromList(window, QStringLiteral("xterm"));
    QVERIFY2(display, qPrintable(m_problem));
    QString mismatch;
    QTRY_VERIFY2_WITH_TIMEOUT(showsSessionDisplay(display->desktopWidget(),
                                                  runtimeOf(sessionId).value(QStringLiteral("display")).toString(),
                                                  &mismatch),
                              qPrintable(mismatch), Timeout);
}

void EndToEndTest::applicationQuitsAfterLastDisplay()
{
    QString error;
    QVERIFY2(startServer(&error), qPrintable(error));
    ConnectionListWidget main(m_userDirectory, m_globalDirectory);
    main.show();
    QPointer<SessionListWidget> window = login(main);
    QVERIFY(window);
    QPointer<RdpMainWidget> display = startFromDialog(window, QStringLiteral("xterm"));
    QVERIFY2(display, qPrintable(m_problem));
    QTRY_VERIFY_WITH_TIMEOUT(findSession(window, QStringLiteral("xterm")).isValid(), Timeout);
    track(findSession(window, QStringLiteral("xterm")).id());
    const qint64 ssh = sshProcessId(window);
    QVERIFY(ssh > 0);

    // The main window and the session window go; the display stays up.
    main.close();
    window->close();
    QTRY_VERIFY_WITH_TIMEOUT(!window, Timeout);
    QVERIFY(display && display->isVisible());

    // The event loop of start-up runs; the user closes the last window, the
    // desktop window. The application may end only after the display has.
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, qApp, []() { QCoreApplication::exit(2); });
    guard.start(Timeout);
    QTimer::singleShot(0, display, [display]() { display->close(); });
    const int code = QApplication::exec();
    guard.stop();
    QCOMPARE(code, 0);
    QVERIFY(!display);
    QVERIFY(visibleTopLevels<QMessageBox>().isEmpty());
    // ssh held the display's forward open; it ends with it.
    QTRY_VERIFY_WITH_TIMEOUT(!SessionFixture::processRunning(ssh), Timeout);
}

int main(int argc, char** argv)
{
    // The client's home, settings and runtime folders, set before Qt reads them.
    QTemporaryDir root(QDir::tempPath() + QStringLiteral("/tst_e2e-XXXXXX"));
    if (!root.isValid())
        return 1;
    TestRoot = root.path();
    const QDir dir(root.path());
    for (const char* sub : {"home", "config", "data", "run"})
        dir.mkpath(QLatin1String(sub));
    QFile::setPermissions(dir.filePath(QStringLiteral("run")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("HOME", QFile::encodeName(dir.filePath(QStringLiteral("home"))));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath(QStringLiteral("config"))));
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(QStringLiteral("data"))));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir.filePath(QStringLiteral("run"))));

    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Zentu"));
    QCoreApplication::setOrganizationName(QStringLiteral("Talvene"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("talvene.com"));
    EndToEndTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_e2e.moc"
