// A rootless session end to end: the display server's Xvnc session with
// real xterms, our client in rootless mode under openbox on the test's Xvfb.

#include "DisplayCapture.h"
#include "RdpClientContext.h"
#include "RdpCoordinates.h"
#include "RdpInstance.h"
#include "RdpOptionsDialog.h"
#include "RdpRailWidget.h"
#include "RdpRailWindows.h"
#include "SessionFixture.h"
#include "TopLevels.h"

#include <QApplication>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QScreen>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <QX11Info>

#include <freerdp/window.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

constexpr int Timeout = 30000;

// The session's window with this title, 0 while there is none.
quint32 sessionWindow(const SessionFixture& session, const QString& title)
{
    return quint32(windowTitled(title, session.display(), session.authority()));
}

// A connection to the session's display, as a program in the session has.
Display* openSessionDisplay(const SessionFixture& session)
{
    const QByteArray authority = qgetenv("XAUTHORITY");
    qputenv("XAUTHORITY", session.authority().toLocal8Bit());
    Display* display = XOpenDisplay(session.display().toLocal8Bit().constData());
    if (authority.isNull())
        qunsetenv("XAUTHORITY");
    else
        qputenv("XAUTHORITY", authority);
    return display;
}

// Position of a window's frame in the local stacking order, bottom first.
int stackingIndex(WId window)
{
    Display* display = QX11Info::display();
    const Window root = DefaultRootWindow(display);
    Window frame = window;
    for (;;) {
        Window rootReturn = 0, parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display, frame, &rootReturn, &parent, &children, &count))
            return -1;
        if (children)
            XFree(children);
        if (parent == root || parent == 0)
            break;
        frame = parent;
    }
    Window rootReturn = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    XQueryTree(display, root, &rootReturn, &parent, &children, &count);
    int index = -1;
    for (unsigned i = 0; i < count; ++i) {
        if (children[i] == frame)
            index = int(i);
    }
    if (children)
        XFree(children);
    return index;
}

RdpRailWidget* railWidget(RdpInstance& instance, const QString& title)
{
    if (!instance.context() || !instance.context()->railWindows)
        return nullptr;
    for (RdpRailWidget* widget : instance.context()->railWindows->windows()) {
        if (widget->windowTitle() == title && widget->isVisible())
            return widget;
    }
    return nullptr;
}

} // namespace

class TestRdpRail : public QObject
{
    Q_OBJECT

private slots:
    void remoteWindowsBecomeLocalWindows();
};

