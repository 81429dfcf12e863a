#include "RdpClientContext.h"
#include "RdpDesktopWidget.h"
#include "RdpExitCode.h"
#include "RdpInstance.h"
#include "RdpMainWidget.h"
#include "RdpOptionsDialog.h"
#include "RdpTestServers.h"
#include "RdpToolbar.h"
#include "SshServer.h"

#include <QApplication>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QDir>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>
#include <QX11Info>

#include <X11/Xlib.h>

#include <algorithm>


namespace {

constexpr int ConnectTimeout = 30000;

RdpDesktopWidget* desktopOf(RdpInstance& instance)
{
    RdpClientContext* context = instance.context();
    if (!context || !context->mainWidget)
        return nullptr;
    return context->mainWidget->desktopWidget();
}

bool sameColour(QRgb a, QRgb b)
{
    // RemoteFX quantises a little.
    return qAbs(qRed(a) - qRed(b)) <= 12 && qAbs(qGreen(a) - qGreen(b)) <= 12 && qAbs(qBlue(a) - qBlue(b)) <= 12;
}

// Compares the centres of the probe's 16-pixel cells, where the codec
// leaves flat colour.
bool matchesRemote(RdpDesktopWidget* desktop, const QImage& remote, QString* mismatch)
{
    const QImage shown = desktop->grab().toImage().convertToFormat(QImage::Format_RGB32);
    if (shown.size() != remote.size()) {
        *mismatch = QStringLiteral("size %1x%2").arg(shown.width()).arg(shown.height());
        return false;
    }
    for (int y = 8; y < remote.height(); y += 48) {
        for (int x = 8; x < remote.width(); x += 48) {
            if (!sameColour(shown.pixel(x, y), remote.pixel(x, y))) {
                *mismatch = QStringLiteral("pixel %1,%2: %3 instead of %4")
                                .arg(x).arg(y)
                                .arg(shown.pixel(x, y), 8, 16)
                                .arg(remote.pixel(x, y), 8, 16);
                return false;
            }
        }
    }
    return true;
}

} // namespace

class TestRdpDisplay : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void showsRemoteScreen_data();
    void showsRemoteScreen();
    void clickLandsOnRemotePixel_data();
    void clickLandsOnRemotePixel();
    void typingReachesRemoteProgram();
    void keysStillDownAreReleasedOnFocusOut();
    void toolbarSlidesInOnFirstShowAndOutAfterFiveSeconds();
    void fullScreenCoversDesktopAndRestoresWindow();
    void disconnectButtonEndsQuietlyOnce();
    void refusedPortEndsWithConnectFailure();
    void quitWhileConnectingAbortsAtOnce();
    void quitAtEachStageOfConnectEndsOnce();
    void killedServerEndsWithConnectFailure();
    // Last: the window manager stays out of the cases above.
    void windowOpensAtDesktopSizeUnderWindowManager();

private:
    bool connectDirect(RdpInstance& instance, const QString& sessionId = QString());
    bool waitForProbeLine(const QString& line);
    // Connects and gives the desktop widget the keyboard focus.
    RdpDesktopWidget* focusedDesktop(RdpInstance& instance);

    QTemporaryDir m_config;
    RdpShadowServer m_server;
};

void TestRdpDisplay::initTestCase()
{
    QVERIFY(m_config.isValid());
    // Keep the scaling factors of these runs out of the user's settings.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_config.path());
    QCoreApplication::setOrganizationName(QStringLiteral("ZentuTest"));
    QCoreApplication::setApplicationName(QStringLiteral("tst_rdpdisplay"));
    QString error;
    QVERIFY2(m_server.start(&error), qPrintable(error));
}

void TestRdpDisplay::cleanupTestCase()
{
    m_server.stop();
}

