// The whole client as a user drives it: log in from the main window, start
// and connect real sessions through ssh's forward, and work with their
// desktop windows. Every process a test causes is ended and checked for.
#include "ClientFrames.h"
#include "CloseHelper.h"
#include "ConnectionListWidget.h"
#include "ConnectionModel.h"
#include "DisplayCapture.h"
#include "Installation.h"
#include "JoinSessionDialog.h"
#include "LoginFixture.h"
#include "RdpClientContext.h"
#include "RdpDesktopWidget.h"
#include "RdpMainWidget.h"
#include "RdpOptionsDialog.h"
#include "RdpRailWidget.h"
#include "RdpSharingDialog.h"
#include "RdpSharingKey.h"
#include "RdpSharingNotification.h"
#include "RdpToolbar.h"
#include "SciProcess.h"
#include "SessionFixture.h"
#include "SessionListWidget.h"
#include "SessionModel.h"
#include "SshDevice.h"
#include "OperationStatusDialog.h"
#include "StartSessionDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QCursor>
#include <QDirIterator>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QMutex>
#include <QPushButton>
#include <QScopeGuard>
#include <QSettings>
#include <QSlider>
#include <QScreen>
#include <QStandardPaths>
#include <QTableView>
#include <QStackedWidget>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUuid>

#include <winpr/wlog.h>

#include <algorithm>
#include <csignal>
#include <memory>
#include <vector>

