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

#include <QApplication>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <QX11Info>

#include <freerdp/window.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

namespace {

constexpr int Timeout = 30000;

QString run(const QString& program, const QStringList& arguments,
            const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// The session's window with this title, 0 while there is none.
quint32 sessionWindow(const SessionFixture& session, const QString& title)
{
    return run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--name"),
                                           QStringLiteral("^%1$").arg(title)},
               session.environment())
        .section(QLatin1Char('\n'), 0, 0)
        .toUInt();
}

// A window with its border in root coordinates, as the X server has it.
QRect windowArea(quint64 id, const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    const QString info = run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), QString::number(id)}, environment);
    auto value = [&info](const char* label) {
        const QRegularExpression pattern(QStringLiteral("%1:\\s+(-?\\d+)").arg(QLatin1String(label)));
        return pattern.match(info).captured(1).toInt();
    };
    const int border = 2 * value("Border width");
    return QRect(value("Absolute upper-left X"), value("Absolute upper-left Y"), value("Width") + border,
                 value("Height") + border);
}

// Same colours within what the lossy codec changes, whatever the two
// displays put in the unused byte.
bool sameColours(const QImage& a, const QImage& b)
{
    constexpr int Tolerance = 24;
    if (a.isNull() || a.size() != b.size())
        return false;
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    for (int row = 0; row < x.height(); ++row) {
        const auto* p = reinterpret_cast<const quint32*>(x.constScanLine(row));
        const auto* q = reinterpret_cast<const quint32*>(y.constScanLine(row));
        for (int column = 0; column < x.width(); ++column) {
            if (qAbs(qRed(p[column]) - qRed(q[column])) > Tolerance
                || qAbs(qGreen(p[column]) - qGreen(q[column])) > Tolerance
                || qAbs(qBlue(p[column]) - qBlue(q[column])) > Tolerance)
                return false;
        }
    }
    return true;
}

// Asks the window manager to close a window, as its close button does.
void closeWithWindowManager(quint64 window)
{
    Display* display = QX11Info::display();
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "_NET_CLOSE_WINDOW", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = CurrentTime;
    event.xclient.data.l[1] = 2;
    XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask,
               &event);
    XFlush(display);
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

bool keyDown(Display* display, KeySym keysym)
{
    char keys[32] = {};
    XQueryKeymap(display, keys);
    const KeyCode code = XKeysymToKeycode(display, keysym);
    return code != 0 && (keys[code / 8] & (1 << (code % 8)));
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

// Asks the window manager to (un)maximise a window, as its button does.
void maximizeWithWindowManager(quint64 window, bool on)
{
    Display* display = QX11Info::display();
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "_NET_WM_STATE", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = on ? 1 : 0;
    event.xclient.data.l[1] = long(XInternAtom(display, "_NET_WM_STATE_MAXIMIZED_VERT", False));
    event.xclient.data.l[2] = long(XInternAtom(display, "_NET_WM_STATE_MAXIMIZED_HORZ", False));
    event.xclient.data.l[3] = 2;
    XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask,
               &event);
    XFlush(display);
}

