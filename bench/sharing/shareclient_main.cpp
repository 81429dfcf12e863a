// share_client: one participant of a shared session, the client's own
// RdpInstance with its desktop window painting as it does, driven from the
// command line for share_bench.sh.
//   --port P --password-file F --user NAME   log on (session password: owner;
//                                            sharing password: viewer)
//   --share FILE          as owner, turn sharing on from the sharing dialog
//                         and write the sharing password into FILE
//   --give-control NAME   as owner, hand control to NAME once it has joined
//   --measure-at MS --seconds S
//                         from MS (ms since the epoch, the same instant for
//                         every participant) for S seconds count the frames
//                         received, the repaints and the CPU time of the
//                         process, print "frames F repaints R cpu_ms C"
//                         and leave
//   --watch X,Y;X,Y;X,Y   print "<monotonic us> light|dark" whenever the
//                         majority colour at these desktop points changes
//   --type-keys N         once in control, type N keys into the desktop
//                         widget, each after the watcher (its lines on stdin)
//                         reported the change of the one before; print each
//                         delay from key to change, then leave
#include "RdpClientContext.h"
#include "RdpDesktopWidget.h"
#include "RdpInstance.h"
#include "RdpMainWidget.h"
#include "RdpSharingDialog.h"
#include "RdpSharingKey.h"
#include "RdpViewerModel.h"

#include <freerdp/codec/color.h>
#include <freerdp/gdi/gdi.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QEvent>
#include <QFile>
#include <QKeyEvent>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QTimer>

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

qint64 monotonicMicroseconds()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

double cpuMilliseconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0
           + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

// End-of-frame markers, counted in front of the client's own handler.
pSurfaceFrameMarker clientFrameMarker = nullptr;
int framesReceived = 0;

BOOL countFrame(rdpContext* context, const SURFACE_FRAME_MARKER* marker)
{
    if (marker->frameAction == SURFACECMD_FRAMEACTION_END)
        ++framesReceived;
    return clientFrameMarker(context, marker);
}

class PaintWatch : public QObject
{
public:
    int paints = 0;
    std::function<void()> painted;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            ++paints;
            if (painted)
                painted();
        }
        return QObject::eventFilter(watched, event);
    }
};

// Light (yellow) against dark (blue) at most of the points of the frame buffer.
bool lightAt(rdpGdi* gdi, const QList<QPoint>& points)
{
    int light = 0;
    for (const QPoint& p : points) {
        if (p.x() >= int(gdi->width) || p.y() >= int(gdi->height))
            continue;
        const BYTE* pixel = gdi->primary_buffer + size_t(p.y()) * gdi->stride
                            + size_t(p.x()) * GetBytesPerPixel(gdi->dstFormat);
        BYTE r = 0, g = 0, b = 0, a = 0;
        SplitColor(ReadColor(pixel, gdi->dstFormat), gdi->dstFormat, &r, &g, &b, &a, nullptr);
        light += r > b ? 1 : 0;
    }
    return light * 2 > points.size();
}

// Types keys and times each one to the watcher's report of the change.
class KeyTimer : public QObject
{
public:
    KeyTimer(RdpInstance* instance, int count)
        : m_instance(instance)
        , m_count(count)
        , m_stdin(STDIN_FILENO, QSocketNotifier::Read)
    {
        connect(&m_stdin, &QSocketNotifier::activated, this, &KeyTimer::readWatcher);
        m_poll.setInterval(100);
        connect(&m_poll, &QTimer::timeout, this, &KeyTimer::startWhenReady);
        m_timeout.setSingleShot(true);
        connect(&m_timeout, &QTimer::timeout, this, [this] {
            std::printf("lost\n");
            std::fflush(stdout);
            ++m_lost;
            next();
        });
    }

    void begin() { m_poll.start(); }

private:
    void startWhenReady()
    {
        RdpSharingDialog* dialog = m_instance->context()->sharingDialog;
        if (!dialog || !dialog->hasControl() || m_state < 0)
            return;
        m_poll.stop();
        std::fprintf(stderr, "in control, typing %d keys\n", m_count);
        next();
    }

    void next()
    {
        if (int(m_delays.size()) + m_lost >= m_count) {
            report();
            return;
        }
        // Apart by a random 200 to 400 ms, not in step with the server's frames.
        QTimer::singleShot(200 + QRandomGenerator::global()->bounded(200), this, &KeyTimer::typeKey);
    }