bool TestRdpDisplay::connectDirect(RdpInstance& instance, const QString& sessionId)
{
    QSignalSpy connected(&instance, &RdpInstance::connected);
    QVariantMap params;
    params.insert(QStringLiteral("SessionId"), sessionId);
    instance.start(QStringLiteral("127.0.0.1"), m_server.port(), QStringLiteral("tester"), QString(), 0,
                   QStringLiteral("1024x768"), QStringLiteral("Probe"), false, params);
    return connected.wait(ConnectTimeout) && desktopOf(instance);
}

RdpDesktopWidget* TestRdpDisplay::focusedDesktop(RdpInstance& instance)
{
    if (!connectDirect(instance))
        return nullptr;
    RdpDesktopWidget* desktop = desktopOf(instance);
    desktop->window()->activateWindow();
    const bool focused =
        QTest::qWaitFor([&] { return desktop->hasFocus() && desktop->window()->isActiveWindow(); }, 10000);
    return focused ? desktop : nullptr;
}

bool TestRdpDisplay::waitForProbeLine(const QString& line)
{
    if (QTest::qWaitFor([&] { return m_server.probeLines().contains(line); }, 20000))
        return true;
    qWarning() << "no" << line << "in" << m_server.probeLines();
    return false;
}

void TestRdpDisplay::showsRemoteScreen_data()
{
    QTest::addColumn<bool>("throughSsh");
    QTest::addColumn<bool>("tls");
    QTest::addColumn<bool>("noSharedMemory");
    QTest::newRow("direct") << false << false << false;
    QTest::newRow("ssh forward") << true << false << false;
    // A direct connection asks for TLS alone; this server refuses it.
    QTest::newRow("tls only") << false << true << false;
    // The "direct" row again, on a display that cannot share memory with us.
    QTest::newRow("no shared memory") << false << false << true;
}

