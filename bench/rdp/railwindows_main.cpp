// Rootless windows, timed between the two X servers: a session started
// rootless (Xvnc and zentu2_display) and this client in rootless mode on
// the display in DISPLAY, which needs a window manager (rail_windows.sh
// provides Xvfb and openbox). This program is also the session's X client,
// so both ends are seen on one clock:
// - map: from mapping a window on the session's display to the first paint
//   of its local window that shows the window's colour;
// - rest: with all windows open, the CPU time and the voluntary context
//   switches of this client and of zentu2_display while nothing changes;
// - drag: the left button drags a local window by its title bar (XTEST, in
//   steps); from each step to the local window reaching that place, from
//   there to the session's window reaching it, and from the release to the
//   session's window at its final place.
// Usage: ZENTU_BIN_DIR=<build>/bin railwindows [windows] [rest seconds] [drags]
#include "RdpClientContext.h"
#include "RdpInstance.h"
#include "RdpRailWidget.h"
#include "SessionFixture.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QSocketNotifier>
#include <QTest>
#include <QTimer>
#include <QX11Info>

#include <freerdp/codec/color.h>
#include <freerdp/gdi/gdi.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

const int Timeout = 30000;
const QSize WindowSize(200, 120);

struct BenchWindow
{
    Window id = 0;
    QRect area;
    QColor colour;
    qint64 mapped = -1;
    qint64 painted = -1;
};

QElapsedTimer Clock;
std::vector<BenchWindow> Windows;
RdpInstance* Instance = nullptr;

// Mid-range colours: neither the root window's black nor white passes for one.
QColor colourOf(int index)
{
    return QColor(60 + index * 53 % 130, 60 + index * 97 % 130, 60 + index * 151 % 130);
}

bool frameBufferShows(const QRect& area, const QColor& colour)
{
    rdpGdi* gdi = Instance->context() ? Instance->context()->rdp()->gdi : nullptr;
    const QPoint centre = area.center();
    if (!gdi || centre.x() >= int(gdi->width) || centre.y() >= int(gdi->height))
        return false;
    const BYTE* pixel = gdi->primary_buffer + centre.y() * gdi->stride + centre.x() * 4;
    BYTE r = 0, g = 0, b = 0, a = 0;
    SplitColor(ReadColor(pixel, gdi->dstFormat), gdi->dstFormat, &r, &g, &b, &a, nullptr);
    const auto near = [](int x, int y) { return qAbs(x - y) <= 24; };
    return near(r, colour.red()) && near(g, colour.green()) && near(b, colour.blue());
}

struct Move
{
    qint64 at;
    int x;
};

// Notes the first paint of each window's local window while the frame
// buffer holds the window's colour: what that paint puts on the screen.
class PaintWatch : public QObject
{
public:
    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (event->type() != QEvent::Paint)
            return false;
        auto* rail = qobject_cast<RdpRailWidget*>(object);
        if (!rail)
            return false;
        const int index = rail->windowTitle().mid(6).toInt();
        if (!rail->windowTitle().startsWith(QLatin1String("bench-")) || index < 0 || index >= int(Windows.size()))
            return false;
        BenchWindow& window = Windows[size_t(index)];
        if (window.painted < 0 && window.mapped >= 0 && frameBufferShows(window.area, window.colour))
            window.painted = Clock.elapsed();
        return false;
    }
};

// The moves of one window as its X server reports them (the caller selects
// the events), shifted by offset; read when the connection has data, never
// polled.
class XMoves : public QObject
{
public:
    XMoves(Display* display, Window window, int offset)
        : m_display(display), m_window(window), m_offset(offset),
          m_notifier(ConnectionNumber(display), QSocketNotifier::Read)
    {
        connect(&m_notifier, &QSocketNotifier::activated, this, &XMoves::read);
    }
    void read()
    {
        while (XPending(m_display) > 0) {
            XEvent event;
            XNextEvent(m_display, &event);
            if (event.type == ConfigureNotify && event.xconfigure.window == m_window)
                moves.push_back({Clock.elapsed(), event.xconfigure.x + m_offset});
        }
    }
    std::vector<Move> moves;

private:
    Display* m_display;
    Window m_window;
    int m_offset;
    QSocketNotifier m_notifier;
};

// The window manager's frame around a window: its ancestor below the root.
Window frameOf(Display* display, Window window)
{
    for (;;) {
        Window root = 0, parent = 0, *children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(display, window, &root, &parent, &children, &count))
            return window;
        if (children)
            XFree(children);
        if (parent == root || parent == 0)
            return window;
        window = parent;
    }
}