    void typeKey()
    {
        RdpDesktopWidget* widget = m_instance->context()->mainWidget->desktopWidget();
        m_expected = m_state == 0 ? 1 : 0;
        m_sentAt = monotonicMicroseconds();
        // X keycode 38, "a", as the desktop widget receives it from the local display.
        QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, 38, 0x61, 0, QStringLiteral("a"));
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_A, Qt::NoModifier, 38, 0x61, 0, QStringLiteral("a"));
        QCoreApplication::sendEvent(widget, &press);
        QCoreApplication::sendEvent(widget, &release);
        m_waiting = true;
        m_timeout.start(10000);
    }

    void readWatcher()
    {
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            m_stdin.setEnabled(false);
            return;
        }
        m_input.append(buffer, int(n));
        int end;
        while ((end = m_input.indexOf('\n')) >= 0) {
            const QList<QByteArray> fields = m_input.left(end).split(' ');
            m_input.remove(0, end + 1);
            if (fields.size() != 2)
                continue;
            m_state = fields.at(1) == "light" ? 1 : 0;
            if (m_waiting && m_state == m_expected) {
                m_waiting = false;
                m_timeout.stop();
                const double ms = (fields.at(0).toLongLong() - m_sentAt) / 1000.0;
                m_delays.push_back(ms);
                std::printf("delay_ms %.1f\n", ms);
                std::fflush(stdout);
                next();
            }
        }
    }

    void report()
    {
        std::vector<double> sorted = m_delays;
        std::sort(sorted.begin(), sorted.end());
        if (!sorted.empty())
            std::printf("keys %d lost %d median_ms %.1f worst_ms %.1f\n", int(sorted.size()), m_lost,
                        sorted.size() % 2 ? sorted[sorted.size() / 2]
                                          : (sorted[sorted.size() / 2 - 1] + sorted[sorted.size() / 2]) / 2,
                        sorted.back());
        else
            std::printf("keys 0 lost %d\n", m_lost);
        std::fflush(stdout);
        m_instance->quit();
    }

    RdpInstance* m_instance;
    int m_count;
    QSocketNotifier m_stdin;
    QTimer m_poll;
    QTimer m_timeout;
    QByteArray m_input;
    int m_state = -1; // as the watcher saw it last: 0 dark, 1 light
    int m_expected = 0;
    bool m_waiting = false;
    qint64 m_sentAt = 0;
    std::vector<double> m_delays;
    int m_lost = 0;
};