void TestRdpDisplay::showsRemoteScreen()
{
    QFETCH(bool, throughSsh);
    QFETCH(bool, tls);
    QFETCH(bool, noSharedMemory);
    if (noSharedMemory) {
        RdpTestXvfb xvfb;
        QString error;
        QVERIFY2(xvfb.start({QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("1600x1200x24"),
                             QStringLiteral("-extension"), QStringLiteral("MIT-SHM")},
                            &error),
                 qPrintable(error));
        QProcessEnvironment environment = xvfb.environment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        QProcess helper;
        helper.setProcessEnvironment(environment);
        helper.setProcessChannelMode(QProcess::ForwardedChannels);
        helper.start(QCoreApplication::applicationFilePath(), {QStringLiteral("showsRemoteScreen:direct")});
        QVERIFY(helper.waitForFinished(120000));
        QCOMPARE(helper.exitCode(), 0);
        return;
    }
    SshServer ssh;
    QProcess client;
    quint16 forward = 0;
    if (throughSsh) {
        QString error;
        QVERIFY2(ssh.start(&error), qPrintable(error));
        forward = SshServer::freePort();
        client.setProcessEnvironment(ssh.clientEnvironment());
        client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        client.start(QDir(ssh.clientBinDir()).filePath(QStringLiteral("ssh")),
                     {QStringLiteral("-N"), QStringLiteral("-D"), QString::number(forward), QStringLiteral("-l"),
                      ssh.user(), QStringLiteral("-p"), QString::number(ssh.port()), QStringLiteral("--"),
                      ssh.host()});
        QVERIFY(client.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(portAccepts(forward) || client.state() == QProcess::NotRunning, 20000);
        QCOMPARE(client.state(), QProcess::Running);
    }
    {
        RdpInstance instance;
        QSignalSpy connected(&instance, &RdpInstance::connected);
        QSignalSpy finished(&instance, &RdpInstance::finished);
        // Through the forward the host is what ssh reached; the display goes
        // to 127.0.0.1 on the far side.
        instance.start(throughSsh ? QStringLiteral("server.invalid") : QStringLiteral("127.0.0.1"), m_server.port(),
                       QStringLiteral("tester"), QString(), forward, QStringLiteral("1024x768"),
                       QStringLiteral("Probe"), tls, QVariantMap());
        if (tls) {
            // Never talked down to the RDP security, which authenticates nothing.
            QVERIFY(finished.wait(ConnectTimeout));
            QVERIFY(connected.isEmpty());
            QCOMPARE(instance.exitCode(), RdpExitCode::ConnectFailed);
            return;
        }
        QVERIFY(connected.wait(ConnectTimeout));
        RdpDesktopWidget* desktop = desktopOf(instance);
        QVERIFY(desktop && desktop->window()->isVisible());
        QCOMPARE(desktop->size(), QSize(1024, 768));
        QCOMPARE(desktop->window()->windowTitle(), QStringLiteral("Probe"));
        const QImage remote = m_server.capture();
        QVERIFY(!remote.isNull());
        QString mismatch;
        QTRY_VERIFY2_WITH_TIMEOUT(matchesRemote(desktop, remote, &mismatch), qPrintable(mismatch), 20000);
        // Straight from shared memory where the display offers it, through
        // the toolkit elsewhere; the X server shows the same either way.
        int opcode = 0, event = 0, error = 0;
        const bool sharedMemory =
            XQueryExtension(QX11Info::display(), "MIT-SHM", &opcode, &event, &error) == True;
        QCOMPARE(desktop->paintsOnScreen(), sharedMemory);
        QTRY_VERIFY2_WITH_TIMEOUT(showsRemoteOnScreen(desktop, remote, 1.0, &mismatch), qPrintable(mismatch),
                                  20000);
        // Another participant's pointer shows over the remote screen.
        const QPoint pointer(300, 300);
        const QImage cursor = QImage(QStringLiteral(":/images/resources/cursor.png")).convertToFormat(QImage::Format_ARGB32);
        QVERIFY(!cursor.isNull());
        desktop->handleOverlayMouseEvent(pointer, 0);
        const auto showsPointer = [&] {
            const QPoint at = desktop->mapToGlobal(pointer);
            const QImage shown = desktop->screen()
                                     ->grabWindow(0, at.x(), at.y(), cursor.width(), cursor.height())
                                     .toImage()
                                     .convertToFormat(QImage::Format_RGB32);
            int opaque = 0;
            for (int y = 0; y < cursor.height(); ++y) {
                for (int x = 0; x < cursor.width(); ++x) {
                    if (qAlpha(cursor.pixel(x, y)) < 255)
                        continue;
                    ++opaque;
                    if (!sameColour(shown.pixel(x, y), cursor.pixel(x, y))) {
                        mismatch = QStringLiteral("pointer pixel %1,%2: %3 instead of %4")
                                       .arg(x).arg(y).arg(shown.pixel(x, y), 8, 16).arg(cursor.pixel(x, y), 8, 16);
                        return false;
                    }
                }
            }
            return opaque > 0;
        };
        QTRY_VERIFY2_WITH_TIMEOUT(showsPointer(), qPrintable(mismatch), 20000);
    }
    if (throughSsh) {
        client.kill();
        client.waitForFinished();
    }
}

void TestRdpDisplay::clickLandsOnRemotePixel_data()
{
    QTest::addColumn<double>("factor");
    QTest::addColumn<QSize>("localSize");
    QTest::addColumn<QPoint>("local");
    QTest::addColumn<QPoint>("remote");
    // Scale is remote pixels per local pixel: 0.5 shows the desktop twice as large.
    QTest::newRow("0.5") << 0.5 << QSize(2048, 1536) << QPoint(601, 403) << QPoint(300, 201);
    QTest::newRow("1") << 1.0 << QSize(1024, 768) << QPoint(601, 403) << QPoint(601, 403);
    QTest::newRow("2") << 2.0 << QSize(512, 384) << QPoint(301, 203) << QPoint(602, 406);
}

void TestRdpDisplay::clickLandsOnRemotePixel()
{
    QFETCH(double, factor);
    QFETCH(QSize, localSize);
    QFETCH(QPoint, local);
    QFETCH(QPoint, remote);
    const QString sessionId = QStringLiteral("scale-%1").arg(factor);
    {
        QSettings settings;
        settings.setValue(QStringLiteral("%1-Settings/ScalingFactor").arg(sessionId), factor);
    }
    RdpInstance instance;
    QVERIFY(connectDirect(instance, sessionId));
    RdpDesktopWidget* desktop = desktopOf(instance);
    QCOMPARE(desktop->size(), localSize);
    const QImage shown = m_server.capture();
    QString mismatch;
    QTRY_VERIFY2_WITH_TIMEOUT(showsRemoteOnScreen(desktop, shown, factor, &mismatch), qPrintable(mismatch), 20000);
    // The window opens at the desktop's size, as far as the screen allows,
    // with scroll bars only when it does not fit.
    QWidget* window = desktop->window();
    const QSize available = window->screen()->availableGeometry().size();
    QTRY_COMPARE_WITH_TIMEOUT(window->size(), localSize.boundedTo(available), 5000);
    auto* scrollArea = window->findChild<QScrollArea*>();
    QTRY_COMPARE_WITH_TIMEOUT(scrollArea->horizontalScrollBar()->isVisible(), localSize.width() > available.width(),
                              5000);
    QTRY_COMPARE_WITH_TIMEOUT(scrollArea->verticalScrollBar()->isVisible(), localSize.height() > available.height(),
                              5000);
    // The real pointer too, which the client reports after each click.
    QCursor::setPos(desktop->mapToGlobal(local));
    QTest::mouseClick(desktop, Qt::LeftButton, Qt::NoModifier, local);
    QVERIFY(waitForProbeLine(QStringLiteral("button 1 %1 %2").arg(remote.x()).arg(remote.y())));
    // Two half steps of a touchpad make one step up, where the pointer is.
    for (int i = 0; i < 2; ++i) {
        QWheelEvent wheel(QPointF(local), QPointF(desktop->mapToGlobal(local)), QPoint(), QPoint(0, 60),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(desktop, &wheel);
    }
    QVERIFY(waitForProbeLine(QStringLiteral("button 4 %1 %2").arg(remote.x()).arg(remote.y())));
}

void TestRdpDisplay::typingReachesRemoteProgram()
{
    RdpInstance instance;
    RdpDesktopWidget* desktop = focusedDesktop(instance);
    QVERIFY(desktop);
    // Real key events of the local X server, so they carry their keycodes.
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("50"),
                                              QStringLiteral("z"), QStringLiteral("Tab"), QStringLiteral("Up")});
    QVERIFY(xdotool.waitForFinished(20000));
    QCOMPARE(xdotool.exitCode(), 0);
    QVERIFY(waitForProbeLine(QStringLiteral("key z")));
    // Tab goes to the session, not to the next local widget.
    QVERIFY(waitForProbeLine(QStringLiteral("key Tab")));
    QVERIFY(desktop->hasFocus());
    QVERIFY(waitForProbeLine(QStringLiteral("key Up")));
}