QList<RdpRailWidget*> railWidgets()
{
    QList<RdpRailWidget*> widgets;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* rail = qobject_cast<RdpRailWidget*>(widget))
            widgets << rail;
    }
    return widgets;
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
    windowManager.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    QVERIFY(windowManager.waitForStarted());
    auto stopWindowManager = qScopeGuard([&] {
        windowManager.terminate();
        windowManager.waitForFinished(10000);
    });
    QVERIFY(QTest::qWaitFor([] {
        return run(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")})
            .contains(QLatin1String("window id"));
    }, 20000));

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

    // The xterm as a local window with its title, at the server's place.
    QTRY_VERIFY_WITH_TIMEOUT(railWidget(instance, QStringLiteral("RailTerm")), Timeout);
    QPointer<RdpRailWidget> local = railWidget(instance, QStringLiteral("RailTerm"));
    const QRect remote = windowArea(term, session.environment());
    QCOMPARE(remote.topLeft(), QPoint(120, 140));
    QTRY_COMPARE_WITH_TIMEOUT(windowArea(local->winId()), remote, Timeout);

    // Showing the xterm's pixels.
    const QString display = QString::fromLocal8Bit(qgetenv("DISPLAY"));
    auto same = [&] {
        const QImage shown = captureDisplay(display).copy(remote);
        const QImage server = captureDisplay(session.display(), session.authority()).copy(remote);
        return sameColours(shown, server);
    };
    QTRY_VERIFY_WITH_TIMEOUT(same(), Timeout);

    // Typed keys reach the xterm's shell.
    run(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"),
                                    QString::number(local->winId())});
    QTRY_VERIFY_WITH_TIMEOUT(local->isActiveWindow(), Timeout);
    const QString typed = session.directory() + QStringLiteral("/typed");
    run(QStringLiteral("xdotool"), {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("30"),
                                    QStringLiteral("touch %1").arg(typed)});
    run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Return")});
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(typed), Timeout);

    // Moved by the local window manager: the remote window follows.
    run(QStringLiteral("xdotool"), {QStringLiteral("windowmove"), QString::number(local->winId()),
                                    QStringLiteral("400"), QStringLiteral("300")});
    QTRY_VERIFY_WITH_TIMEOUT(windowArea(local->winId()).topLeft() != remote.topLeft(), Timeout);
    const QRect moved = windowArea(local->winId());
    QTRY_COMPARE_WITH_TIMEOUT(windowArea(term, session.environment()), moved, Timeout);

    // Stacked as the server has it when a program there raises its window.
    QTRY_VERIFY_WITH_TIMEOUT(railWidget(instance, QStringLiteral("RailOther")), Timeout);
    QPointer<RdpRailWidget> other = railWidget(instance, QStringLiteral("RailOther"));
    const quint32 otherRemote = sessionWindow(session, QStringLiteral("RailOther"));
    for (const bool termOnTop : {false, true}) {
        run(QStringLiteral("xdotool"), {QStringLiteral("windowraise"), QString::number(termOnTop ? term : otherRemote)},
            session.environment());
        RdpRailWidget* top = termOnTop ? local.data() : other.data();
        RdpRailWidget* below = termOnTop ? other.data() : local.data();
        QTRY_VERIFY_WITH_TIMEOUT(stackingIndex(top->winId()) > stackingIndex(below->winId()), Timeout);
    }

    Display* sessionDisplay = openSessionDisplay(session);
    QVERIFY(sessionDisplay);
    auto closeSessionDisplay = qScopeGuard([&] { XCloseDisplay(sessionDisplay); });

    // Another program has the keyboard: a window opening in the session
    // does not take it, and a modifier held there is held in the session
    // once a session window takes the keyboard.
    QProcess elsewhere;
    elsewhere.start(QStringLiteral("xmessage"), {QStringLiteral("-title"), QStringLiteral("Elsewhere"),
                                                  QStringLiteral("-geometry"), QStringLiteral("+1300+40"),
                                                  QStringLiteral("elsewhere")});
    QVERIFY(elsewhere.waitForStarted());
    auto stopElsewhere = qScopeGuard([&] {
        elsewhere.kill();
        elsewhere.waitForFinished(10000);
    });
    QString elsewhereId;
    QTRY_VERIFY_WITH_TIMEOUT(!(elsewhereId = run(QStringLiteral("xdotool"),
                                                 {QStringLiteral("search"), QStringLiteral("--name"),
                                                  QStringLiteral("^Elsewhere$")})
                                              .section(QLatin1Char('\n'), 0, 0))
                                  .isEmpty(),
                             Timeout);
    run(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"), elsewhereId});
    QTRY_COMPARE_WITH_TIMEOUT(run(QStringLiteral("xdotool"), {QStringLiteral("getactivewindow")}), elsewhereId,
                              Timeout);
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
    QCOMPARE(run(QStringLiteral("xdotool"), {QStringLiteral("getactivewindow")}), elsewhereId);

    run(QStringLiteral("xdotool"), {QStringLiteral("keydown"), QStringLiteral("Shift_L")});
    auto releaseShift = qScopeGuard(
        [] { run(QStringLiteral("xdotool"), {QStringLiteral("keyup"), QStringLiteral("Shift_L")}); });
    run(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"),
                                    QString::number(local->winId())});
    QTRY_VERIFY_WITH_TIMEOUT(local->isActiveWindow(), Timeout);
    QTRY_VERIFY_WITH_TIMEOUT(keyDown(sessionDisplay, XK_Shift_L), Timeout);
    releaseShift.dismiss();
    run(QStringLiteral("xdotool"), {QStringLiteral("keyup"), QStringLiteral("Shift_L")});
    QTRY_VERIFY_WITH_TIMEOUT(!keyDown(sessionDisplay, XK_Shift_L), Timeout);

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
        return run(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(term), QStringLiteral("WM_STATE")},
                   session.environment());
    };
    run(QStringLiteral("xdotool"), {QStringLiteral("windowminimize"), QString::number(local->winId())});
    QTRY_VERIFY_WITH_TIMEOUT(wmState().contains(QLatin1String("Iconic")), Timeout);
    run(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QString::number(local->winId())});
    QTRY_VERIFY_WITH_TIMEOUT(wmState().contains(QLatin1String("Normal")), Timeout);
    const QSize work = QGuiApplication::primaryScreen()->availableGeometry().size();
    // The local window manager sizes a maximised window; the xterm follows it.
    auto maximized = [&] {
        const QRect area = windowArea(term, session.environment());
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
    run(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"),
                                    QString::number(other->winId())});
    QTRY_VERIFY_WITH_TIMEOUT(other->isActiveWindow(), Timeout);
    run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("ctrl+alt+shift+o")});
    RdpOptionsDialog* options = instance.context()->optionsDialog;
    QTRY_VERIFY_WITH_TIMEOUT(options->isVisible(), Timeout);
    options->findChild<QSlider*>(QStringLiteral("ScaleSlider"))->triggerAction(QAbstractSlider::SliderToMinimum);
    const QPoint zoomed = RdpCoordinates::globalToRemote(QRect(other->mapToGlobal(QPoint(0, 0)), other->size()),
                                                         instance.context()->scale,
                                                         RdpCoordinates::virtualDesktop().topLeft())
                              .topLeft();
    QCOMPARE(instance.context()->scale, 0.5);
    QTRY_COMPARE_WITH_TIMEOUT(windowArea(otherRemote, session.environment()).topLeft(), zoomed, Timeout);

    // Disconnecting takes the remaining window with it.
    instance.quit();
    QCOMPARE(finished.size(), 1);
    QVERIFY(railWidgets().isEmpty());
}

QTEST_MAIN(TestRdpRail)
#include "tst_rdprail.moc"
