// Round trip of "Zentu.version" through zentu2_sci over a real ssh login on
// loopback, against the same bytes echoed by "cat" over a second login of the
// same server. The ratio is what the command interface adds to the transport.
// Needs ZENTU_BIN_DIR (the build's bin directory) and sshd, as the tests do.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <memory>

#include "NetString.h"
#include "SshServer.h"

namespace {

const QByteArray kRequest = encodeNetString(
    QByteArrayLiteral("{\"id\":\"0123456789abcdef0123456789abcdef\",\"jsonrpc\":\"2.0\",\"method\":\"Zentu.version\","
                      "\"params\":{}}"));
const QByteArray kMarker = QByteArrayLiteral("---- BEGIN Zentu NetString ----");

struct Peer
{
    std::unique_ptr<QProcess> process;
    NetStringBuffer buffer;

    ~Peer()
    {
        if (process && process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished(5000);
        }
    }

    bool start(const SshServer& server, const QString& command)
    {
        process = std::make_unique<QProcess>();
        QProcessEnvironment environment = server.clientEnvironment();
        environment.remove(QStringLiteral("DISPLAY"));
        process->setProcessEnvironment(environment);
        process->start(server.clientBinDir() + QStringLiteral("/ssh"),
                       {QStringLiteral("-l"), server.user(), QStringLiteral("-p"), QString::number(server.port()),
                        QStringLiteral("--"), server.host(), command});
        return process->waitForStarted(30000);
    }

    bool skipToMarker()
    {
        QByteArray seen;
        while (!seen.contains(kMarker)) {
            if (!process->waitForReadyRead(30000))
                return false;
            seen += process->readAll();
        }
        buffer.append(seen.mid(seen.indexOf(kMarker) + kMarker.size()));
        return true;
    }

    // Sends the request and waits for one whole frame back.
    bool frameRoundTrip(QByteArray* payload)
    {
        process->write(kRequest);
        for (;;) {
            const NetStringBuffer::Outcome outcome = buffer.takeFrame(payload);
            if (outcome == NetStringBuffer::Payload)
                return true;
            if (outcome != NetStringBuffer::NeedMore || !process->waitForReadyRead(30000))
                return false;
            buffer.append(process->readAll());
        }
    }
};

SshServer* g_server = nullptr;

void BM_RoundTrip(benchmark::State& state)
{
    Peer sci;
    Peer echo;
    // "cat" echoes the request frame itself; the marker keeps both alike.
    if (!sci.start(*g_server, QStringLiteral("zentu2_sci")) || !sci.skipToMarker()
        || !echo.start(*g_server, QStringLiteral("echo '%1'; cat").arg(QString::fromLatin1(kMarker)))
        || !echo.skipToMarker()) {
        state.SkipWithError("cannot log in");
        return;
    }
    QByteArray payload;
    if (!sci.frameRoundTrip(&payload) || !QJsonDocument::fromJson(payload).object().contains(QStringLiteral("result"))) {
        state.SkipWithError("no version reply");
        return;
    }
    qint64 versionNs = 0;
    qint64 echoNs = 0;
    QElapsedTimer timer;
    for (auto _ : state) {
        timer.start();
        if (!sci.frameRoundTrip(&payload)) {
            state.SkipWithError("version round trip failed");
            return;
        }
        versionNs += timer.nsecsElapsed();
        timer.start();
        if (!echo.frameRoundTrip(&payload)) {
            state.SkipWithError("echo round trip failed");
            return;
        }
        echoNs += timer.nsecsElapsed();
    }
    const double n = double(state.iterations());
    state.counters["version_us"] = double(versionNs) / n / 1000.0;
    state.counters["echo_us"] = double(echoNs) / n / 1000.0;
    state.counters["ratio"] = echoNs > 0 ? double(versionNs) / double(echoNs) : 0.0;
}

BENCHMARK(BM_RoundTrip)->UseRealTime()->MinTime(3.0);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    SshServer server;
    QString error;
    if (!server.start(&error)) {
        fprintf(stderr, "cannot start sshd: %s\n", qPrintable(error));
        return 1;
    }
    g_server = &server;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