void TestRdpDisplay::keysStillDownAreReleasedOnFocusOut()
{
    RdpInstance instance;
    RdpDesktopWidget* desktop = focusedDesktop(instance);
    QVERIFY(desktop);
    // Without auto-repeat on either display the only release the session
    // can see is the client's.
    QCOMPARE(QProcess::execute(QStringLiteral("xset"), {QStringLiteral("r"), QStringLiteral("off")}), 0);
    QCOMPARE(QProcess::execute(QStringLiteral("xset"), {QStringLiteral("-display"), m_server.display(),
                                                        QStringLiteral("r"), QStringLiteral("off")}), 0);
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"), {QStringLiteral("keydown"), QStringLiteral("x")});
    QVERIFY(xdotool.waitForFinished(20000));
    QVERIFY(waitForProbeLine(QStringLiteral("key x")));
    QVERIFY(!m_server.probeLines().contains(QStringLiteral("release x")));
    // Focus moves elsewhere while the key is held: the session must not
    // keep it down, whatever happens to the key afterwards.
    QLineEdit elsewhere;
    elsewhere.show();
    elsewhere.activateWindow();
    elsewhere.setFocus();
    QTRY_VERIFY_WITH_TIMEOUT(!desktop->hasFocus(), 10000);
    QVERIFY(waitForProbeLine(QStringLiteral("release x")));
    xdotool.start(QStringLiteral("xdotool"), {QStringLiteral("keyup"), QStringLiteral("x")});
    QVERIFY(xdotool.waitForFinished(20000));
    QProcess::execute(QStringLiteral("xset"), {QStringLiteral("r"), QStringLiteral("on")});
}