namespace {

const int Timeout = 30000;

// Set by main before the application exists: the test's HOME, XDG_* folders.
QString TestRoot;

QMessageBox* failureBox(const QString& summary)
{
    for (QMessageBox* box : messageBoxes()) {
        if (box->text().startsWith(summary))
            return box;
    }
    return nullptr;
}

// Two images show the same. RemoteFX is lossy, so 8x8 blocks are compared
// by their mean colour; a few blocks may differ for a blinking text cursor.
bool sameBlocks(const QImage& shownImage, const QImage& remoteImage, QString* why)
{
    const QImage shown = shownImage.convertToFormat(QImage::Format_RGB32);
    const QImage remote = remoteImage.convertToFormat(QImage::Format_RGB32);
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

// The desktop widget shows what the session display holds.
bool showsSessionDisplay(RdpDesktopWidget* desktop, const QString& display, const QString& authority,
                         QString* why)
{
    const QImage remote = captureDisplay(display, authority);
    if (remote.isNull()) {
        *why = QStringLiteral("cannot capture %1").arg(display);
        return false;
    }
    return sameBlocks(desktop->grab().toImage(), remote, why);
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

// The user points into the session's xterm (its X focus follows the
// pointer) and types a line. Typed through the X server (XTEST), since only
// real key events carry the keycode that the display sends on; QTest's
// synthetic ones have none.
void typeIntoSession(RdpMainWidget* display, const QString& line)
{
    RdpDesktopWidget* desktop = display->desktopWidget();
    display->activateWindow();
    QTRY_VERIFY_WITH_TIMEOUT(display->isActiveWindow() && desktop->hasFocus(), Timeout);
    const QPoint inside(60, 60);
    QCursor::setPos(desktop->mapToGlobal(inside));
    QTest::mouseClick(desktop, Qt::LeftButton, Qt::NoModifier, inside);
    QString error;
    QVERIFY2(runTool(QStringLiteral("xdotool"),
                     {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("40"), line}, nullptr,
                     &error),
             qPrintable(error));
    QVERIFY2(runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Return")}, nullptr, &error),
             qPrintable(error));
}

// The desktop size requests the client sends, with the time each went out,
// taken from its debug log while one exists.
class SizeRequestLog
{
public:
    SizeRequestLog()
    {
        s_log = this;
        m_clock.start();
        QLoggingCategory::setFilterRules(QStringLiteral("zentu.rdp.debug=true"));
        m_previous = qInstallMessageHandler(record);
    }
    ~SizeRequestLog()
    {
        qInstallMessageHandler(m_previous);
        QLoggingCategory::setFilterRules(QString());
        s_log = nullptr;
    }

    struct Request
    {
        qint64 at;
        QSize size;
    };
    QList<Request> requests;
    qint64 now() const { return m_clock.elapsed(); }

private:
    // Requests go out on the GUI thread only, so only that thread appends.
    static void record(QtMsgType type, const QMessageLogContext& context, const QString& text)
    {
        const QString prefix = QStringLiteral("desktop size request ");
        if (text.startsWith(prefix)) {
            const QStringList size = text.mid(prefix.size()).split(QLatin1Char(' '));
            s_log->requests.append({s_log->m_clock.elapsed(), QSize(size.value(0).toInt(), size.value(1).toInt())});
            return;
        }
        if (type != QtDebugMsg && s_log->m_previous)
            s_log->m_previous(type, context, text);
    }

    static SizeRequestLog* s_log;
    QElapsedTimer m_clock;
    QtMessageHandler m_previous = nullptr;
};

SizeRequestLog* SizeRequestLog::s_log = nullptr;

// Everything the client logs while it exists: its own categories at debug
// level and the RDP library's loggers from debug level up.
class FullLog
{
public:
    FullLog()
    {
        s_log = this;
        QLoggingCategory::setFilterRules(QStringLiteral("zentu.*.debug=true"));
        m_previous = qInstallMessageHandler(recordQt);
        wLog* root = WLog_GetRoot();
        m_level = WLog_GetLogLevel(root);
        static wLogCallbacks callbacks = {};
        callbacks.message = recordLibrary;
        WLog_SetLogAppenderType(root, WLOG_APPENDER_CALLBACK);
        WLog_ConfigureAppender(WLog_GetLogAppender(root), "callbacks", &callbacks);
        WLog_SetLogLevel(root, WLOG_DEBUG);
    }
    ~FullLog()
    {
        wLog* root = WLog_GetRoot();
        WLog_SetLogLevel(root, m_level);
        WLog_SetLogAppenderType(root, WLOG_APPENDER_CONSOLE);
        qInstallMessageHandler(m_previous);
        QLoggingCategory::setFilterRules(QString());
        s_log = nullptr;
    }

    // How many lines were logged, and how many of them hold the text.
    QPair<int, int> linesWith(const QString& text) const
    {
        QMutexLocker lock(&m_mutex);
        const int holding = int(std::count_if(m_lines.begin(), m_lines.end(),
                                              [&text](const QString& line) { return line.contains(text); }));
        return {int(m_lines.size()), holding};
    }

private:
    void append(const QString& line)
    {
        QMutexLocker lock(&m_mutex);
        m_lines.append(line);
    }
    static void recordQt(QtMsgType type, const QMessageLogContext& context, const QString& text)
    {
        if (!s_log)
            return;
        s_log->append(text);
        if (type != QtDebugMsg && s_log->m_previous)
            s_log->m_previous(type, context, text);
    }
    static BOOL recordLibrary(const wLogMessage* message)
    {
        if (s_log)
            s_log->append(QString::fromUtf8(message->TextString));
        return TRUE;
    }

    static FullLog* s_log;
    mutable QMutex m_mutex;
    QStringList m_lines;
    QtMessageHandler m_previous = nullptr;
    DWORD m_level = WLOG_WARN;
};

FullLog* FullLog::s_log = nullptr;

// Runs scripts/demo-server as scripts/run does, with the given environment.
bool runDemoServer(const QString& action, const QProcessEnvironment& environment, QByteArray* output,
                   QString* error)
{
    QProcess script;
    script.setProcessEnvironment(environment);
    script.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    script.start(qEnvironmentVariable("ZENTU_SOURCE_DIR") + QStringLiteral("/scripts/demo-server"), {action});
    if (!script.waitForFinished(Timeout) || script.exitStatus() != QProcess::NormalExit || script.exitCode() != 0) {
        *error = QStringLiteral("demo-server %1 failed (%2)").arg(action).arg(script.exitCode());
        return false;
    }
    if (output)
        *output = script.readAllStandardOutput();
    return true;
}

// The visible local window of a rootless session with this title.
RdpRailWidget* railWindow(const QString& title)
{
    for (RdpRailWidget* window : visibleTopLevels<RdpRailWidget>()) {
        if (window->windowTitle() == title)
            return window;
    }
    return nullptr;
}

// The longest time the event loop went without serving a timer, from
// construction on: a frozen GUI thread shows as one long gap.
class StallWatch
{
public:
    StallWatch()
    {
        m_clock.start();
        QObject::connect(&m_timer, &QTimer::timeout, [this]() {
            m_longest = qMax(m_longest, m_clock.restart());
        });
        m_timer.start(20);
    }
    qint64 longest() const { return qMax(m_longest, m_clock.elapsed()); }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_longest = 0;
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
    void resizeModeMakesTheSessionFollowTheWindow();
    void frameRateChosenInOptionsLimitsFrames();
    void singleApplicationShowsEachRemoteWindow();
    void failedDisplayTellsTheUser();
    void displayUsesOnlyItsOwnTunnel_data();
    void displayUsesOnlyItsOwnTunnel();
    void killedPeerTellsTheUser_data();
    void killedPeerTellsTheUser();
    void localDemoRunsAndEndsWithItsScript();
    void joiningWithTheKeyShowsTheSharedSession();

private:
    // Starts a server and logs in to it from the main window.
    bool loginAsUser(const QString& passphrase = QString());
    // Starts a command from the session window's dialog; its display, with
    // the session's id in m_sessionId and its processes tracked.
    RdpMainWidget* start(const QString& command);
    RdpMainWidget* startFromDialog(const QString& command);
    RdpMainWidget* connectFromList(const QString& command);
    RdpMainWidget* waitForNewDisplay(const QList<RdpMainWidget*>& before);
    bool disconnectFromToolbar(RdpMainWidget* display);
    QJsonObject runtimeOf(const QString& sessionId) const { return m_login->runtimeOf(sessionId); }
    // The cookie file of the session's display.
    QString authorityOf(const QString& sessionId) const
    {
        return runtimeOf(sessionId).value(QStringLiteral("dir")).toString() + QStringLiteral("/Xauthority");
    }
    qint64 sessionProcess(const QString& sessionId, const QString& name) const;
    void track(const QString& sessionId);

    std::unique_ptr<QTemporaryDir> m_scratch;
    std::unique_ptr<LoginFixture> m_login;
    std::unique_ptr<ConnectionListWidget> m_main;
    QPointer<SessionListWidget> m_window;
    QString m_sessionId;
    // Every process a test's sessions and logins ran, by pid, with its name.
    QMap<qint64, QString> m_processes;
    QList<qint64> m_stoppedSupervisors;
    // Why the last helper came back without a window.
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
    m_scratch = std::make_unique<QTemporaryDir>(TestRoot + QStringLiteral("/test-XXXXXX"));
    QVERIFY(m_scratch->isValid());
    m_login = std::make_unique<LoginFixture>(m_scratch->path());
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

    // Sessions end through the stand-in, as the Terminate button ends them;
    // rootless displays end with them.
    {
        SciProcess sci(m_login->serverData());
        QString error;
        QVERIFY2(sci.start(&error), qPrintable(error));
        for (const QJsonValue& session : m_login->storedSessions()) {
            QJsonValue result;
            QJsonValue failure;
            QVERIFY(sci.call(QStringLiteral("Zentu.terminate"),
                             QJsonObject{{QStringLiteral("id"), session.toObject().value(QStringLiteral("id"))}},
                             &result, &failure));
            QVERIFY2(result.isObject(), qPrintable(QJsonDocument(failure.toObject()).toJson()));
        }
    }
    QTRY_VERIFY_WITH_TIMEOUT(topLevels<RdpRailWidget>().isEmpty(), Timeout);
    for (SessionListWidget* window : sessionWindows())
        window->close();
    QTRY_VERIFY_WITH_TIMEOUT(sessionWindows().isEmpty(), Timeout);
    m_main.reset();
    closeMessageBoxes();
    QStringList left;
    const bool allEnded = QTest::qWaitFor(
        [this, &left]() {
            left.clear();
            for (auto it = m_processes.cbegin(); it != m_processes.cend(); ++it) {
                if (SessionFixture::processRunning(it.key()) && SessionFixture::processName(it.key()) == it.value())
                    left.append(QStringLiteral("%1 (%2)").arg(it.value()).arg(it.key()));
            }
            return left.isEmpty();
        },
        Timeout);
    m_login.reset();
    m_scratch.reset();
    QVERIFY2(allEnded, qPrintable(QStringLiteral("left running: ") + left.join(QLatin1String(", "))));
}

bool EndToEndTest::loginAsUser(const QString& passphrase)
{
    SshServer::Options options;
    options.clientKeyPassphrase = passphrase;
    if (!m_login->start(&m_problem, options) || !m_login->addConnection(QStringLiteral("Lab"), &m_problem).isValid())
        return false;
    m_main = std::make_unique<ConnectionListWidget>(m_login->userDirectory(), m_login->globalDirectory());
    m_main->show();
    m_window = logIn(*m_main, 0, &m_problem, passphrase);
    if (!m_window)
        return false;
    m_processes.insert(sshProcessId(m_window), QStringLiteral("ssh"));
    return true;
}

RdpMainWidget* EndToEndTest::start(const QString& command)
{
    RdpMainWidget* display = startFromDialog(command);
    if (!display)
        return nullptr;
    if (!QTest::qWaitFor([this, &command]() { return findSession(m_window, command).isValid(); }, Timeout)) {
        m_problem = QStringLiteral("no session \"%1\" in the list").arg(command);
        return nullptr;
    }
    m_sessionId = findSession(m_window, command).id();
    track(m_sessionId);
    return display;
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
            return found != nullptr || !messageBoxTexts().isEmpty();
        },
        Timeout);
    if (!ended || !found || !QTest::qWaitForWindowExposed(found, Timeout)) {
        m_problem = QStringLiteral("no desktop window; messages: %1").arg(messageBoxTexts());
        return nullptr;
    }
    return found;
}

RdpMainWidget* EndToEndTest::startFromDialog(const QString& command)
{
    const QList<RdpMainWidget*> before = visibleTopLevels<RdpMainWidget>();
    QTest::mouseClick(findButton(m_window, "NewSessionButton"), Qt::LeftButton);
    auto* dialog = m_window->findChild<StartSessionDialog*>();
    if (!dialog) {
        m_problem = QStringLiteral("no start dialog");
        return nullptr;
    }
    QTest::keyClicks(dialog->findChild<QLineEdit*>(QStringLiteral("CommandLineEdit")), command);
    QTest::mouseClick(dialog->findChild<QDialogButtonBox*>(QStringLiteral("ButtonBox"))->button(QDialogButtonBox::Ok),
                      Qt::LeftButton);
    return waitForNewDisplay(before);
}

RdpMainWidget* EndToEndTest::connectFromList(const QString& command)
{
    const QList<RdpMainWidget*> before = visibleTopLevels<RdpMainWidget>();
    // Right after a login the first list reply may still be on its way.
    if (!QTest::qWaitFor([&]() { return selectSession(m_window, command); }, Timeout)) {
        m_problem = QStringLiteral("no session \"%1\" in the list").arg(command);
        return nullptr;
    }
    QPushButton* connect = findButton(m_window, "ConnectSessionButton");
    if (!QTest::qWaitFor([connect]() { return connect->isVisible() && connect->isEnabled(); }, Timeout)) {
        m_problem = QStringLiteral("Connect stays disabled; the list shows %1 clients")
                        .arg(findSession(m_window, command).clients());
        return nullptr;
    }
    QTest::mouseClick(connect, Qt::LeftButton);
    return waitForNewDisplay(before);
}

bool EndToEndTest::disconnectFromToolbar(RdpMainWidget* display)
{
    QPointer<RdpMainWidget> guard = display;
    RdpToolbar* toolbar = display->toolbar();
    QPushButton* disconnect = findButton(toolbar, "DisconnectButton");
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

qint64 EndToEndTest::sessionProcess(const QString& sessionId, const QString& name) const
{
    const qint64 supervisor = qint64(runtimeOf(sessionId).value(QStringLiteral("pid")).toDouble());
    return supervisor > 0 ? SessionFixture::descendantNamed(supervisor, name) : 0;
}

void EndToEndTest::track(const QString& sessionId)
{
    const qint64 supervisor = qint64(runtimeOf(sessionId).value(QStringLiteral("pid")).toDouble());
    if (supervisor <= 0)
        return;
    m_processes.insert(supervisor, SessionFixture::processName(supervisor));
    const QList<qint64> below = SessionFixture::descendantsOf(supervisor);
    for (qint64 pid : below)
        m_processes.insert(pid, SessionFixture::processName(pid));
}

void EndToEndTest::startedSessionShowsAndRunsTypedCommand()
{
    QVERIFY2(loginAsUser(), qPrintable(m_problem));
    QPointer<RdpMainWidget> display = start(QStringLiteral("xterm"));
    QVERIFY2(display, qPrintable(m_problem));
    QVERIFY(m_processes.values().contains(QStringLiteral("Xvnc")));
    QVERIFY(m_processes.values().contains(QStringLiteral("zentu2_display")));
    QVERIFY(m_processes.values().contains(QStringLiteral("xterm")));
    // The display's arrival refreshes the list: one client now.
    QTRY_COMPARE_WITH_TIMEOUT(findSession(m_window, QStringLiteral("xterm")).clients(), 1, Timeout);
    QCOMPARE(display->windowTitle(), QStringLiteral("xterm"));

    RdpDesktopWidget* desktop = display->desktopWidget();
    QCOMPARE(desktop->size(), QSize(1024, 768));
    const QString x = runtimeOf(m_sessionId).value(QStringLiteral("display")).toString();
    QVERIFY(x.startsWith(QLatin1Char(':')));
    const QString authority = authorityOf(m_sessionId);
    QTRY_VERIFY_WITH_TIMEOUT(brightPixels(captureDisplay(x, authority)) > 10000, Timeout);
    QString mismatch;
    QTRY_VERIFY2_WITH_TIMEOUT(showsSessionDisplay(desktop, x, authority, &mismatch), qPrintable(mismatch), Timeout);

    // The user points into the xterm (the session's X focus follows the
    // pointer) and types; the keys go out as this X server's keycodes.
    const auto typeTouch = [&](const QString& name) {
        const QString typed = m_scratch->filePath(name);
        typeIntoSession(display, QStringLiteral("touch %1").arg(typed));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(typed), Timeout);
        // What the shell echoed is on the screen as well.
        QTRY_VERIFY2_WITH_TIMEOUT(showsSessionDisplay(desktop, x, authority, &mismatch), qPrintable(mismatch), Timeout);
        QVERIFY2(messageBoxTexts().isEmpty(), qPrintable(messageBoxTexts()));
    };
    typeTouch(QStringLiteral("typed-Marker"));
    if (QTest::currentTestFailed())
        return;

    // The session window closes; the display goes on through the login's
    // forward, well past the grace period a closed login gets.
    const qint64 ssh = sshProcessId(m_window);
    QVERIFY(ssh > 0);
    m_window->close();
    QVERIFY(m_window && !m_window->isVisible());
    // Opening the connection meanwhile shows the window of that login.
    QVERIFY(!openConnection(*m_main, 0));
    QVERIFY(m_window->isVisible());
    m_window->close();
    QTest::qWait(15000);
    QVERIFY2(display, qPrintable(messageBoxTexts()));
    typeTouch(QStringLiteral("typed-After-Close"));
    if (QTest::currentTestFailed())
        return;

    // The main window goes too; the event loop of start-up runs and the user
    // disconnects the last display from its toolbar. The application may end
    // only after the display has, and the login ends with its last display.
    m_main->close();
    QVERIFY(display && display->isVisible());
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, qApp, []() { QCoreApplication::exit(2); });
    guard.start(2 * Timeout);
    bool disconnected = false;
    QTimer::singleShot(0, display, [this, display, &disconnected]() { disconnected = disconnectFromToolbar(display); });
    const int code = QApplication::exec();
    guard.stop();
    QVERIFY(disconnected);
    QCOMPARE(code, 0);
    QVERIFY(!display);
    QVERIFY2(messageBoxes().isEmpty(), qPrintable(messageBoxTexts()));
    QTRY_VERIFY_WITH_TIMEOUT(!m_window, Timeout);
    QTRY_VERIFY_WITH_TIMEOUT(processGone(ssh), Timeout);
}

