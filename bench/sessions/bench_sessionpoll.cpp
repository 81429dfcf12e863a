// The cost on the wire of one poll of the session list over real ssh on
// loopback: bytes of the "Zentu.list" request and of its reply for N
// sessions, and the round trip through ssh and the command-interface
// stand-in. One real session is started; the stand-in's store then lists it
// under N ids, so the reply is what the stand-in really writes for N live
// sessions. Run with ZENTU_BIN_DIR=<build>/bin.
#include <benchmark/benchmark.h>

#include "JsonRpcHandler.h"
#include "SciProcess.h"
#include "SshDevice.h"
#include "SshServer.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <memory>

namespace {

struct Bench {
    QTemporaryDir data;
    std::unique_ptr<SshServer> server;
    std::unique_ptr<SciProcess> sci;
    QJsonObject session;
    SshDevice* device = nullptr;
    JsonRpcHandler* handler = nullptr;
    qint64 sent = 0;
    qint64 received = 0;
};

Bench* bench = nullptr;

QString statePath()
{
    return bench->data.path() + QStringLiteral("/zentu-server/state.json");
}

// Lists the one real session under count different ids.
bool storeSessions(int count)
{
    QFile file(statePath());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QJsonObject state = QJsonDocument::fromJson(file.readAll()).object();
    file.close();
    QJsonArray sessions;
    for (int i = 0; i < count; ++i) {
        QJsonObject copy = bench->session;
        copy.insert(QStringLiteral("id"), QStringLiteral("%1").arg(i, 32, 16, QLatin1Char('0')));
        copy.insert(QStringLiteral("name"), QStringLiteral("Session %1").arg(i));
        sessions.append(copy);
    }
    state.insert(QStringLiteral("sessions"), sessions);
    QSaveFile out(statePath());
    return out.open(QIODevice::WriteOnly) && out.write(QJsonDocument(state).toJson()) > 0
        && out.commit();
}

// One request and its reply; false on a time-out or an error reply.
bool call(const QString& method, int* sessions)
{
    QEventLoop loop;
    bool ok = false;
    const QString id = bench->handler->call(
        method, QJsonObject(), [&](const QString&, const QJsonValue& result, const QJsonValue&) {
            ok = true;
            if (sessions)
                *sessions = result.toArray().size();
            loop.quit();
        });
    if (!QTest::qWaitFor([&ok]() { return ok || !bench->handler->isValid(); }, 30000)) {
        bench->handler->cancel(id);
        return false;
    }
    return ok;
}

bool setUp(QString* error)
{
    SshServer::Options options;
    options.extraServerConfig.append(
        QStringLiteral("SetEnv PATH=%1:/usr/local/bin:/usr/bin:/bin XDG_DATA_HOME=%2")
            .arg(SshServer::binDir(), bench->data.path()));
    bench->server = std::make_unique<SshServer>(options);
    if (!bench->server->start(error))
        return false;
    bench->server->exportClientEnvironment();

    bench->sci = std::make_unique<SciProcess>(bench->data.path());
    if (!bench->sci->start(error))
        return false;
    QJsonValue result;
    QJsonValue failure;
    if (!bench->sci->call(QStringLiteral("Zentu.start"),
                          QJsonObject{{QStringLiteral("id"), newSessionId()},
                                      {QStringLiteral("command"), QStringLiteral("xterm")},
                                      {QStringLiteral("geometry"), QStringLiteral("800x600")}},
                          &result, &failure)
        || !result.isObject()) {
        *error = QStringLiteral("no session: %1")
                     .arg(QString::fromUtf8(QJsonDocument(failure.toObject()).toJson()));
        return false;
    }
    bench->session = bench->sci->storedState()
                         .value(QStringLiteral("sessions"))
                         .toArray()
                         .first()
                         .toObject();

    bench->device = new SshDevice;
    QObject::connect(bench->device, &QIODevice::bytesWritten,
                     [](qint64 bytes) { bench->sent += bytes; });
    // Runs before the handler drains the device, so it sees every byte once.
    QObject::connect(bench->device, &QIODevice::readyRead,
                     []() { bench->received += bench->device->bytesAvailable(); });
    bench->handler = new JsonRpcHandler(bench->device, bench->device);
    bench->device->start(bench->server->host(), bench->server->port(), bench->server->user(),
                         QStringLiteral("zentu2_sci"), false, QString());
    if (!call(QStringLiteral("Zentu.version"), nullptr)) {
        *error = QStringLiteral("no login: %1").arg(bench->device->log().join(QLatin1Char('\n')));
        return false;
    }
    return true;
}

void BM_ListOverSsh(benchmark::State& state)
{
    const int count = int(state.range(0));
    if (!storeSessions(count)) {
        state.SkipWithError("cannot write the store");
        return;
    }
    qint64 requestBytes = 0;
    qint64 replyBytes = 0;
    for (auto _ : state) {
        bench->sent = bench->received = 0;
        int listed = -1;
        if (!call(QStringLiteral("Zentu.list"), &listed) || listed != count) {
            state.SkipWithError(bench->handler->isValid()
                                    ? "no reply"
                                    : qPrintable(bench->handler->errorString()));
            return;
        }
        requestBytes = bench->sent;
        replyBytes = bench->received;
    }
    state.counters["request_bytes"] = double(requestBytes);
    state.counters["reply_bytes"] = double(replyBytes);
    state.counters["bytes_per_session"] = count > 0 ? double(replyBytes) / count : 0.0;
}

} // namespace

// 20 is the most sessions the stand-in keeps per user.
BENCHMARK(BM_ListOverSsh)->Arg(0)->Arg(1)->Arg(10)->Arg(20)
    ->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    Bench state;
    bench = &state;
    QString error;
    const bool ready = setUp(&error);
    if (ready)
        benchmark::RunSpecifiedBenchmarks();
    else
        std::fprintf(stderr, "set-up failed: %s\n", qPrintable(error));
    // End the session and ssh before the fixtures go.
    delete state.device;
    terminateSessions(state.data.path());
    benchmark::Shutdown();
    return ready ? 0 : 1;
}