// Runs the event loop for ms milliseconds; QTest::qWait would wake every 10 ms.
void rest(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Usage
{
    qint64 cpuMs = 0;
    qint64 switches = 0;
};

Usage usageOf(const QString& pid)
{
    Usage usage;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.open(QIODevice::ReadOnly)) {
        // The fields after the command's closing parenthesis; utime and stime are the 12th and 13th.
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        const long ticks = sysconf(_SC_CLK_TCK);
        usage.cpuMs = (fields.value(11).toLongLong() + fields.value(12).toLongLong()) * 1000 / ticks;
    }
    // Wake-ups of all threads: each thread counts its own.
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile status(tasks + QLatin1Char('/') + task + QStringLiteral("/status"));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("voluntary_ctxt_switches:"))
                usage.switches += line.mid(24).trimmed().toLongLong();
        }
    }
    return usage;
}

void report(const char* what, std::vector<qint64> values)
{
    if (values.empty())
        return;
    std::sort(values.begin(), values.end());
    std::printf("%-36s median %4lld ms  worst %4lld ms  (of %d)\n", what, values[values.size() / 2],
                values.back(), int(values.size()));
}

int fail(const QString& why)
{
    std::fprintf(stderr, "railwindows: %s\n", qPrintable(why));
    return 1;
}

// When a window first stood at target or beyond, coming from the side of
// direction; -1 when it never did after from.
qint64 arrival(const std::vector<Move>& moves, qint64 from, int target, int direction)
{
    for (const Move& move : moves) {
        if (move.at >= from && (move.x - target) * direction >= 0)
            return move.at;
    }
    return -1;
}

RdpRailWidget* railWindow(const QString& title)
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* rail = qobject_cast<RdpRailWidget*>(widget);
        if (rail && rail->isVisible() && rail->windowTitle() == title)
            return rail;
    }
    return nullptr;
}

