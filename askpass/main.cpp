// askpass: relays one question from ssh (or the client itself) to the
// running Zentu client over the local socket named in TALVENE_ASKPASS_SERVER
// and prints the answer, without a line break of its own.
#include <QCoreApplication>
#include <QLocalSocket>

#include <cstdio>

#include "NetString.h"

namespace {

constexpr int kConnectTimeoutMs = 10000;

int fail(const char* message, const QString& detail = QString())
{
    if (detail.isEmpty())
        std::fprintf(stderr, "askpass: %s\n", message);
    else
        std::fprintf(stderr, "askpass: %s: %s\n", message, qPrintable(detail));
    return 1;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QString serverName = qEnvironmentVariable("TALVENE_ASKPASS_SERVER");
    if (serverName.isEmpty())
        return fail("TALVENE_ASKPASS_SERVER is not set; this program is run by Zentu to ask its questions");

    // The question goes as the bytes it came in.
    const QByteArray question = argc > 1 ? QByteArray(argv[1]) : QByteArray();

    QLocalSocket socket;
    socket.connectToServer(serverName);
    if (!socket.waitForConnected(kConnectTimeoutMs))
        return fail("cannot reach the client", socket.errorString());
    socket.write(encodeNetString(question));
    if (!socket.waitForBytesWritten(kConnectTimeoutMs) && socket.bytesToWrite() > 0)
        return fail("cannot send the question", socket.errorString());

    // The user may take as long as they like to answer.
    NetStringBuffer buffer;
    for (;;) {
        if (socket.bytesAvailable() <= 0 && !socket.waitForReadyRead(-1))
            return 1; // closed without an answer: cancelled
        buffer.append(socket.read(NetStringBuffer::ReadChunk));
        QByteArray answer;
        const NetStringBuffer::Outcome outcome = buffer.takeFrame(&answer);
        if (outcome == NetStringBuffer::Payload) {
            std::fwrite(answer.constData(), 1, size_t(answer.size()), stdout);
            std::fflush(stdout);
            return 0;
        }
        if (outcome != NetStringBuffer::NeedMore)
            return fail(NetStringBuffer::errorText(outcome));
    }
}
