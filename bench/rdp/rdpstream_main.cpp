// Connects to an RDP server with RdpInstance, shows the desktop and reports
// for a fixed time: repaints of the desktop widget, the longest delivery of
// one event on the GUI thread (a stall: input that arrives meanwhile waits
// that long), CPU time and peak memory of the process, and the time from
// start to the first repaint. The stall is timed around the outermost
// event deliveries: a fast timer to probe it would itself cost CPU and
// waken the loop more often.
// Usage: rdp_stream <port> <seconds> [desktop size, 1024x768] [password]
#include "RdpClientContext.h"
#include "RdpDesktopWidget.h"
#include "RdpInstance.h"
#include "RdpMainWidget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QThread>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>

namespace {

class PaintCounter : public QObject
{
public:
    int paints = 0;
    qint64 firstPaintMs = -1;
    QElapsedTimer* clock = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            ++paints;
            if (firstPaintMs < 0)
                firstPaintMs = clock->elapsed();
        }
        return QObject::eventFilter(watched, event);
    }
};

class StreamApplication : public QApplication
{
public:
    using QApplication::QApplication;

    bool measuring = false;
    qint64 longestStall = 0;

    bool notify(QObject* receiver, QEvent* event) override
    {
        // Only the GUI thread: the worker's deliveries include its blocking wait.
        if (!measuring || m_depth > 0 || QThread::currentThread() != thread())
            return deliver(receiver, event);
        QElapsedTimer clock;
        clock.start();
        const bool result = deliver(receiver, event);
        longestStall = qMax(longestStall, clock.elapsed());
        return result;
    }

private:
    bool deliver(QObject* receiver, QEvent* event)
    {
        ++m_depth;
        const bool result = QApplication::notify(receiver, event);
        --m_depth;
        return result;
    }

    int m_depth = 0;
};

double cpuSeconds(const rusage& usage)
{
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    // The display draws with QPainter only; without this Qt's xcb plugin
    // loads Mesa's GL (about 45 MB of the process) at start-up.
    qputenv("QT_XCB_GL_INTEGRATION", "none");
    StreamApplication app(argc, argv);
    if (argc < 3 || argc > 5) {
        std::fprintf(stderr, "usage: rdp_stream <port> <seconds> [desktop size] [password]\n");
        return 2;
    }
    const auto port = static_cast<quint16>(QString::fromLocal8Bit(argv[1]).toUInt());
    const int seconds = QString::fromLocal8Bit(argv[2]).toInt();
    const QString size = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QStringLiteral("1024x768");
    const QString password = argc > 4 ? QString::fromLocal8Bit(argv[4]) : QString();

    QElapsedTimer clock;
    clock.start();
    PaintCounter counter;
    counter.clock = &clock;
    RdpInstance instance;

    int paintsAtStart = 0;
    qint64 connectedMs = -1;
    double cpuAtStart = 0;

    QObject::connect(&instance, &RdpInstance::connected, [&] {
        connectedMs = clock.elapsed();
        instance.context()->mainWidget->desktopWidget()->installEventFilter(&counter);
        // Measure the steady stream, from the first repaint on.
        QTimer::singleShot(1000, [&] {
            rusage usage {};
            getrusage(RUSAGE_SELF, &usage);
            cpuAtStart = cpuSeconds(usage);
            paintsAtStart = counter.paints;
            app.measuring = true;
            // Tearing the connection down is not streaming: stop measuring first.
            QTimer::singleShot(seconds * 1000, &instance, [&] {
                app.measuring = false;
                instance.quit();
            });
        });
    });
    QObject::connect(&instance, &RdpInstance::finished, &app, &QCoreApplication::quit);
    instance.start(QStringLiteral("127.0.0.1"), port, QStringLiteral("bench"), password, 0, size,
                   QStringLiteral("Benchmark"), false, QVariantMap());
    app.exec();

    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    const double cpu = cpuSeconds(usage) - cpuAtStart;
    const int frames = counter.paints - paintsAtStart;
    std::printf("exit code %d\n", instance.exitCode());
    std::printf("connected after start: %lld ms\n", static_cast<long long>(connectedMs));
    std::printf("first repaint after start: %lld ms\n", static_cast<long long>(counter.firstPaintMs));
    std::printf("repaints in %d s: %d (%.1f per second)\n", seconds, frames, frames / double(seconds));
    std::printf("CPU: %.2f s, %.2f ms per repaint\n", cpu, frames ? cpu * 1000 / frames : 0.0);
    std::printf("peak memory: %ld MB\n", usage.ru_maxrss / 1024);
    std::printf("longest event loop stall: %lld ms\n", static_cast<long long>(app.longestStall));
    return instance.exitCode();
}
