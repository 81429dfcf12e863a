// zentu_rdp_framecount: connects to an RDP server like the client does
// (RDP security, RemoteFX, 32 bpp, frame acknowledgements) and prints the
// frames per second it received over a given time.
// Usage: zentu_rdp_framecount <port> <password> <seconds>

#include "RdpProbe.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <port> <password> <seconds>\n", argv[0]);
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
