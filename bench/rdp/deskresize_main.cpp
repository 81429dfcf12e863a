// Times the desktop channel's round trip through a real ssh forward: from a
// desktop size request to the server's desktop-resized message, and to the
// first frame the library draws at the new size. One session (Xvnc and
// zentu2_display) on loopback, sshd with a throwaway configuration and
// "ssh -N -D" as the SOCKS forward the client uses.
// Usage: ZENTU_BIN_DIR=<build>/bin deskresize [rounds]
#include "RdpClientContext.h"
#include "RdpDesktopWidget.h"
#include "RdpInstance.h"
#include "RdpMainWidget.h"
#include "SessionFixture.h"
#include "SshServer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTest>

#include <freerdp/gdi/gdi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>

namespace {

const int Timeout = 30000;

// What one round has seen so far, in ms since its request. The resized
// message is noted on the channel's receive thread.
struct Round
{
    QSize size;
    QElapsedTimer clock;
    std::atomic<qint64> resized{-1};
    qint64 frame = -1;
};

std::atomic<Round*> current{nullptr};
pEndPaint libraryEndPaint = nullptr;
QzdeskDesktopResized clientDesktopResized = nullptr;

// Wraps the library's end of a drawing pass: the first pass into a frame
// buffer of the requested size is the first frame at that size.
BOOL endPaint(rdpContext* context)
{
    const BOOL result = libraryEndPaint(context);
    Round* round = current;
    if (round && round->frame < 0 && context->gdi->width == round->size.width()
        && context->gdi->height == round->size.height())
        round->frame = round->clock.elapsed();
    return result;
}

UINT desktopResized(QzdeskClientContext* qzdesk, UINT16 width, UINT16 height)
{
    Round* round = current;
    if (round && round->resized < 0 && QSize(width, height) == round->size)
        round->resized = round->clock.elapsed();
    return clientDesktopResized(qzdesk, width, height);
}

bool listening(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    return socket.waitForConnected(200);
}

void report(const char* what, QList<qint64> values)
{
    std::sort(values.begin(), values.end());
    std::printf("%-32s median %4lld ms  worst %4lld ms  (of %d)\n", what, values.at(values.size() / 2),
                values.last(), int(values.size()));
}

int fail(const QString& why)
{
    std::fprintf(stderr, "deskresize: %s\n", qPrintable(why));
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 20;
    QString error;
    SessionFixture session;
    if (!session.start(QStringLiteral("xterm"), QStringLiteral("1024x768"), &error))
        return fail(error);
    SshServer ssh;
    if (!ssh.start(&error))
        return fail(error);
    const quint16 socksPort = SshServer::freePort();
    QProcess forward;
    forward.setProcessEnvironment(ssh.clientEnvironment());
    forward.start(ssh.clientBinDir() + QStringLiteral("/ssh"),
                  {QStringLiteral("-N"), QStringLiteral("-D"), QStringLiteral("127.0.0.1:%1").arg(socksPort),
                   QStringLiteral("-l"), ssh.user(), QStringLiteral("-p"), QString::number(ssh.port()),
                   QStringLiteral("127.0.0.1")});
    const auto endForward = [&forward]() {
        forward.terminate();
        forward.waitForFinished(5000);
    };
    if (!QTest::qWaitFor([socksPort]() { return listening(socksPort); }, Timeout)) {
        endForward();
        return fail(QStringLiteral("no SOCKS forward: %1").arg(QString::fromLocal8Bit(forward.readAllStandardError())));
    }

    RdpInstance instance;
    instance.start(QStringLiteral("127.0.0.1"), session.port(), ssh.user(), session.password(), socksPort,
                   QStringLiteral("1024x768"), QStringLiteral("deskresize"), false, QVariantMap());
    RdpClientContext* context = instance.context();
    const bool up = QTest::qWaitFor(
        [&]() { return !instance.isRunning() || (context->mainWidget && context->qzdesk); }, Timeout);
    if (!up || !instance.isRunning()) {
        endForward();
        return fail(QStringLiteral("no desktop window with the desktop channel"));
    }
    rdpUpdate* update = context->rdp()->update;
    libraryEndPaint = update->EndPaint;
    update->EndPaint = endPaint;
    clientDesktopResized = context->qzdesk->DesktopResized;
    context->qzdesk->DesktopResized = desktopResized;

    QList<qint64> resized, frames;
    for (int i = 0; i < rounds && instance.isRunning(); ++i) {
        Round round;
        // Alternating sizes, each new to the server.
        round.size = i % 2 ? QSize(1024 + 4 * i, 768 + 2 * i) : QSize(1280 + 4 * i, 900 + 2 * i);
        current = &round;
        round.clock.start();
        context->qzdesk->RequestDesktopSize(context->qzdesk, UINT16(round.size.width()),
                                            UINT16(round.size.height()));
        if (!QTest::qWaitFor([&round]() { return round.resized >= 0 && round.frame >= 0; }, Timeout)) {
            current = nullptr;
            instance.quit();
            endForward();
            return fail(QStringLiteral("round %1: resized %2 ms, frame %3 ms").arg(i).arg(round.resized).arg(round.frame));
        }
        current = nullptr;
        resized << round.resized.load();
        frames << round.frame;
        QTest::qWait(100);
    }
    instance.quit();
    endForward();
    if (resized.isEmpty())
        return fail(QStringLiteral("the connection ended"));
    report("request to desktop resized", resized);
    report("request to first frame at size", frames);
    return 0;
}
