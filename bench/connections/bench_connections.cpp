// Scanning and listing the connection directories with 1,000 and 10,000
// files, a tenth of them invalid in the ways real directories go wrong.
#include "Connection.h"
#include "ConnectionListWidget.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <map>
#include <memory>

namespace {

QByteArray invalidContent(int i)
{
    switch (i % 4) {
    case 0:
        return "not xml at all";
    case 1:
        return "<SshConnection><Name>x</Name><Uid>" + QUuid::createUuid().toByteArray() + "</Uid></SshConnection>";
    case 2:
        return "<SshConnection><Uid>" + QUuid::createUuid().toByteArray() + "</Uid><Name>x</Name><Extra/></SshConnection>";
    default:
        return QByteArray();
    }
}

// One directory per size, made once and reused by every benchmark.
const QString& directoryWith(int files)
{
    static std::map<int, std::unique_ptr<QTemporaryDir>> directories;
    auto& dir = directories[files];
    if (!dir) {
        dir = std::make_unique<QTemporaryDir>();
        for (int i = 0; i < files; ++i) {
            QFile file(dir->filePath(QStringLiteral("%1.rv32").arg(i)));
            if (!file.open(QIODevice::WriteOnly))
                std::abort();
            if (i % 10 == 9) {
                file.write(invalidContent(i / 10));
                continue;
            }
            Connection connection;
            connection.setUid(QUuid::createUuid());
            connection.setName(QStringLiteral("Connection %1").arg(i));
            connection.setHost(QStringLiteral("host%1.example.com").arg(i));
            connection.setPort(quint16(i % 3 ? 22 : 2200));
            connection.setUser(QStringLiteral("user%1").arg(i % 17));
            file.write(connection.toXml().toByteArray(1));
        }
    }
    static QString path;
    path = dir->path();
    return path;
}

void setPerFileCounter(benchmark::State& state)
{
    state.counters["per_file"] = benchmark::Counter(
        double(state.iterations() * state.range(0)),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_ScanConnectionFiles(benchmark::State& state)
{
    const QString directory = directoryWith(int(state.range(0)));
    for (auto _ : state) {
        const ConnectionScan scan = scanConnectionFiles({QString(), directory});
        benchmark::DoNotOptimize(scan.connections.size());
    }
    setPerFileCounter(state);
    state.SetComplexityN(state.range(0));
}

// The whole start of the main window: scan, model, sorted proxy and the
// rows sized to their rich-text content.
void BM_ListConnections(benchmark::State& state)
{
    const QString directory = directoryWith(int(state.range(0)));
    for (auto _ : state) {
        ConnectionListWidget window(directory, QString(), nullptr, false);
        benchmark::DoNotOptimize(&window);
    }
    setPerFileCounter(state);
    state.SetComplexityN(state.range(0));
}

} // namespace

BENCHMARK(BM_ScanConnectionFiles)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Complexity();
BENCHMARK(BM_ListConnections)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Complexity();

int main(int argc, char** argv)
{
    // The settings store of the run is private.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    QLoggingCategory::setFilterRules(QStringLiteral("zentu.*.debug=false"));
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