bool writePassword(const QString& path, const QString& password)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(password.toUtf8());
    return file.commit();
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_XCB_GL_INTEGRATION", "none");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("server port"), QStringLiteral("port"));
    const QCommandLineOption passwordFile(QStringLiteral("password-file"), QStringLiteral("password to log on with"),
                                          QStringLiteral("file"));
    const QCommandLineOption user(QStringLiteral("user"), QStringLiteral("RDP user name"), QStringLiteral("name"),
                                  QStringLiteral("owner"));
    const QCommandLineOption share(QStringLiteral("share"), QStringLiteral("start sharing, password to file"),
                                   QStringLiteral("file"));
    const QCommandLineOption giveControl(QStringLiteral("give-control"), QStringLiteral("participant to hand control"),
                                         QStringLiteral("name"));
    const QCommandLineOption measureAt(QStringLiteral("measure-at"), QStringLiteral("start of counting, ms since epoch"),
                                       QStringLiteral("ms"));
    const QCommandLineOption seconds(QStringLiteral("seconds"), QStringLiteral("length of counting"),
                                     QStringLiteral("s"), QStringLiteral("20"));
    const QCommandLineOption watch(QStringLiteral("watch"), QStringLiteral("points to watch, X,Y;X,Y;..."),
                                   QStringLiteral("points"));
    const QCommandLineOption typeKeys(QStringLiteral("type-keys"), QStringLiteral("keys to type and time"),
                                      QStringLiteral("count"));
    parser.addOptions({ port, passwordFile, user, share, giveControl, measureAt, seconds, watch, typeKeys });
    parser.addHelpOption();
    parser.process(app);

    QFile file(parser.value(passwordFile));
    if (!parser.isSet(port) || !file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "share_client: --port and a readable --password-file are needed\n");
        return 2;
    }
    const QString password = QString::fromUtf8(file.readAll().trimmed());
    file.close();

    RdpInstance instance;
    PaintWatch paints;
    KeyTimer* keys = parser.isSet(typeKeys) ? new KeyTimer(&instance, parser.value(typeKeys).toInt()) : nullptr;

    QList<QPoint> points;
    for (const QString& pair : parser.value(watch).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QStringList xy = pair.split(QLatin1Char(','));
        if (xy.size() == 2)
            points.append(QPoint(xy.at(0).toInt(), xy.at(1).toInt()));
    }
    int lastLight = -1;
    if (!points.isEmpty()) {
        paints.painted = [&] {
            rdpGdi* gdi = instance.context() ? instance.context()->rdp()->gdi : nullptr;
            if (!gdi || !gdi->primary_buffer)
                return;
            const int light = lightAt(gdi, points) ? 1 : 0;
            if (light == lastLight)
                return;
            lastLight = light;
            std::printf("%lld %s\n", static_cast<long long>(monotonicMicroseconds()), light ? "light" : "dark");
            std::fflush(stdout);
        };
    }

    // Sharing on from the dialog's button, as the owner turns it on; a
    // sharing left on by an earlier owner is turned off first, since only
    // the dialog that started it knows its key.
    QTimer sharePoll;
    bool shared = false;
    QObject::connect(&sharePoll, &QTimer::timeout, [&] {
        RdpSharingDialog* dialog = instance.context() ? instance.context()->sharingDialog : nullptr;
        auto* button = dialog ? dialog->findChild<QPushButton*>(QStringLiteral("SharingButton")) : nullptr;
        if (!button || !button->isEnabled())
            return;
        if (dialog->isSharing() && !dialog->sharingKey().isEmpty()) {
            RdpSharingKey key;
            QString error;
            if (!RdpSharingKey::decode(dialog->sharingKey(), &key, &error)
                || !writePassword(parser.value(share), key.password)) {
                std::fprintf(stderr, "share_client: no sharing password: %s\n", qPrintable(error));
                instance.quit();
            }
            shared = true;
            sharePoll.stop();
            std::fprintf(stderr, "sharing\n");
            return;
        }
        if (dialog->isSharing() || dialog->sharingKey().isEmpty())
            button->click();
    });

    QObject::connect(&instance, &RdpInstance::connected, [&] {
        rdpUpdate* update = instance.context()->rdp()->update;
        clientFrameMarker = update->SurfaceFrameMarker;
        update->SurfaceFrameMarker = countFrame;
        instance.context()->mainWidget->desktopWidget()->installEventFilter(&paints);
        std::fprintf(stderr, "%s connected\n", qPrintable(parser.value(user)));

        if (parser.isSet(share))
            sharePoll.start(200);
        RdpSharingDialog* dialog = instance.context()->sharingDialog;
        if (parser.isSet(giveControl) && dialog) {
            auto* model = dialog->findChild<RdpViewerModel*>();
            QObject::connect(model, &RdpViewerModel::viewersUpdated, [&instance, model, name = parser.value(giveControl)] {
                for (int row = 0; row < model->rowCount(); ++row) {
                    const RdpViewer& viewer = model->viewerAt(row);
                    if (viewer.name() == name && !viewer.isController()) {
                        QzshareClientContext* qzshare = instance.context()->qzshare;
                        qzshare->GiveControl(qzshare, viewer.id());
                    }
                }
            });
        }
        if (keys)
            keys->begin();

        if (parser.isSet(measureAt)) {
            const qint64 wait = parser.value(measureAt).toLongLong() - QDateTime::currentMSecsSinceEpoch();
            if (wait < 0) {
                std::fprintf(stderr, "share_client: connected %lld ms after the start of counting\n",
                             static_cast<long long>(-wait));
                instance.quit();
                return;
            }
            QTimer::singleShot(int(wait), [&] {
                const double cpuBefore = cpuMilliseconds();
                const int framesBefore = framesReceived;
                const int paintsBefore = paints.paints;
                QTimer::singleShot(parser.value(seconds).toInt() * 1000, [&, cpuBefore, framesBefore, paintsBefore] {
                    std::printf("frames %d repaints %d cpu_ms %.0f\n", framesReceived - framesBefore,
                                paints.paints - paintsBefore, cpuMilliseconds() - cpuBefore);
                    std::fflush(stdout);
                    instance.quit();
                });
            });
        }
    });
    QObject::connect(&instance, &RdpInstance::finished, &app, &QCoreApplication::quit);
    const QVariantMap params { { QStringLiteral("SshHost"), QStringLiteral("127.0.0.1") },
                               { QStringLiteral("SshPort"), 22 } };
    if (!instance.start(QStringLiteral("127.0.0.1"), quint16(parser.value(port).toUInt()), parser.value(user),
                        password, 0, QStringLiteral("1024x768"), parser.value(user), false, params)) {
        std::fprintf(stderr, "share_client: cannot start the connection\n");
        return 1;
    }
    app.exec();
    delete keys;
    if (parser.isSet(share) && !shared)
        std::fprintf(stderr, "share_client: sharing never started\n");
    std::fprintf(stderr, "%s: exit code %d\n", qPrintable(parser.value(user)), instance.exitCode());
    return instance.exitCode();
}