void EndToEndTest::clipboardTravelsBothWays()
{
    // This login's key has a passphrase, asked through the askpass relay.
    const QString passphrase = QStringLiteral("open sesame");
    QVERIFY2(loginAsUser(passphrase), qPrintable(m_problem));
    QPointer<RdpMainWidget> display = start(QStringLiteral("xterm"));
    QVERIFY2(display, qPrintable(m_problem));
    const QProcessEnvironment session =
        xEnvironment(runtimeOf(m_sessionId).value(QStringLiteral("display")).toString(), authorityOf(m_sessionId));

    // Copied here, pasted in the session.
    const QString toSession = QStringLiteral("copied on the client \u00e4\u20ac %1").arg(m_sessionId.left(8));
    QGuiApplication::clipboard()->setText(toSession);
    QTRY_COMPARE_WITH_TIMEOUT(pasteWithXclip(session), toSession, Timeout);

    // Copied in the session, pasted here.
    const QString fromSession = QStringLiteral("copied in the session %1").arg(m_sessionId.right(8));
    QProcess owner;
    QVERIFY(copyWithXclip(&owner, session, fromSession));
    auto endOwner = qScopeGuard([&owner]() {
        owner.kill();
        owner.waitForFinished(5000);
    });
    QTRY_COMPARE_WITH_TIMEOUT(QGuiApplication::clipboard()->text(), fromSession, Timeout);
    QVERIFY2(messageBoxTexts().isEmpty(), qPrintable(messageBoxTexts()));

    // The user logs out: the shell ends, with it the xterm, the session's
    // program. The display closes without a message, the session leaves the list.
    typeIntoSession(display, QStringLiteral("exit"));
    if (QTest::currentTestFailed())
        return;
    QTRY_VERIFY_WITH_TIMEOUT(!display, Timeout);
    QTRY_VERIFY_WITH_TIMEOUT(!findSession(m_window, QStringLiteral("xterm")).isValid(), Timeout);
    QVERIFY2(messageBoxTexts().isEmpty(), qPrintable(messageBoxTexts()));
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

    QVERIFY2(loginAsUser(), qPrintable(m_problem));
    QPointer<RdpMainWidget> display = start(command);
    QVERIFY2(display, qPrintable(m_problem));
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
            settings.setValue(QStringLiteral("%1-Settings/ScalingFactor").arg(m_sessionId), c.factor);
            display = connectFromList(command);
            QVERIFY2(display, qPrintable(m_problem));
        }
        RdpDesktopWidget* desktop = display->desktopWidget();
        QCOMPARE(desktop->size(), c.localSize);
        QTRY_COMPARE_WITH_TIMEOUT(findSession(m_window, command).clients(), 1, Timeout);
        QCursor::setPos(desktop->mapToGlobal(c.local));
        QTest::mouseClick(desktop, Qt::LeftButton, Qt::NoModifier, c.local);
        const QString expected = QStringLiteral("button 1 %1 %2").arg(c.remote.x()).arg(c.remote.y());
        QTRY_VERIFY2_WITH_TIMEOUT(logLines().contains(expected),
                                  qPrintable(QStringLiteral("scale %1: %2").arg(c.factor).arg(logLines().join(QLatin1Char('|')))),
                                  Timeout);

        // The toolbar's Disconnect ends the display quietly; the list, asked
        // again at once, shows the session free to connect.
        QVERIFY(disconnectFromToolbar(display));
        QTRY_COMPARE_WITH_TIMEOUT(findSession(m_window, command).clients(), 0, Timeout);
        QVERIFY(selectSession(m_window, command));
        QTRY_VERIFY_WITH_TIMEOUT(findButton(m_window, "ConnectSessionButton")->isEnabled(), Timeout);
        QVERIFY(!findButton(m_window, "DisconnectSessionButton")->isEnabled());
        QVERIFY2(messageBoxTexts().isEmpty(), qPrintable(messageBoxTexts()));
        QVERIFY(!display);
    }
}

void EndToEndTest::resizeModeMakesTheSessionFollowTheWindow()
{
    QVERIFY2(loginAsUser(), qPrintable(m_problem));
    QPointer<RdpMainWidget> display = start(QStringLiteral("xterm"));
    QVERIFY2(display, qPrintable(m_problem));
    const QString x = runtimeOf(m_sessionId).value(QStringLiteral("display")).toString();
    const QString authority = authorityOf(m_sessionId);
    QCOMPARE(captureDisplay(x, authority).size(), QSize(1024, 768));
    QPushButton* resize = findButton(display->toolbar(), "ResizeButton");
    // Enabled once the server has told the sizes it allows.
    QTRY_VERIFY_WITH_TIMEOUT(resize->isEnabled(), Timeout);
    QVERIFY(!resize->isChecked());

    // Turned on, resize mode asks for the window's size at once.
    SizeRequestLog log;
    QTest::mouseClick(resize, Qt::LeftButton);
    QVERIFY(resize->isChecked());
    QCOMPARE(log.requests.size(), 1);
    QCOMPARE(log.requests.first().size, display->size());
    // After a quiet spell the first step of a resize is asked for at once,
    // then at most one size per 500 ms while the window keeps growing.
    QTest::qWait(700);
    QSize size = display->size();
    const qint64 begun = log.now();
    for (int step = 0; step < 30; ++step) {
        size += QSize(10, 8);
        display->resize(size);
        QTRY_COMPARE_WITH_TIMEOUT(display->size(), size, Timeout);
        if (step == 0)
            QTRY_COMPARE_WITH_TIMEOUT(log.requests.size(), 2, Timeout);
        QTest::qWait(40);
    }
    const qint64 ended = log.now();
    // The final size always goes out, when the timer fires.
    QTRY_COMPARE_WITH_TIMEOUT(log.requests.last().size, size, Timeout);
    QString intervals;
    for (int i = 2; i < log.requests.size(); ++i)
        intervals += QStringLiteral(" %1").arg(log.requests[i].at - log.requests[i - 1].at);
    qInfo("%d requests while growing for %lld ms, intervals%s ms; final one %lld ms after the last step",
          int(log.requests.size() - 1), ended - begun, qPrintable(intervals), log.requests.last().at - ended);
    QVERIFY2(log.requests.size() > 3, qPrintable(intervals));
    // The times are whole milliseconds.
    for (int i = 2; i < log.requests.size(); ++i)
        QVERIFY2(log.requests[i].at - log.requests[i - 1].at >= 499, qPrintable(intervals));

    // The session's X screen takes the size; the desktop widget follows and
    // shows what the screen holds.
    QTRY_COMPARE_WITH_TIMEOUT(captureDisplay(x, authority).size(), size, Timeout);
    RdpDesktopWidget* desktop = display->desktopWidget();
    QTRY_COMPARE_WITH_TIMEOUT(desktop->size(), size, Timeout);
    QString mismatch;
    QTRY_VERIFY2_WITH_TIMEOUT(showsSessionDisplay(desktop, x, authority, &mismatch), qPrintable(mismatch), Timeout);
    QVERIFY2(messageBoxTexts().isEmpty(), qPrintable(messageBoxTexts()));
}