void TestRdpDisplay::toolbarSlidesInOnFirstShowAndOutAfterFiveSeconds()
{
    RdpInstance instance;
    QVERIFY(connectDirect(instance));
    RdpMainWidget* window = instance.context()->mainWidget;
    RdpToolbar* toolbar = window->toolbar();
    // Centred, and a 3-pixel strip stays visible when hidden.
    const QRect shown = window->toolbarShownRect();
    const QRect hidden = window->toolbarHiddenRect();
    QCOMPARE(shown.top(), 1);
    QCOMPARE(shown.bottom(), toolbar->height());
    QCOMPARE(hidden.bottom(), 2);
    QCOMPARE(shown.left(), (window->width() - 1) / 2 - (toolbar->width() - 1) / 2);
    QTRY_COMPARE_WITH_TIMEOUT(toolbar->geometry(), shown, 5000);
    // Every enabled button's icon stands out from what lies behind it on the
    // screen, checked too.
    auto* fullscreen = toolbar->findChild<QPushButton*>(QStringLiteral("FullscreenButton"));
    fullscreen->setChecked(true);
    toolbar->repaint();
    const QRect onScreen(toolbar->mapToGlobal(QPoint(0, 0)), toolbar->size());
    const QImage bar = QGuiApplication::primaryScreen()
                           ->grabWindow(0, onScreen.x(), onScreen.y(), onScreen.width(), onScreen.height())
                           .toImage();
    int enabled = 0;
    for (QPushButton* button : toolbar->findChildren<QPushButton*>()) {
        if (!button->isEnabled())
            continue;
        ++enabled;
        // The commonest grey in the button is its background.
        const QRect area(button->mapTo(toolbar, QPoint(0, 0)), button->size());
        QVector<int> greys(256);
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                ++greys[qGray(bar.pixel(x, y))];
        const int background = static_cast<int>(std::max_element(greys.begin(), greys.end()) - greys.begin());
        int contrast = 0;
        for (int grey = 0; grey < 256; ++grey)
            if (greys[grey] > 0)
                contrast = qMax(contrast, qAbs(grey - background));
        QVERIFY2(contrast >= 100, qPrintable(button->objectName() + QStringLiteral(": ") + QString::number(contrast)));
    }
    // Disconnect, Full screen and Options: the shadow server offers no
    // desktop or sharing channel for the other two.
    QCOMPARE(enabled, 3);
    fullscreen->setChecked(false);
    QTRY_COMPARE_WITH_TIMEOUT(toolbar->geometry(), hidden, 15000);
    // Touching the strip brings it back.
    QEvent enter(QEvent::Enter);
    QCoreApplication::sendEvent(toolbar, &enter);
    QTRY_COMPARE_WITH_TIMEOUT(toolbar->geometry(), shown, 5000);
    // Input on the desktop sends it away at once.
    QTest::mouseClick(window->desktopWidget(), Qt::LeftButton, Qt::NoModifier, QPoint(500, 500));
    QTRY_COMPARE_WITH_TIMEOUT(toolbar->geometry(), hidden, 5000);
    // This server does not speak the desktop channel.
    QVERIFY(!toolbar->findChild<QWidget*>(QStringLiteral("ResizeButton"))->isEnabled());
}