Display* openSessionDisplay(const SessionFixture& session)
{
    // Xlib reads the cookie file's name from the environment when it connects.
    const QByteArray previous = qgetenv("XAUTHORITY");
    qputenv("XAUTHORITY", QFile::encodeName(session.authority()));
    Display* display = XOpenDisplay(session.display().toLocal8Bit().constData());
    qputenv("XAUTHORITY", previous);
    return display;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::clamp(atoi(argv[1]), 1, 30) : 20;
    const int restSeconds = argc > 2 ? std::max(1, atoi(argv[2])) : 30;
    const int drags = argc > 3 ? std::max(1, atoi(argv[3])) : 5;
    Clock.start();

    QString error;
    SessionFixture session;
    if (!session.start(QStringLiteral("exec sleep 86400"), QStringLiteral("rootless"), &error))
        return fail(error);
    Display* remote = openSessionDisplay(session);
    if (!remote)
        return fail(QStringLiteral("cannot open the session display %1").arg(session.display()));
    QString server;
    for (qint64 pid : SessionFixture::descendantsOf(session.supervisorPid())) {
        QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "zentu2_display")
            server = QString::number(pid);
    }

    RdpInstance instance;
    Instance = &instance;
    instance.start(QStringLiteral("127.0.0.1"), session.port(), QStringLiteral("bench"), session.password(), 0,
                   QStringLiteral("rootless"), QStringLiteral("railwindows"), false, QVariantMap());
    if (!QTest::qWaitFor([&]() { return !instance.isRunning() || (instance.context()->railWindows && instance.context()->qzrail); },
                         Timeout)
        || !instance.isRunning())
        return fail(QStringLiteral("no rootless connection"));
    PaintWatch watch;
    app.installEventFilter(&watch);
    // The monitor layout has reached the server before the first window.
    rest(1000);

    // Map: one window after the other, each left open.
    const Window root = DefaultRootWindow(remote);
    Windows.resize(size_t(count));
    std::vector<qint64> mapToPaint;
    for (int i = 0; i < count; ++i) {
        BenchWindow& window = Windows[size_t(i)];
        window.area = QRect(QPoint(20 + i % 6 * 260, 60 + i / 6 * 240), WindowSize);
        window.colour = colourOf(i);
        window.id = XCreateSimpleWindow(remote, root, window.area.x(), window.area.y(),
                                        unsigned(WindowSize.width()), unsigned(WindowSize.height()), 0, 0,
                                        window.colour.rgb() & 0xffffff);
        XStoreName(remote, window.id, QStringLiteral("bench-%1").arg(i).toLatin1().constData());
        XSizeHints hints = {};
        hints.flags = USPosition | PPosition;
        hints.x = window.area.x();
        hints.y = window.area.y();
        XSetWMNormalHints(remote, window.id, &hints);
        XMapWindow(remote, window.id);
        XSync(remote, False);
        window.mapped = Clock.elapsed();
        if (!QTest::qWaitFor([&window]() { return window.painted >= 0; }, Timeout))
            return fail(QStringLiteral("window %1 was not painted").arg(i));
        mapToPaint.push_back(window.painted - window.mapped);
    }
    report("map to local window painted", mapToPaint);

    // Rest: nothing changes anywhere.
    rest(2000);
    const Usage clientBefore = usageOf(QStringLiteral("self"));
    const Usage serverBefore = usageOf(server);
    rest(restSeconds * 1000);
    const Usage clientAfter = usageOf(QStringLiteral("self"));
    const Usage serverAfter = usageOf(server);
    std::printf("at rest with %d windows for %d s:     client %lld ms CPU, %lld wake-ups; "
                "zentu2_display %lld ms CPU, %lld wake-ups\n",
                count, restSeconds, clientAfter.cpuMs - clientBefore.cpuMs,
                clientAfter.switches - clientBefore.switches, serverAfter.cpuMs - serverBefore.cpuMs,
                serverAfter.switches - serverBefore.switches);

    // Drag: the first window by its title bar, right then left, in steps.
    RdpRailWidget* local = railWindow(QStringLiteral("bench-0"));
    if (!local)
        return fail(QStringLiteral("no local window bench-0"));
    const Window dragged = Windows[0].id;
    XSelectInput(remote, dragged, StructureNotifyMask);
    XSync(remote, False);
    XMoves moves(remote, dragged, 0);
    // The local window as the local X server moves it: its frame's moves,
    // seen on a connection of its own.
    Display* localX = XOpenDisplay(nullptr);
    if (!localX)
        return fail(QStringLiteral("cannot open the local display"));
    const Window frameWindow = frameOf(localX, Window(local->winId()));
    XWindowAttributes frameAttributes = {};
    XGetWindowAttributes(localX, frameWindow, &frameAttributes);
    XSelectInput(localX, DefaultRootWindow(localX), SubstructureNotifyMask);
    XSync(localX, False);
    XMoves localMoves(localX, frameWindow, local->geometry().x() - frameAttributes.x);
    Display* x = QX11Info::display();
    constexpr int Steps = 20;
    constexpr int Step = 8;
    std::vector<qint64> pointerToLocal, localToRemote, releaseToRemote;
    for (int drag = 0; drag < drags; ++drag) {
        const int direction = drag % 2 ? -1 : 1;
        const QRect frame = local->frameGeometry();
        const QPoint grip(frame.center().x(), frame.top() + (local->geometry().top() - frame.top()) / 2);
        const int startX = local->geometry().x();
        XTestFakeMotionEvent(x, -1, grip.x(), grip.y(), CurrentTime);
        XTestFakeButtonEvent(x, 1, True, CurrentTime);
        XFlush(x);
        rest(100);
        std::vector<Move> sent;
        for (int step = 1; step <= Steps; ++step) {
            XTestFakeMotionEvent(x, -1, grip.x() + direction * step * Step, grip.y(), CurrentTime);
            XFlush(x);
            sent.push_back({Clock.elapsed(), startX + direction * step * Step});
            rest(40);
        }
        XTestFakeButtonEvent(x, 1, False, CurrentTime);
        XFlush(x);
        const qint64 released = Clock.elapsed();
        const int endX = sent.back().x;
        if (!QTest::qWaitFor([&]() { return !moves.moves.empty() && moves.moves.back().x == endX; }, Timeout))
            return fail(QStringLiteral("drag %1: the session's window did not reach x %2 (local window at %3)")
                            .arg(drag).arg(endX).arg(local->geometry().x()));
        for (const Move& step : sent) {
            const qint64 localAt = arrival(localMoves.moves, step.at, step.x, direction);
            const qint64 remoteAt = arrival(moves.moves, localAt, step.x, direction);
            if (localAt < 0 || remoteAt < 0)
                continue;
            pointerToLocal.push_back(localAt - step.at);
            localToRemote.push_back(remoteAt - localAt);
        }
        releaseToRemote.push_back(std::max<qint64>(0, arrival(moves.moves, 0, endX, direction) - released));
        moves.moves.clear();
        localMoves.moves.clear();
        rest(300);
    }
    report("drag: pointer step to local move", pointerToLocal);
    report("drag: local move to session move", localToRemote);
    report("drag: release to session at rest", releaseToRemote);

    instance.quit();
    XCloseDisplay(localX);
    XCloseDisplay(remote);
    return 0;
}