void EndToEndTest::frameRateChosenInOptionsLimitsFrames()
{
    QVERIFY2(loginAsUser(), qPrintable(m_problem));
    // A screen that keeps changing.
    QPointer<RdpMainWidget> display = start(QStringLiteral("xterm -e 'yes | cat -n'"));
    QVERIFY2(display, qPrintable(m_problem));
    auto* dialog = display->findChild<RdpOptionsDialog*>();
    QVERIFY(dialog);
    auto* updateBox = dialog->findChild<QGroupBox*>(QStringLiteral("UpdateBox"));
    // Enabled by the server's first report of its options.
    QTRY_VERIFY_WITH_TIMEOUT(updateBox->isEnabled(), Timeout);

    // The user opens the dialog from the toolbar, turns manual settings on
    // and drags the frame rate to 5.
    findButton(display->toolbar(), "OptionsButton")->click();
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    QTest::keyClick(updateBox, Qt::Key_Space);
    QVERIFY(updateBox->isChecked());
    ClientFrames::watch(display->context()->rdp());
    dialog->findChild<QSlider*>(QStringLiteral("FpsSlider"))->setSliderPosition(5);
    // The change travels through the login's tunnel before it applies.
    QTest::qWait(1000);
    QString frames;
    QVERIFY2(ClientFrames::atMostPerSecond(5, &frames), qPrintable(frames));
}