void TestRdpDisplay::fullScreenCoversDesktopAndRestoresWindow()
{
    RdpInstance instance;
    QVERIFY(connectDirect(instance));
    RdpMainWidget* window = instance.context()->mainWidget;
    auto* button = window->toolbar()->findChild<QPushButton*>(QStringLiteral("FullscreenButton"));
    QVERIFY(button);
    QTRY_VERIFY_WITH_TIMEOUT(window->isVisible(), 5000);
    const QRect before = window->geometry();
    button->click();
    QVERIFY(button->isChecked());
    QTRY_COMPARE_WITH_TIMEOUT(window->geometry(), QGuiApplication::primaryScreen()->virtualGeometry(), 5000);
    QVERIFY(window->windowFlags() & Qt::FramelessWindowHint);
    // A second entry keeps the geometry saved by the first.
    window->enterFullScreen();
    button->click();
    QVERIFY(!button->isChecked());
    QVERIFY(!(window->windowFlags() & Qt::FramelessWindowHint));
    QTRY_COMPARE_WITH_TIMEOUT(window->geometry().size(), before.size(), 5000);
}

void TestRdpDisplay::disconnectButtonEndsQuietlyOnce()
{
    RdpInstance instance;
    QSignalSpy finished(&instance, &RdpInstance::finished);
    QVERIFY(connectDirect(instance));
    // A second start of a running instance is ignored.
    RdpClientContext* context = instance.context();
    QVERIFY(instance.start(QStringLiteral("127.0.0.1"), 1, QString(), QString(), 0, QStringLiteral("800x600"),
                           QString(), false, QVariantMap()));
    QCOMPARE(instance.context(), context);
    RdpToolbar* toolbar = context->mainWidget->toolbar();
    // Sharing has nothing behind it on this connection; the options offer
    // only the zoom without the server's options channel.
    QVERIFY(!context->optionsDialog->findChild<QGroupBox*>(QStringLiteral("UpdateBox"))->isEnabled());
    QVERIFY(!toolbar->findChild<QPushButton*>(QStringLiteral("SharingButton"))->isEnabled());
    auto* button = toolbar->findChild<QPushButton*>(QStringLiteral("DisconnectButton"));
    QVERIFY(button && button->isEnabled());
    button->click();
    QVERIFY(finished.wait(ConnectTimeout));
    QCOMPARE(instance.exitCode(), 0);
    QVERIFY(!instance.isRunning());
    QVERIFY(!instance.context());
    // A quit after the end does nothing.
    instance.quit();
    QCOMPARE(finished.count(), 1);
    QCOMPARE(instance.exitCode(), 0);
}

void TestRdpDisplay::refusedPortEndsWithConnectFailure()
{
    RdpInstance instance;
    QSignalSpy connected(&instance, &RdpInstance::connected);
    QSignalSpy finished(&instance, &RdpInstance::finished);
    instance.start(QStringLiteral("127.0.0.1"), SshServer::freePort(), QStringLiteral("tester"), QString(), 0,
                   QStringLiteral("1024x768"), QStringLiteral("Refused"), false, QVariantMap());
    QVERIFY(instance.isRunning());
    QVERIFY(finished.wait(ConnectTimeout));
    QCOMPARE(connected.count(), 0);
    QCOMPARE(instance.exitCode(), 131);
    QVERIFY(!instance.isRunning());
}

