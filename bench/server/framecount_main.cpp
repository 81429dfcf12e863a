// zentu_rdp_framecount: connects to an RDP server like the client does
// (RDP security, RemoteFX, 32 bpp, frame acknowledgements) and prints the
// frames per second it received over a given time. With a frame-rate limit
// it first sets the server's manual options to that limit on "qzcfg".
// Usage: zentu_rdp_framecount <port> <password> <seconds> [fps-limit]

#include "RdpProbe.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: %s <port> <password> <seconds> [fps-limit]\n", argv[0]);
        return 2;
    }
    RdpProbe::Options options;
    options.port = quint16(QByteArray(argv[1]).toUInt());
    options.password = QString::fromLocal8Bit(argv[2]);
    const int seconds = QByteArray(argv[3]).toInt();
    RdpProbe probe;
    QString error;
    if (!probe.connect(options, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    if (argc == 5) {
        const int limit = QByteArray(argv[4]).toInt();
        const QJsonObject set{{QStringLiteral("BandwidthThrottleAdjust"), false},
                              {QStringLiteral("FPSLimit"), limit}};
        // The server reports its options once the client has shown activity.
        probe.sendSynchronize(0);
        const auto reportedLimit = [&] {
            const QList<ChannelMessage>& messages = probe.messages(QStringLiteral("qzcfg"));
            for (int i = messages.size() - 1; i >= 0; --i) {
                if (messages.at(i).type == 1)
                    return QJsonDocument::fromJson(messages.at(i).payload).object().value(QStringLiteral("FPSLimit")).toInt();
            }
            return 0;
        };
        if (!probe.waitFor([&] { return reportedLimit() != 0; }, 10000)
            || !probe.send(QStringLiteral("qzcfg"), 2, QJsonDocument(set).toJson(QJsonDocument::Compact))
            || !probe.waitFor([&] { return reportedLimit() == limit; }, 10000)) {
            std::fprintf(stderr, "the server did not take the limit %d\n", limit);
            return 1;
        }
    }
    // Settle: the first frames carry the whole screen.
    probe.waitFor([&] { return probe.framesReceived() > 5; }, 10000);
    const int before = probe.framesReceived();
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < seconds * 1000) {
        if (!probe.pump(100)) {
            std::fprintf(stderr, "disconnected\n");
            return 1;
        }
    }
    std::printf("%.1f\n", (probe.framesReceived() - before) * 1000.0 / double(timer.elapsed()));
    return 0;
}