void EndToEndTest::singleApplicationShowsEachRemoteWindow()
{
    // Rootless windows are placed, moved and closed by a real window manager.
    QProcess windowManager;
    QVERIFY(startWindowManager(&windowManager));
    auto stopWindowManager = qScopeGuard([&windowManager] {
        windowManager.terminate();
        windowManager.waitForFinished(10000);
    });
    QVERIFY2(loginAsUser(), qPrintable(m_problem));

    // The session's program opens a second window of its own; the session
    // ends with the one it ends with.
    const QString command = QStringLiteral("xterm -T RailFirst -geometry 60x12+120+140 & "
                                           "exec xterm -T RailSecond -geometry 20x4+900+700");
    QTest::mouseClick(findButton(m_window, "NewSessionButton"), Qt::LeftButton);
    auto* dialog = m_window->findChild<StartSessionDialog*>();
    QVERIFY(dialog);
    QTest::keyClicks(dialog->findChild<QLineEdit*>(QStringLiteral("CommandLineEdit")), command);
    dialog->findChild<QCheckBox*>(QStringLiteral("SingleApplicationBox"))->setChecked(true);
    QTest::mouseClick(dialog->findChild<QDialogButtonBox*>(QStringLiteral("ButtonBox"))->button(QDialogButtonBox::Ok),
                      Qt::LeftButton);
    QTRY_VERIFY2_WITH_TIMEOUT(railWindow(QStringLiteral("RailFirst")) || !messageBoxTexts().isEmpty(),
                              qPrintable(messageBoxTexts()), Timeout);
    QVERIFY2(messageBoxTexts().isEmpty(), qPrintable(messageBoxTexts()));
    QTRY_VERIFY_WITH_TIMEOUT(findSession(m_window, command).isValid(), Timeout);
    m_sessionId = findSession(m_window, command).id();
    track(m_sessionId);
    const QString x = runtimeOf(m_sessionId).value(QStringLiteral("display")).toString();
    const QString authority = authorityOf(m_sessionId);

    // The xterm as a local window with its title, where the server has it,
    // showing its pixels.
    QPointer<RdpRailWidget> first = railWindow(QStringLiteral("RailFirst"));
    const quint64 remoteFirst = windowTitled(QStringLiteral("RailFirst"), x, authority);
    QVERIFY(remoteFirst);
    QTRY_COMPARE_WITH_TIMEOUT(windowArea(remoteFirst, x, authority).topLeft(), QPoint(120, 140), Timeout);
    QTRY_COMPARE_WITH_TIMEOUT(windowArea(first->winId()), windowArea(remoteFirst, x, authority), Timeout);
    const QString local = QString::fromLocal8Bit(qgetenv("DISPLAY"));
    QString mismatch;
    const auto showsRemote = [&]() {
        const QRect area = windowArea(first->winId());
        return sameBlocks(captureDisplay(local).copy(area),
                          captureDisplay(x, authority).copy(windowArea(remoteFirst, x, authority)), &mismatch);
    };
    // A window the session opens comes up without the keyboard, under the
    // window in use (the session window here, which may cover it): the
    // user brings it up.
    runX(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"),
                                      QString::number(first->winId())});
    QTRY_VERIFY_WITH_TIMEOUT(first->isActiveWindow(), Timeout);
    QTRY_VERIFY2_WITH_TIMEOUT(showsRemote(), qPrintable(mismatch), Timeout);
    // Connected by now: no desktop window besides.
    QTRY_COMPARE_WITH_TIMEOUT(findSession(m_window, command).clients(), 1, Timeout);
    QVERIFY(visibleTopLevels<RdpMainWidget>().isEmpty());

    // Keys typed into it reach the session.
    const QString typed = m_scratch->filePath(QStringLiteral("typed-Rootless"));
    runX(QStringLiteral("xdotool"), {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("40"),
                                      QStringLiteral("touch %1").arg(typed)});
    runX(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Return")});
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(typed), Timeout);

    // Moved and resized by the local window manager: the remote window follows.
    const QRect placed = windowArea(first->winId());
    runX(QStringLiteral("xdotool"), {QStringLiteral("windowmove"), QString::number(first->winId()),
                                      QStringLiteral("400"), QStringLiteral("300")});
    QTRY_VERIFY_WITH_TIMEOUT(windowArea(first->winId()).topLeft() != placed.topLeft(), Timeout);
    QTRY_COMPARE_WITH_TIMEOUT(windowArea(remoteFirst, x, authority), windowArea(first->winId()), Timeout);
    runX(QStringLiteral("xdotool"), {QStringLiteral("windowsize"), QString::number(first->winId()),
                                      QStringLiteral("520"), QStringLiteral("260")});
    QTRY_VERIFY_WITH_TIMEOUT(windowArea(first->winId()).size() != placed.size(), Timeout);
    QTRY_COMPARE_WITH_TIMEOUT(windowArea(remoteFirst, x, authority), windowArea(first->winId()), Timeout);
    QTRY_VERIFY2_WITH_TIMEOUT(showsRemote(), qPrintable(mismatch), Timeout);

    // The program's second window has a local window of its own.
    QTRY_VERIFY_WITH_TIMEOUT(railWindow(QStringLiteral("RailSecond")), Timeout);

    // The close button asks the program to close; its window goes when the
    // program has closed it.
    closeWithWindowManager(first->winId());
    QTRY_COMPARE_WITH_TIMEOUT(windowTitled(QStringLiteral("RailFirst"), x, authority), 0u, Timeout);
    QTRY_VERIFY_WITH_TIMEOUT(!first, Timeout);

    // Disconnect in the session list takes every window of the session.
    QVERIFY(selectSession(m_window, command));
    QPushButton* disconnect = findButton(m_window, "DisconnectSessionButton");
    QTRY_VERIFY_WITH_TIMEOUT(disconnect->isVisible() && disconnect->isEnabled(), Timeout);
    QTest::mouseClick(disconnect, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(topLevels<RdpRailWidget>().size(), 0, Timeout);
    QTRY_COMPARE_WITH_TIMEOUT(findSession(m_window, command).clients(), 0, Timeout);
    QVERIFY2(messageBoxTexts().isEmpty(), qPrintable(messageBoxTexts()));

    // Connected again, the remaining window comes back; when the program
    // ends, the session ends without a word.
    QVERIFY(selectSession(m_window, command));
    QPushButton* connect = findButton(m_window, "ConnectSessionButton");
    QTRY_VERIFY_WITH_TIMEOUT(connect->isVisible() && connect->isEnabled(), Timeout);
    QTest::mouseClick(connect, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(railWindow(QStringLiteral("RailSecond")), Timeout);
    closeWithWindowManager(railWindow(QStringLiteral("RailSecond"))->winId());
    QTRY_COMPARE_WITH_TIMEOUT(topLevels<RdpRailWidget>().size(), 0, Timeout);
    QTRY_VERIFY_WITH_TIMEOUT(!findSession(m_window, command).isValid(), Timeout);
    QVERIFY2(messageBoxTexts().isEmpty(), qPrintable(messageBoxTexts()));
}

void EndToEndTest::failedDisplayTellsTheUser()
{
    const QString problem = QStringLiteral("There was a problem connecting to the session.");
    const QString advice = QStringLiteral("Make sure it is still running and that SSH tunneling is enabled.");
    QVERIFY2(loginAsUser(), qPrintable(m_problem));
    // A session the server still lists whose port nobody answers: its
    // supervisor is held so it cannot clear up after the display server.
    // (A display server that dies under a running display: killedPeerTellsTheUser.)
    const QString second = QStringLiteral("xterm -title second");
    QPointer<RdpMainWidget> display = start(second);
    QVERIFY2(display, qPrintable(m_problem));
    const QString secondId = m_sessionId;
    // The server counts the client once it has logged on; then it lets it go.
    QTRY_COMPARE_WITH_TIMEOUT(findSession(m_window, second).clients(), 1, Timeout);
    QVERIFY(disconnectFromToolbar(display));
    QTRY_COMPARE_WITH_TIMEOUT(findSession(m_window, second).clients(), 0, Timeout);
    const qint64 supervisor = qint64(runtimeOf(secondId).value(QStringLiteral("pid")).toDouble());
    const qint64 secondServer = sessionProcess(secondId, QStringLiteral("zentu2_display"));
    QVERIFY(supervisor > 0 && secondServer > 0);
    QCOMPARE(::kill(pid_t(supervisor), SIGSTOP), 0);
    m_stoppedSupervisors.append(supervisor);
    QCOMPARE(::kill(pid_t(secondServer), SIGKILL), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!SessionFixture::processRunning(secondServer), Timeout);

    const QList<RdpMainWidget*> before = visibleTopLevels<RdpMainWidget>();
    QVERIFY(selectSession(m_window, second));
    QTRY_VERIFY_WITH_TIMEOUT(findButton(m_window, "ConnectSessionButton")->isEnabled(), Timeout);
    QTest::mouseClick(findButton(m_window, "ConnectSessionButton"), Qt::LeftButton);
    QTRY_VERIFY2_WITH_TIMEOUT(failureBox(problem), qPrintable(messageBoxTexts()), Timeout);
    QVERIFY(failureBox(problem)->text().contains(advice));
    QCOMPARE(visibleTopLevels<RdpMainWidget>(), before);
    failureBox(problem)->close();

    ::kill(pid_t(supervisor), SIGCONT);
    m_stoppedSupervisors.removeAll(supervisor);
    QTRY_VERIFY_WITH_TIMEOUT(!findSession(m_window, second).isValid(), Timeout);
}

void EndToEndTest::displayUsesOnlyItsOwnTunnel_data()
{
    QTest::addColumn<bool>("portsFree");
    QTest::newRow("no free tunnel port") << false;
    QTest::newRow("tunnel port taken before ssh binds it") << true;
}

void EndToEndTest::displayUsesOnlyItsOwnTunnel()
{
    QFETCH(bool, portsFree);
    QVERIFY2(m_login->start(&m_problem) && m_login->addConnection(QStringLiteral("Lab"), &m_problem).isValid(),
             qPrintable(m_problem));
    m_main = std::make_unique<ConnectionListWidget>(m_login->userDirectory(), m_login->globalDirectory());
    m_main->show();

    // Another user's listener, which must never see a byte of a display.
    // (A port probe may connect to it, without sending anything.)
    QTcpServer foreign;
    qint64 foreignBytes = 0;
    connect(&foreign, &QTcpServer::newConnection, &foreign, [&foreign, &foreignBytes] {
        while (QTcpSocket* socket = foreign.nextPendingConnection())
            connect(socket, &QTcpSocket::readyRead, socket,
                    [socket, &foreignBytes] { foreignBytes += socket->readAll().size(); });
    });
    // Held only while the login chooses its port.
    std::vector<std::unique_ptr<QTcpServer>> held;
    for (quint16 port = SshDevice::FirstTunnelPort; !portsFree && port < SshDevice::EndTunnelPort; ++port) {
        held.push_back(std::make_unique<QTcpServer>());
        held.back()->listen(QHostAddress::LocalHost, port);
    }
    m_window = openConnection(*m_main, 0);
    QVERIFY(m_window);
    const auto* device = qobject_cast<SshDevice*>(m_window->handler()->device());
    QVERIFY(device);
    if (portsFree) {
        QVERIFY(device->tunnelPort() != 0);
        QVERIFY(foreign.listen(QHostAddress::LocalHost, device->tunnelPort()));
    } else {
        QCOMPARE(device->tunnelPort(), quint16(0));
        held.clear();
    }
    QTRY_VERIFY2_WITH_TIMEOUT(m_window && !m_window->findChild<OperationStatusDialog*>(), qPrintable(messageBoxTexts()),
                              Timeout);
    m_processes.insert(sshProcessId(m_window), QStringLiteral("ssh"));

    QVERIFY(!startFromDialog(QStringLiteral("xterm")));
    const QString problem = QStringLiteral("There was a problem connecting to the session.");
    QVERIFY2(failureBox(problem), qPrintable(messageBoxTexts()));
    QVERIFY2(failureBox(problem)->text().contains(portsFree ? QStringLiteral("Another program listens on local port")
                                                            : QStringLiteral("No local port from 41000 to 41099")),
             qPrintable(failureBox(problem)->text()));
    QVERIFY(visibleTopLevels<RdpMainWidget>().isEmpty());
    QCOMPARE(foreignBytes, qint64(0));
}

void EndToEndTest::killedPeerTellsTheUser_data()
{
    QTest::addColumn<QString>("victim");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<bool>("withDisplay");
    const QString connection = QStringLiteral("There was a problem with the connection.");
    QTest::newRow("ssh before the server's first byte") << QStringLiteral("ssh") << connection << false;
    // As on a lost network: login and display end, the session lives on.
    QTest::newRow("ssh under a display") << QStringLiteral("ssh") << connection << true;
    QTest::newRow("command interface with a request unanswered")
        << QStringLiteral("zentu2_sci") << connection << false;
    // ssh stays for the display's forward after its command has gone.
    QTest::newRow("command interface under a display") << QStringLiteral("zentu2_sci") << connection << true;
    QTest::newRow("display server during a clipboard transfer")
        << QStringLiteral("zentu2_display") << QStringLiteral("There was a problem connecting to the session.") << true;
}

void EndToEndTest::killedPeerTellsTheUser()
{
    QFETCH(QString, victim);
    QFETCH(QString, summary);
    QFETCH(bool, withDisplay);
    QVERIFY2(loginAsUser(), qPrintable(m_problem));
    QPointer<RdpMainWidget> display = start(QStringLiteral("xterm"));
    QVERIFY2(display, qPrintable(m_problem));
    const auto savedConnections = [this]() {
        QMap<QString, QByteArray> files;
        QDirIterator it(m_login->userDirectory(), QDir::Files);
        while (it.hasNext()) {
            QFile file(it.next());
            files.insert(it.fileName(), file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
        }
        return files;
    };
    const QMap<QString, QByteArray> saved = savedConnections();
    QCOMPARE(saved.size(), 1);

    // Each peer is stopped at a moment the client waits on it, then killed;
    // for ssh, its server is stopped and resumed.
    qint64 sshd = 0;
    const auto resume = [&sshd]() {
        if (sshd > 0)
            ::kill(pid_t(sshd), SIGCONT);
        sshd = 0;
    };
    auto resumeOnFailure = qScopeGuard(resume);
    std::unique_ptr<StallWatch> watch;
    if (victim == QLatin1String("zentu2_display")) {
        const qint64 server = sessionProcess(m_sessionId, victim);
        QVERIFY(server > 0);
        QCOMPARE(::kill(pid_t(server), SIGSTOP), 0);
        // The client offers the server its new clipboard, which never takes it.
        QGuiApplication::clipboard()->setText(QStringLiteral("offered to a stopped server"));
        watch = std::make_unique<StallWatch>();
        QCOMPARE(::kill(pid_t(server), SIGKILL), 0);
    } else if (victim == QLatin1String("ssh") && withDisplay) {
        watch = std::make_unique<StallWatch>();
        QCOMPARE(::kill(pid_t(sshProcessId(m_window)), SIGKILL), 0);
    } else {
        if (!withDisplay)
            QVERIFY(disconnectFromToolbar(display));
        if (victim == QLatin1String("ssh")) {
            // The login ends; the next one reaches an sshd that accepts but never answers.
            m_window->close();
            QTRY_VERIFY_WITH_TIMEOUT(!m_window, Timeout);
            sshd = SessionFixture::descendantNamed(QCoreApplication::applicationPid(), QStringLiteral("sshd"));
            QVERIFY(sshd > 0);
            QCOMPARE(::kill(pid_t(sshd), SIGSTOP), 0);
            m_window = openConnection(*m_main, 0);
            QVERIFY(m_window);
            QTRY_VERIFY_WITH_TIMEOUT(sshProcessId(m_window) > 0, Timeout);
            m_processes.insert(sshProcessId(m_window), victim);
            QVERIFY(m_window->findChild<OperationStatusDialog*>());
            watch = std::make_unique<StallWatch>();
            QCOMPARE(::kill(pid_t(sshProcessId(m_window)), SIGKILL), 0);
        } else {
            // Stopped before the next poll of the list goes out, killed with it unanswered.
            const qint64 sci = SessionFixture::descendantNamed(QCoreApplication::applicationPid(), victim);
            QVERIFY(sci > 0);
            QCOMPARE(::kill(pid_t(sci), SIGSTOP), 0);
            QTRY_VERIFY_WITH_TIMEOUT(m_window->handler()->pendingCount() > 0, Timeout);
            watch = std::make_unique<StallWatch>();
            QCOMPARE(::kill(pid_t(sci), SIGKILL), 0);
        }
    }

    // Told in plain words, without freezing, without touching the saved connection.
    QTRY_VERIFY2_WITH_TIMEOUT(failureBox(summary), qPrintable(messageBoxTexts()), Timeout);
    QVERIFY2(watch->longest() < 5000, qPrintable(QString::number(watch->longest())));
    QVERIFY2(!failureBox(summary)->text().contains(QLatin1String("debug1")), qPrintable(failureBox(summary)->text()));
    QCOMPARE(failureBox(summary)->windowTitle(), QStringLiteral("Zentu Error"));
    const QString displayProblem = QStringLiteral("There was a problem connecting to the session.");
    if (summary == displayProblem) {
        QVERIFY(failureBox(summary)->text().contains(
            QStringLiteral("Make sure it is still running and that SSH tunneling is enabled.")));
    }
    QTRY_VERIFY_WITH_TIMEOUT(!display, Timeout);
    QCOMPARE(savedConnections(), saved);
    resume();
    if (victim == QLatin1String("ssh") && withDisplay) {
        // The display went through the login's forward: each ends with its own message.
        QTRY_VERIFY_WITH_TIMEOUT(!m_window, Timeout);
        QTRY_VERIFY2_WITH_TIMEOUT(failureBox(displayProblem), qPrintable(messageBoxTexts()), Timeout);
        QVERIFY(SessionFixture::processRunning(qint64(runtimeOf(m_sessionId).value(QStringLiteral("pid")).toDouble())));
    }

    // Opened again, the connection lists what the server keeps.
    closeMessageBoxes();
    if (m_window)
        m_window->close();
    QTRY_VERIFY_WITH_TIMEOUT(!m_window, Timeout);
    m_window = logIn(*m_main, 0, &m_problem);
    QVERIFY2(m_window, qPrintable(m_problem));
    m_processes.insert(sshProcessId(m_window), QStringLiteral("ssh"));
    // The session went with its display server, and only then.
    const int kept = victim == QLatin1String("zentu2_display") ? 0 : 1;
    QTRY_COMPARE_WITH_TIMEOUT(m_login->storedSessions().size(), kept, Timeout);
    QTRY_COMPARE_WITH_TIMEOUT(m_window->model()->rowCount(), kept, Timeout);
    if (kept == 0)
        return;
    // And connects to the session again.
    display = connectFromList(QStringLiteral("xterm"));
    QVERIFY2(display, qPrintable(m_problem));
    QString mismatch;
    QTRY_VERIFY2_WITH_TIMEOUT(showsSessionDisplay(display->desktopWidget(),
                                                  runtimeOf(m_sessionId).value(QStringLiteral("display")).toString(),
                                                  authorityOf(m_sessionId), &mismatch),
                              qPrintable(mismatch), Timeout);
}

void EndToEndTest::localDemoRunsAndEndsWithItsScript()
{
    // A user with no ssh key and no known_hosts file. ssh reads the passwd
    // home, not $HOME, so a launcher first on PATH points it at this HOME.
    const QString home = qEnvironmentVariable("HOME");
    const QString knownHosts = home + QStringLiteral("/.ssh/known_hosts");
    QVERIFY(QDir().mkpath(home + QStringLiteral("/.ssh")));
    QFile::remove(knownHosts);
    const QString launcherDir = m_scratch->filePath(QStringLiteral("bin"));
    QVERIFY(QDir().mkpath(launcherDir));
    {
        QFile launcher(launcherDir + QStringLiteral("/ssh"));
        QVERIFY(launcher.open(QIODevice::WriteOnly));
        launcher.write(QStringLiteral("#!/bin/sh\nexec %1 -F /dev/null -o UserKnownHostsFile='%2' "
                                      "-o GlobalKnownHostsFile=/dev/null -o IdentityFile='%3/.ssh/id_ed25519' \"$@\"\n")
                           .arg(QStandardPaths::findExecutable(QStringLiteral("ssh")), knownHosts, home)
                           .toLocal8Bit());
        launcher.close();
        QVERIFY(launcher.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }
    const QString state = m_scratch->filePath(QStringLiteral("state"));
    const QString demoState = state + QStringLiteral("/zentu-demo");
    m_login = std::make_unique<LoginFixture>(m_scratch->path(), demoState + QStringLiteral("/data"));

    // The user's own saved connection stays as it is and is listed too.
    QVERIFY(QDir().mkpath(m_login->userDirectory()));
    Connection own;
    own.setUid(QUuid::createUuid());
    own.setName(QStringLiteral("Accounting"));
    own.setHost(QStringLiteral("192.0.2.1"));
    const QString ownPath = QDir(m_login->userDirectory()).filePath(Connection::fileName(own.uid()));
    QString error;
    QVERIFY2(writeConnectionFile(ownPath, own, &error), qPrintable(error));
    const auto contents = [](const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const QByteArray ownBefore = contents(ownPath);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_STATE_HOME"), state);
    environment.insert(QStringLiteral("PATH"), launcherDir + QLatin1Char(':') + environment.value(QStringLiteral("PATH")));
    for (const char* name : {"SSH_AUTH_SOCK", "SSH_ASKPASS", "SSH_ASKPASS_REQUIRE", "ZENTU_DEMO_CONNECTIONS"})
        environment.remove(QLatin1String(name));
    // The client runs with the script's environment, as under scripts/run.
    QList<QPair<QByteArray, QByteArray>> saved;
    const auto setVariable = [&saved](const QString& name, const QString& value) {
        const QByteArray key = name.toLocal8Bit();
        saved.append({key, qEnvironmentVariableIsSet(key.constData()) ? qgetenv(key.constData()) : QByteArray()});
        if (value.isNull())
            qunsetenv(key.constData());
        else
            qputenv(key.constData(), value.toLocal8Bit());
    };
    const auto restore = qScopeGuard([&saved]() {
        for (auto it = saved.crbegin(); it != saved.crend(); ++it) {
            if (it->second.isNull())
                qunsetenv(it->first.constData());
            else
                qputenv(it->first.constData(), it->second);
        }
    });
    for (const char* name : {"PATH", "SSH_AUTH_SOCK", "SSH_ASKPASS", "SSH_ASKPASS_REQUIRE"})
        setVariable(QLatin1String(name), environment.value(QLatin1String(name), QString()));

    const auto startDemo = [&](QString* why) {
        QByteArray lines;
        if (!runDemoServer(QStringLiteral("start"), environment, nullptr, why)
            || !runDemoServer(QStringLiteral("env"), environment, &lines, why))
            return false;
        for (const QByteArray& line : lines.split('\n')) {
            const int equals = line.indexOf('=');
            if (equals > 0)
                setVariable(QString::fromLocal8Bit(line.left(equals)), QString::fromLocal8Bit(line.mid(equals + 1)));
        }
        return true;
    };
    bool demoRunning = false;
    const auto stopDemo = qScopeGuard([&]() {
        QString ignored;
        if (demoRunning)
            runDemoServer(QStringLiteral("stop"), environment, nullptr, &ignored);
    });
    demoRunning = startDemo(&error);
    QVERIFY2(demoRunning, qPrintable(error));
    const qint64 sshd = contents(demoState + QStringLiteral("/sshd.pid")).trimmed().toLongLong();
    const qint64 agent = contents(demoState + QStringLiteral("/agent.pid")).trimmed().toLongLong();
    QCOMPARE(SessionFixture::processName(sshd), QStringLiteral("sshd"));
    QCOMPARE(SessionFixture::processName(agent), QStringLiteral("ssh-agent"));

    // "Local demo" heads the list, above the user's own connection.
    m_main = std::make_unique<ConnectionListWidget>(m_login->userDirectory(), m_login->globalDirectory(), nullptr,
                                                    false, demoConnectionsDirectory());
    m_main->show();
    auto* view = m_main->findChild<QTableView*>(QStringLiteral("ConnectionListView"));
    QCOMPARE(view->model()->rowCount(), 2);
    QCOMPARE(view->model()->index(0, 0).data(ConnectionModel::SortRole).toString(), QStringLiteral("Local demo"));
    QCOMPARE(view->model()->index(1, 0).data(ConnectionModel::SortRole).toString(), QStringLiteral("Accounting"));
    // The demo's connection belongs to the script: no edit or remove buttons.
    view->setCurrentIndex(view->model()->index(1, 0));
    QVERIFY(findButton(m_main.get(), "EditConnectionButton")->isVisible());
    view->setCurrentIndex(view->model()->index(0, 0));
    QVERIFY(!findButton(m_main.get(), "EditConnectionButton")->isVisible());
    QVERIFY(!findButton(m_main.get(), "RemoveConnectionButton")->isVisible());

    // The only question: ssh's about the unknown host key, answered once.
    m_window = openConnection(*m_main, 0);
    QVERIFY(m_window);
    QPointer<OperationStatusDialog> status = m_window->findChild<OperationStatusDialog*>();
    QVERIFY(status);
    auto* stack = status->findChild<QStackedWidget*>(QStringLiteral("StackedWidget"));
    QTRY_VERIFY_WITH_TIMEOUT(!status || stack->currentIndex() != OperationStatusDialog::ProgressPage, Timeout);
    QVERIFY2(status, qPrintable(messageBoxTexts()));
    QCOMPARE(stack->currentIndex(), int(OperationStatusDialog::HostKeyPage));
    const QString fingerprint = status->findChild<QLineEdit*>(QStringLiteral("HostKeyLineEdit"))->text();
    QVERIFY2(fingerprint.startsWith(QStringLiteral("SHA256:")), qPrintable(fingerprint));
    QTest::mouseClick(findButton(status, "ContinueButton"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!status, Timeout);
    QVERIFY2(m_window, qPrintable(messageBoxTexts()));
    m_processes.insert(sshProcessId(m_window), QStringLiteral("ssh"));

    // A real desktop: the xterm's pixels, and keys typed into it.
    QPointer<RdpMainWidget> display = start(QStringLiteral("xterm"));
    QVERIFY2(display, qPrintable(m_problem));
    const QString x = runtimeOf(m_sessionId).value(QStringLiteral("display")).toString();
    const QString sessionDir = runtimeOf(m_sessionId).value(QStringLiteral("dir")).toString();
    QVERIFY2(sessionDir.startsWith(demoState + QLatin1Char('/')), qPrintable(sessionDir));
    QTRY_VERIFY_WITH_TIMEOUT(brightPixels(captureDisplay(x, authorityOf(m_sessionId))) > 10000, Timeout);
    QString mismatch;
    QTRY_VERIFY2_WITH_TIMEOUT(showsSessionDisplay(display->desktopWidget(), x, authorityOf(m_sessionId), &mismatch),
                              qPrintable(mismatch), Timeout);
    const QString typed = m_scratch->filePath(QStringLiteral("typed-Demo"));
    typeIntoSession(display, QStringLiteral("touch %1").arg(typed));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(typed), Timeout);
    QTRY_VERIFY2_WITH_TIMEOUT(showsSessionDisplay(display->desktopWidget(), x, authorityOf(m_sessionId), &mismatch),
                              qPrintable(mismatch), Timeout);
    QVERIFY(QFile::exists(sessionDir + QStringLiteral("/password")));
    // scripts/screenshot keeps this screen for the README.
    const QString screenshot = qEnvironmentVariable("ZENTU_SCREENSHOT");
    if (!screenshot.isEmpty()) {
        // The list, the session window below it and the desktop beside them.
        m_main->setGeometry(8, 30, 380, 300);
        m_window->setGeometry(8, 400, 380, 330);
        display->move(400, 0);
        m_main->raise();
        QTest::qWait(1500);
        QVERIFY(QGuiApplication::primaryScreen()->grabWindow(0).save(screenshot));
    }

    // The client ends; the demo's stop ends the session it left running.
    display->close();
    m_window->close();
    QTRY_VERIFY_WITH_TIMEOUT(!display && !m_window, Timeout);
    m_main.reset();
    QVERIFY2(runDemoServer(QStringLiteral("stop"), environment, nullptr, &error), qPrintable(error));
    demoRunning = false;
    m_processes.insert(sshd, QStringLiteral("sshd"));
    m_processes.insert(agent, QStringLiteral("ssh-agent"));
    for (auto it = m_processes.cbegin(); it != m_processes.cend(); ++it)
        QVERIFY2(!SessionFixture::processRunning(it.key()) || SessionFixture::processName(it.key()) != it.value(),
                 qPrintable(QStringLiteral("%1 (%2) left running").arg(it.value()).arg(it.key())));
    // No session password, session key or login key stays; the host key does,
    // so that the next start needs no question.
    QDirIterator files(demoState, QDir::Files | QDir::System | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        const QByteArray data = contents(path);
        QVERIFY2(files.fileName() != QLatin1String("password") && !data.contains("\"password\"")
                     && (!data.contains("PRIVATE KEY") || path == demoState + QStringLiteral("/host_ed25519")),
                 qPrintable(path));
    }
    QCOMPARE(contents(knownHosts).count('\n'), 1);
    QCOMPARE(contents(ownPath), ownBefore);
    QCOMPARE(QDir(m_login->userDirectory()).entryList(QDir::Files | QDir::Hidden), {Connection::fileName(own.uid())});

    // A second run reuses the state: the login asks nothing.
    demoRunning = startDemo(&error);
    QVERIFY2(demoRunning, qPrintable(error));
    m_main = std::make_unique<ConnectionListWidget>(m_login->userDirectory(), m_login->globalDirectory(), nullptr,
                                                    false, demoConnectionsDirectory());
    m_main->show();
    m_window = logIn(*m_main, 0, &m_problem);
    QVERIFY2(m_window, qPrintable(m_problem));
    m_processes.insert(sshProcessId(m_window), QStringLiteral("ssh"));
    QCOMPARE(contents(knownHosts).count('\n'), 1);
    m_window->close();
    QTRY_VERIFY_WITH_TIMEOUT(!m_window, Timeout);
}

void EndToEndTest::joiningWithTheKeyShowsTheSharedSession()
{
    // The sharing password must not reach any log, however verbose.
    FullLog log;
    QVERIFY2(loginAsUser(), qPrintable(m_problem));
    QPointer<RdpMainWidget> owner = start(QStringLiteral("xterm"));
    QVERIFY2(owner, qPrintable(m_problem));
    auto* sharing = owner->findChild<RdpSharingDialog*>();
    QVERIFY(sharing);
    auto* sharingButton = findButton(sharing, "SharingButton");
    QTRY_VERIFY_WITH_TIMEOUT(sharingButton->isEnabled(), Timeout);
    // Two quick clicks start sharing once, with one key.
    sharingButton->click();
    const QString key = sharing->sharingKey();
    sharingButton->click();
    QTRY_VERIFY_WITH_TIMEOUT(sharing->isSharing(), Timeout);
    QCOMPARE(sharing->sharingKey(), key);
    QVERIFY(findButton(sharing, "ShareKeyButton")->isEnabled());

    // This process's ssh and askpass children: a join's login runs askpass
    // for the login name first, then ssh.
    const auto loginChildren = [] {
        int count = 0;
        const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
        for (const QString& entry : entries) {
            QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
            if (!stat.open(QIODevice::ReadOnly))
                continue;
            const QByteArray text = stat.readAll();
            const int close = text.lastIndexOf(')');
            const QList<QByteArray> fields = text.mid(close + 2).split(' ');
            if ((text.contains("(ssh)") || text.contains("(askpass)")) && fields.size() > 1 && fields.at(1).toLongLong() == QCoreApplication::applicationPid()
                && fields.at(0) != "Z")
                ++count;
        }
        return count;
    };
    const auto openJoin = [this](const QString& name, const QString& text) {
        findButton(m_main.get(), "JoinSessionButton")->click();
        auto* dialog = m_main->findChild<JoinSessionDialog*>();
        if (!dialog)
            return false;
        auto* ok = dialog->findChild<QDialogButtonBox*>(QStringLiteral("ButtonBox"))->button(QDialogButtonBox::Ok);
        dialog->findChild<QLineEdit*>(QStringLiteral("IdLineEdit"))->setText(QStringLiteral(" "));
        dialog->findChild<QLineEdit*>(QStringLiteral("SharingKeyLineEdit"))->setText(text);
        if (ok->isEnabled())
            return false;
        dialog->findChild<QLineEdit*>(QStringLiteral("IdLineEdit"))->setText(name);
        ok->click();
        return true;
    };
    const auto userQuestion = [] {
        OperationStatusDialog* found = nullptr;
        const bool asked = QTest::qWaitFor(
            [&found] {
                for (OperationStatusDialog* dialog : visibleTopLevels<OperationStatusDialog>()) {
                    if (dialog->findChild<QStackedWidget*>()->currentIndex() == OperationStatusDialog::UserPage)
                        found = dialog;
                }
                return found != nullptr;
            },
            Timeout);
        return asked ? found : nullptr;
    };

    // A key naming an option as its host starts nothing.
    const int sshBefore = loginChildren();
    const QByteArray hostile = QByteArrayLiteral("{\"Hostname\":\"-oProxyCommand=touch x\",\"RdpPort\":3390}").toBase64();
    QVERIFY(openJoin(QStringLiteral("bo"), QString::fromLatin1(hostile)));
    QTRY_VERIFY_WITH_TIMEOUT(messageBoxTexts().contains(QStringLiteral("Invalid sharing key.")), Timeout);
    closeMessageBoxes();
    QVERIFY(visibleTopLevels<OperationStatusDialog>().isEmpty());
    QCOMPARE(loginChildren(), sshBefore);

    // Cancelling the login's question ends it.
    QVERIFY(openJoin(QStringLiteral("bo"), key));
    QPointer<OperationStatusDialog> status = userQuestion();
    QVERIFY(status);
    QCOMPARE(loginChildren(), sshBefore + 1);
    status->reject();
    QTRY_VERIFY_WITH_TIMEOUT(!status, Timeout);
    QTRY_COMPARE_WITH_TIMEOUT(loginChildren(), sshBefore, Timeout);

    // Joined through a login of its own, the viewer sees the owner's screen.
    // The login asks for the login name, and ssh may ask about the host key
    // once: the key names the server as the owner's login reached it
    // ("localhost" here), which this client knows under another name only.
    const auto joinThroughLogin = [&](const QString& name) -> RdpMainWidget* {
        const QList<RdpMainWidget*> before = visibleTopLevels<RdpMainWidget>();
        QPointer<OperationStatusDialog> question;
        if (!openJoin(name, key) || !(question = userQuestion()))
            return nullptr;
        question->findChild<QLineEdit*>(QStringLiteral("UserLineEdit"))->setText(m_login->server().user());
        QTest::mouseClick(findButton(question, "ContinueButton"), Qt::LeftButton);
        const auto hostKeyAsked = [&question] {
            return question
                && question->findChild<QStackedWidget*>()->currentIndex() == OperationStatusDialog::HostKeyPage;
        };
        if (QTest::qWaitFor([&] { return !question || hostKeyAsked(); }, Timeout) && hostKeyAsked())
            QTest::mouseClick(findButton(question, "ContinueButton"), Qt::LeftButton);
        return waitForNewDisplay(before);
    };
    QPointer<RdpMainWidget> viewer = joinThroughLogin(QStringLiteral("bo"));
    QVERIFY2(viewer, qPrintable(m_problem));
    RdpSharingKey decoded;
    QString error;
    QVERIFY(RdpSharingKey::decode(key, &decoded, &error));
    // The login reached the server by the key's host name.
    QCOMPARE(viewer->windowTitle(), QStringLiteral("Viewing %1:%2").arg(decoded.hostname).arg(decoded.rdpPort));
    QCOMPARE(decoded.sshPort, m_login->server().port());
    auto* viewerSharing = viewer->findChild<RdpSharingDialog*>();
    QVERIFY(viewerSharing);
    QTRY_VERIFY_WITH_TIMEOUT(viewerSharing->isSharing(), Timeout);
    QVERIFY(!findButton(viewerSharing, "SharingButton")->isEnabled());
    QVERIFY(!findButton(viewerSharing, "ShareKeyButton")->isEnabled());
    auto* list = sharing->findChild<QTableView*>();
    QTRY_COMPARE_WITH_TIMEOUT(list->model()->rowCount(), 2, Timeout);
    const auto picture = [](RdpMainWidget* display) { return display->desktopWidget()->grab().toImage(); };
    // The same picture, with the xterm on it.
    QTRY_VERIFY_WITH_TIMEOUT(picture(owner) == picture(viewer) && brightPixels(picture(owner)) > 10000, Timeout);
    QVERIFY2(messageBoxTexts().isEmpty(), qPrintable(messageBoxTexts()));
    // The owner's window slides the banner in.
    RdpSharingNotification* banner = owner->sharingNotification();
    QTRY_COMPARE_WITH_TIMEOUT(banner->text(), QStringLiteral("bo has joined the session."), Timeout);
    QTRY_VERIFY_WITH_TIMEOUT(banner->isVisible() && banner->geometry().top() >= 0, Timeout);

    // The owner's keys reach the xterm, whose X focus follows the pointer;
    // the viewer's do not, until the owner hands it control.
    // Each window comes to the top first: without a window manager the
    // windows overlap where they were mapped.
    const auto touched = [this](const QString& name) { return QFile::exists(m_scratch->filePath(name)); };
    const auto typeTouch = [this](RdpMainWidget* display, const QString& name) {
        display->raise();
        typeIntoSession(display, QStringLiteral("touch %1").arg(m_scratch->filePath(name)));
    };
    typeTouch(owner, QStringLiteral("by-owner"));
    QTRY_VERIFY_WITH_TIMEOUT(touched(QStringLiteral("by-owner")), Timeout);
    typeTouch(viewer, QStringLiteral("without-control"));
    // The viewer switches manual update settings after typing: only the owner
    // changes them, so the server refuses and the viewer's dialog goes back.
    // That answer comes after the server has seen the typed keys.
    auto* viewerOptions = viewer->findChild<RdpOptionsDialog*>();
    auto* viewerUpdates = viewerOptions->findChild<QGroupBox*>(QStringLiteral("UpdateBox"));
    QTRY_VERIFY_WITH_TIMEOUT(viewerUpdates->isEnabled(), Timeout);
    viewerOptions->show();
    QVERIFY(QTest::qWaitForWindowExposed(viewerOptions));
    // Earlier tests may have left the server's host with saved manual settings.
    const bool manual = viewerUpdates->isChecked();
    QTest::keyClick(viewerUpdates, Qt::Key_Space);
    QCOMPARE(viewerUpdates->isChecked(), !manual);
    QTRY_COMPARE_WITH_TIMEOUT(viewerUpdates->isChecked(), manual, Timeout);
    viewerOptions->close();
    QVERIFY(!touched(QStringLiteral("without-control")));
    // Only the owner resizes the shared desktop, once the server gave its size range.
    QTRY_VERIFY_WITH_TIMEOUT(findButton(owner->toolbar(), "ResizeButton")->isEnabled(), Timeout);
    QTRY_COMPARE_WITH_TIMEOUT(viewer->desktopWidget()->minimumSize(), QSize(64, 64), Timeout);
    QVERIFY(!findButton(viewer->toolbar(), "ResizeButton")->isEnabled());
    // The owner's toolbar opens the sharing dialog.
    findButton(owner->toolbar(), "SharingButton")->click();
    QVERIFY(QTest::qWaitForWindowExposed(sharing));
    const auto inRow = [&](const QString& name, const char* button) -> QPushButton* {
        for (int row = 0; row < list->model()->rowCount(); ++row) {
            if (list->model()->index(row, 0).data().toString().startsWith(name))
                list->selectRow(row);
        }
        auto* found = findButton(sharing, button);
        return QTest::qWaitFor([found] { return found->isVisible() && found->isEnabled(); }, Timeout) ? found
                                                                                                         : nullptr;
    };
    QPushButton* give = inRow(QStringLiteral("bo"), "GiveControlButton");
    QVERIFY(give);
    QVERIFY(findButton(sharing, "KickViewerButton")->isEnabled());
    give->click();
    QTRY_COMPARE_WITH_TIMEOUT(banner->text(), QStringLiteral("bo now has control of the session."), Timeout);
    QTRY_VERIFY_WITH_TIMEOUT(viewerSharing->hasControl(), Timeout);
    QVERIFY(!sharing->hasControl());
    QTRY_VERIFY_WITH_TIMEOUT(!give->isEnabled(), Timeout);
    typeTouch(viewer, QStringLiteral("with-control"));
    QTRY_VERIFY_WITH_TIMEOUT(touched(QStringLiteral("with-control")), Timeout);
    QVERIFY(!touched(QStringLiteral("without-control")));
    // The controller's pointer shows on the owner's window where it points.
    QTRY_COMPARE_WITH_TIMEOUT(owner->desktopWidget()->overlayMousePosition(), QPoint(60, 60), Timeout);

    // Kicked, the viewer's display ends without a word.
    QPushButton* kick = inRow(QStringLiteral("bo"), "KickViewerButton");
    QVERIFY(kick);
    kick->click();
    QTRY_VERIFY_WITH_TIMEOUT(!viewer, Timeout);
    // Control went back to the owner with it.
    QTRY_VERIFY_WITH_TIMEOUT(banner->text().endsWith(QStringLiteral("\nbo has left the session.")), Timeout);
    QTRY_COMPARE_WITH_TIMEOUT(list->model()->rowCount(), 1, Timeout);

    // Ending the sharing sends every viewer away, and the key stops working.
    viewer = joinThroughLogin(QStringLiteral("cy"));
    QVERIFY2(viewer, qPrintable(m_problem));
    QTRY_COMPARE_WITH_TIMEOUT(list->model()->rowCount(), 2, Timeout);
    sharingButton->click();
    QTRY_VERIFY_WITH_TIMEOUT(!viewer, Timeout);
    QTRY_VERIFY_WITH_TIMEOUT(!sharing->isSharing(), Timeout);
    QVERIFY(sharing->sharingKey().isEmpty());
    QVERIFY2(messageBoxTexts().isEmpty(), qPrintable(messageBoxTexts()));
    QVERIFY(!joinThroughLogin(QStringLiteral("di")));
    QVERIFY(owner);
    QTRY_VERIFY2_WITH_TIMEOUT(failureBox(QStringLiteral("There was a problem joining the session.")),
                              qPrintable(messageBoxTexts() + m_problem), Timeout);

    // Neither the client's log nor any file of the client or the servers
    // holds the password, as text or as the channel's UTF-16.
    const QPair<int, int> logged = log.linesWith(decoded.password);
    QVERIFY(logged.first > 0);
    QCOMPARE(logged.second, 0);
    QCOMPARE(log.linesWith(key).second, 0);
    QStringList holding;
    QByteArray utf16;
    for (QChar c : decoded.password)
        utf16.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
    QDirIterator files(TestRoot, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        if (file.size() < (64 << 20) && file.open(QIODevice::ReadOnly)) {
            const QByteArray data = file.readAll();
            if (data.contains(decoded.password.toUtf8()) || data.contains(utf16))
                holding << file.fileName();
        }
    }
    QVERIFY2(holding.isEmpty(), qPrintable(holding.join(QLatin1String(", "))));
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