void TestRdpDisplay::quitWhileConnectingAbortsAtOnce()
{
    // A peer that takes the connection and never answers, like a stuck tunnel.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    RdpInstance instance;
    QSignalSpy finished(&instance, &RdpInstance::finished);
    instance.start(QStringLiteral("127.0.0.1"), silent.serverPort(), QStringLiteral("tester"), QString(), 0,
                   QStringLiteral("1024x768"), QStringLiteral("Silent"), false, QVariantMap());
    QVERIFY(silent.waitForNewConnection(20000));
    // Once the first request is out, the library sits in a blocking read.
    QTcpSocket* peer = silent.nextPendingConnection();
    QVERIFY(peer);
    QTRY_VERIFY_WITH_TIMEOUT(peer->bytesAvailable() > 0, 20000);
    QElapsedTimer elapsed;
    elapsed.start();
    instance.quit();
    // Without the cancel this waits for the library's own read time-out.
    QVERIFY2(elapsed.elapsed() < 10000, qPrintable(QString::number(elapsed.elapsed())));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(instance.exitCode(), 0);
    QVERIFY(!instance.isRunning());
}

void TestRdpDisplay::quitAtEachStageOfConnectEndsOnce()
{
    // From the TCP connect to the session's activation (about a second),
    // while the worker opens, replaces and frees the library's sockets.
    for (int delay = 0; delay <= 1400; delay += 200) {
        RdpInstance instance;
        QSignalSpy finished(&instance, &RdpInstance::finished);
        instance.start(QStringLiteral("127.0.0.1"), m_server.port(), QStringLiteral("tester"), QString(), 0,
                       QStringLiteral("1024x768"), QStringLiteral("Stages"), false, QVariantMap());
        QTest::qWait(delay);
        QElapsedTimer elapsed;
        elapsed.start();
        instance.quit();
        QVERIFY2(elapsed.elapsed() < 10000, qPrintable(QString::number(elapsed.elapsed())));
        QCOMPARE(finished.count(), 1);
        QCOMPARE(instance.exitCode(), 0);
        QVERIFY(!instance.isRunning());
    }
    // The server took every attempt and still serves.
    RdpInstance instance;
    QVERIFY(connectDirect(instance));
}

void TestRdpDisplay::killedServerEndsWithConnectFailure()
{
    RdpShadowServer server;
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));
    RdpInstance instance;
    QSignalSpy connected(&instance, &RdpInstance::connected);
    QSignalSpy finished(&instance, &RdpInstance::finished);
    instance.start(QStringLiteral("127.0.0.1"), server.port(), QStringLiteral("tester"), QString(), 0,
                   QStringLiteral("1024x768"), QStringLiteral("Crash"), false, QVariantMap());
    QVERIFY(connected.wait(ConnectTimeout));
    server.killServer();
    QVERIFY(finished.wait(ConnectTimeout));
    // Not 0: the user must learn that the display did not end by itself.
    QCOMPARE(instance.exitCode(), 131);
}

void TestRdpDisplay::windowOpensAtDesktopSizeUnderWindowManager()
{
    QProcess windowManager;
    windowManager.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    QVERIFY(windowManager.waitForStarted());
    // Managing once it has announced itself on the root window.
    QVERIFY(QTest::qWaitFor([] {
        QProcess xprop;
        xprop.start(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")});
        return xprop.waitForFinished(5000) && xprop.readAllStandardOutput().contains("window id");
    }, 20000));
    {
        RdpInstance instance;
        QVERIFY(connectDirect(instance));
        RdpMainWidget* window = instance.context()->mainWidget;
        QTRY_VERIFY_WITH_TIMEOUT(window->isVisible(), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(window->size(), m_server.screenSize(), 5000);
        auto* scrollArea = window->findChild<QScrollArea*>();
        QTRY_VERIFY_WITH_TIMEOUT(!scrollArea->horizontalScrollBar()->isVisible(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!scrollArea->verticalScrollBar()->isVisible(), 5000);
    }
    windowManager.terminate();
    QVERIFY(windowManager.waitForFinished(10000));
}

QTEST_MAIN(TestRdpDisplay)
#include "tst_rdpdisplay.moc"