void TestRdpRail::remoteWindowsBecomeLocalWindows()
{
    QProcess windowManager;
    QVERIFY(startWindowManager(&windowManager));
    auto stopWindowManager = qScopeGuard([&] {
        windowManager.terminate();
        windowManager.waitForFinished(10000);
    });

    SessionFixture session;
    QString error;
    QVERIFY2(session.start(QStringLiteral("xterm -T RailTerm -geometry 60x12+120+140 & "
                                          "exec xterm -T RailOther -geometry 20x4+900+700"),
                           QStringLiteral("rootless"), &error),
             qPrintable(error));
    QTRY_VERIFY_WITH_TIMEOUT(sessionWindow(session, QStringLiteral("RailTerm")) != 0, Timeout);
    const quint32 term = sessionWindow(session, QStringLiteral("RailTerm"));

    RdpInstance instance;
    QSignalSpy connected(&instance, &RdpInstance::connected);
    QSignalSpy finished(&instance, &RdpInstance::finished);
    instance.start(QStringLiteral("127.0.0.1"), session.port(), QStringLiteral("tester"), session.password(), 0,
                   QStringLiteral("rootless"), QStringLiteral("Rail"), false, QVariantMap());
    QVERIFY(connected.wait(Timeout));
    // Rootless: window control and options, no desktop size or sharing.
    QVERIFY(instance.context()->qzrail && instance.context()->qzcfg);
    QVERIFY(!instance.context()->qzdesk && !instance.context()->qzshare);

    // The xterm as a local window with its title, at the server's place (its
    // pixels, typed keys and moves are followed in tst_e2e's rootless case).
    QTRY_VERIFY_WITH_TIMEOUT(railWidget(instance, QStringLiteral("RailTerm")), Timeout);
    QPointer<RdpRailWidget> local = railWidget(instance, QStringLiteral("RailTerm"));
    const QRect remote = windowArea(term, session.display(), session.authority());
    QCOMPARE(remote.topLeft(), QPoint(120, 140));
    QTRY_COMPARE_WITH_TIMEOUT(windowArea(local->winId()), remote, Timeout);

    // Stacked as the server has it when a program there raises its window,
    // and never dropped under another program's window on the way there:
    // the other program is brought up first, then programs in the session
    // raise their windows in turn.
    QProcess elsewhere;
    elsewhere.start(QStringLiteral("xmessage"), {QStringLiteral("-title"), QStringLiteral("Elsewhere"),
                                                  QStringLiteral("-geometry"), QStringLiteral("+1300+40"),
                                                  QStringLiteral("elsewhere")});
    QVERIFY(elsewhere.waitForStarted());
    auto stopElsewhere = qScopeGuard([&] {
        elsewhere.kill();
        elsewhere.waitForFinished(10000);
    });
    quint64 elsewhereWindow = 0;
    QTRY_VERIFY_WITH_TIMEOUT((elsewhereWindow = windowTitled(QStringLiteral("Elsewhere"))) != 0, Timeout);
    const QString elsewhereId = QString::number(elsewhereWindow);
    QTRY_VERIFY_WITH_TIMEOUT(railWidget(instance, QStringLiteral("RailOther")), Timeout);
    QPointer<RdpRailWidget> other = railWidget(instance, QStringLiteral("RailOther"));
    const quint32 otherRemote = sessionWindow(session, QStringLiteral("RailOther"));
    runX(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"), elsewhereId});
    QTRY_COMPARE_WITH_TIMEOUT(runX(QStringLiteral("xdotool"), {QStringLiteral("getactivewindow")}), elsewhereId,
                              Timeout);
    // The second xterm opened last and is on top in the session.
    for (const bool termOnTop : {true, false, true}) {
        runX(QStringLiteral("xdotool"), {QStringLiteral("windowraise"), QString::number(termOnTop ? term : otherRemote)},
             session.display(), session.authority());
        RdpRailWidget* top = termOnTop ? local.data() : other.data();
        RdpRailWidget* below = termOnTop ? other.data() : local.data();
        QTRY_VERIFY_WITH_TIMEOUT(stackingIndex(top->winId()) > stackingIndex(below->winId()), Timeout);
    }
    QVERIFY(stackingIndex(other->winId()) > stackingIndex(WId(elsewhereWindow)));

    Display* sessionDisplay = openSessionDisplay(session);
    QVERIFY(sessionDisplay);
    auto closeSessionDisplay = qScopeGuard([&] { XCloseDisplay(sessionDisplay); });

    // Another program has the keyboard: a window opening in the session
    // does not take it, and a modifier held there is held in the session
    // once a session window takes the keyboard.
    QTRY_VERIFY_WITH_TIMEOUT(!QApplication::activeWindow(), Timeout);
    QProcess dialog;
    dialog.setProcessEnvironment(session.environment());
    dialog.start(QStringLiteral("xterm"), {QStringLiteral("-T"), QStringLiteral("RailDialog"),
                                           QStringLiteral("-geometry"), QStringLiteral("30x5+600+500")});
    QVERIFY(dialog.waitForStarted());
    auto stopDialog = qScopeGuard([&] {
        dialog.kill();
        dialog.waitForFinished(10000);
    });
    QTRY_VERIFY_WITH_TIMEOUT(railWidget(instance, QStringLiteral("RailDialog")), Timeout);
    QPointer<RdpRailWidget> dialogLocal = railWidget(instance, QStringLiteral("RailDialog"));
    QTest::qWait(1000);
    QCOMPARE(runX(QStringLiteral("xdotool"), {QStringLiteral("getactivewindow")}), elsewhereId);

    runX(QStringLiteral("xdotool"), {QStringLiteral("keydown"), QStringLiteral("Shift_L")});
    auto releaseShift = qScopeGuard(
        [] { runX(QStringLiteral("xdotool"), {QStringLiteral("keyup"), QStringLiteral("Shift_L")}); });
    runX(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"),
                                    QString::number(local->winId())});
    QTRY_VERIFY_WITH_TIMEOUT(local->isActiveWindow(), Timeout);
    const auto shiftHeld = [&] { return heldDown(session.display(), session.authority()).contains(QStringLiteral("Shift_L")); };
    QTRY_VERIFY_WITH_TIMEOUT(shiftHeld(), Timeout);
    releaseShift.dismiss();
    runX(QStringLiteral("xdotool"), {QStringLiteral("keyup"), QStringLiteral("Shift_L")});
    QTRY_VERIFY_WITH_TIMEOUT(!shiftHeld(), Timeout);

    // Made a dialog of the first xterm in the session: locally too.
    XSetTransientForHint(sessionDisplay, Window(sessionWindow(session, QStringLiteral("RailDialog"))), term);
    XFlush(sessionDisplay);
    auto localOwner = [&] {
        Window owner = 0;
        return XGetTransientForHint(QX11Info::display(), dialogLocal->winId(), &owner) ? quint64(owner) : 0;
    };
    QTRY_COMPARE_WITH_TIMEOUT(localOwner(), quint64(local->winId()), Timeout);
    QCOMPARE(dialogLocal->owner(), local.data());

    // Minimised and maximised by the local window manager: so is the xterm.
    auto wmState = [&] {
        return runX(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(term), QStringLiteral("WM_STATE")},
                    session.display(), session.authority());
    };
    runX(QStringLiteral("xdotool"), {QStringLiteral("windowminimize"), QString::number(local->winId())});
    QTRY_VERIFY_WITH_TIMEOUT(wmState().contains(QLatin1String("Iconic")), Timeout);
    runX(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QString::number(local->winId())});
    QTRY_VERIFY_WITH_TIMEOUT(wmState().contains(QLatin1String("Normal")), Timeout);
    const QSize work = QGuiApplication::primaryScreen()->availableGeometry().size();
    // The local window manager sizes a maximised window; the xterm follows it.
    auto maximized = [&] {
        const QRect area = windowArea(term, session.display(), session.authority());
        return local->isMaximized() && area.width() == work.width() && area == windowArea(local->winId());
    };
    maximizeWithWindowManager(local->winId(), true);
    QTRY_VERIFY_WITH_TIMEOUT(maximized(), Timeout);
    maximizeWithWindowManager(local->winId(), false);
    QTRY_VERIFY_WITH_TIMEOUT(!maximized(), Timeout);

    // Hostile orders neither crash nor make windows without bound.
    RdpRailWindows* windows = instance.context()->railWindows;
    const int before = windows->windows().size();
    constexpr quint32 Base = 0xF0000000;
    auto order = [](quint32 id, quint32 fields) {
        RdpRailOrder o;
        o.id = id;
        o.fields = WINDOW_ORDER_TYPE_WINDOW | fields;
        o.x = 100;
        o.y = 100;
        o.width = 200;
        o.height = 100;
        o.showState = WINDOW_SHOW;
        return o;
    };
    constexpr quint32 Create = WINDOW_ORDER_STATE_NEW | WINDOW_ORDER_FIELD_WND_OFFSET | WINDOW_ORDER_FIELD_WND_SIZE
        | WINDOW_ORDER_FIELD_SHOW;
    for (const quint32 side : {0u, 40000u}) {
        RdpRailOrder absurd = order(Base, Create);
        absurd.width = side;
        windows->apply(absurd);
        QVERIFY(!windows->window(Base));
    }
    RdpRailOrder self = order(Base + 1, Create | WINDOW_ORDER_FIELD_OWNER);
    self.owner = Base + 1;
    windows->apply(self);
    QVERIFY(windows->window(Base + 1));
    QVERIFY(!windows->window(Base + 1)->owner());
    windows->apply(order(Base + 2, Create));
    RdpRailOrder owned = order(Base + 3, Create | WINDOW_ORDER_FIELD_OWNER);
    owned.owner = Base + 2;
    windows->apply(owned);
    RdpRailOrder cycle = order(Base + 2, WINDOW_ORDER_FIELD_OWNER);
    cycle.owner = Base + 3;
    windows->apply(cycle);
    QCOMPARE(windows->window(Base + 3)->owner(), windows->window(Base + 2));
    QVERIFY(!windows->window(Base + 2)->owner());
    // Moved off every local screen: the window stays where it can be seen.
    RdpRailWidget* hidden = windows->window(Base + 1);
    QTRY_VERIFY_WITH_TIMEOUT(hidden->isVisible(), Timeout);
    RdpRailOrder away = order(Base + 1, WINDOW_ORDER_FIELD_WND_OFFSET);
    away.x = -20000;
    away.y = -20000;
    windows->apply(away);
    QTest::qWait(500);
    QVERIFY(RdpCoordinates::virtualDesktop().intersects(QRect(hidden->mapToGlobal(QPoint(0, 0)), hidden->size())));
    RdpRailOrder desktop;
    desktop.kind = RdpRailOrder::Desktop;
    desktop.fields = WINDOW_ORDER_TYPE_DESKTOP | WINDOW_ORDER_FIELD_DESKTOP_ZORDER;
    for (quint32 id = 0; id < 10000; ++id) {
        RdpRailOrder many = order(Base + 16 + id, Create);
        many.showState = WINDOW_HIDE;
        windows->apply(many);
        desktop.zOrder << Base + 16 + id % 300 << Base + 1;
    }
    QVERIFY(windows->windows().size() <= RdpRailWindows::MaxWindows);
    windows->apply(desktop);
    for (quint32 id = 0; id < 10016; ++id) {
        RdpRailOrder gone;
        gone.kind = RdpRailOrder::Delete;
        gone.id = Base + id;
        windows->apply(gone);
    }
    QCOMPARE(windows->windows().size(), before);

    // Closed with the window manager: the xterm ends, then its window goes.
    closeWithWindowManager(local->winId());
    QTRY_COMPARE_WITH_TIMEOUT(sessionWindow(session, QStringLiteral("RailTerm")), 0u, Timeout);
    QTRY_VERIFY_WITH_TIMEOUT(local.isNull(), Timeout);

    // The options open from a session window; with its zoom the remote
    // window takes the local one's place in the new remote pixels.
    runX(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"),
                                    QString::number(other->winId())});
    QTRY_VERIFY_WITH_TIMEOUT(other->isActiveWindow(), Timeout);
    runX(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("ctrl+alt+shift+o")});
    RdpOptionsDialog* options = instance.context()->optionsDialog;
    QTRY_VERIFY_WITH_TIMEOUT(options->isVisible(), Timeout);
    options->findChild<QSlider*>(QStringLiteral("ScaleSlider"))->triggerAction(QAbstractSlider::SliderToMinimum);
    const QPoint zoomed = RdpCoordinates::globalToRemote(QRect(other->mapToGlobal(QPoint(0, 0)), other->size()),
                                                         instance.context()->scale,
                                                         RdpCoordinates::virtualDesktop().topLeft())
                              .topLeft();
    QCOMPARE(instance.context()->scale, 0.5);
    QTRY_COMPARE_WITH_TIMEOUT(windowArea(otherRemote, session.display(), session.authority()).topLeft(), zoomed, Timeout);

    // Disconnecting takes the remaining window with it.
    instance.quit();
    QCOMPARE(finished.size(), 1);
    QVERIFY(topLevels<RdpRailWidget>().isEmpty());
}

QTEST_MAIN(TestRdpRail)
#include "tst_rdprail.moc"
