// Cost of one poll of the session list on the client: the merge of a reply
// into the model and the re-sort through the window's proxy. The view must be
// told about the ten changed rows only; a reset would lose selection and
// scroll position, so the counters report resets and changed rows per poll.
#include <benchmark/benchmark.h>

#include "Session.h"
#include "SessionModel.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSortFilterProxyModel>

namespace {

QJsonObject sessionObject(int number, int clients)
{
    const QDateTime started = QDateTime(QDate(2024, 3, 1), QTime(8, 0)).addSecs(number * 37);
    return QJsonObject{
        {QStringLiteral("id"), QStringLiteral("%1").arg(number * 7919 % 100003, 32, 10, QLatin1Char('0'))},
        {QStringLiteral("windowMode"), QStringLiteral("desktop")},
        {QStringLiteral("geometry"), QStringLiteral("1024x768")},
        {QStringLiteral("params"), QJsonObject{{QStringLiteral("name"), QStringLiteral("Session %1").arg(number)}}},
        {QStringLiteral("command"), QStringLiteral("xterm -ls")},
        {QStringLiteral("clients"), clients},
        {QStringLiteral("started"), started.toString(QStringLiteral("yyyy-MM-ddThh:mm:ss"))},
        {QStringLiteral("lastConnect"), started.addSecs(60).toString(QStringLiteral("yyyy-MM-ddThh:mm:ss"))}};
}

// The reply array; every 200th session has its clients count flipped in the changed one.
QJsonArray reply(int count, bool changed)
{
    QJsonArray array;
    for (int number = 0; number < count; ++number)
        array.append(sessionObject(number, changed && number % 200 == 0 ? 1 : 0));
    return array;
}

struct Window {
    SessionModel model{nullptr, nullptr};
    QSortFilterProxyModel proxy;
    int resets = 0;
    int changedRows = 0;
    int structural = 0;

    Window()
    {
        proxy.setDynamicSortFilter(false);
        proxy.setSortLocaleAware(true);
        proxy.setSortRole(SessionModel::SortRole);
        proxy.setSourceModel(&model);
        proxy.sort(SessionModel::StartedColumn, Qt::AscendingOrder);
        QObject::connect(&model, &QAbstractItemModel::modelReset, [this] { ++resets; });
        QObject::connect(&proxy, &QAbstractItemModel::modelReset, [this] { ++resets; });
        QObject::connect(&model, &QAbstractItemModel::dataChanged, [this] { ++changedRows; });
        QObject::connect(&model, &QAbstractItemModel::rowsInserted, [this] { ++structural; });
        QObject::connect(&model, &QAbstractItemModel::rowsRemoved, [this] { ++structural; });
    }

    // What the window does with a reply: merge, then re-sort by the current column.
    void poll(const QJsonArray& sessions)
    {
        model.handleListSessionReply(QString(), sessions, QJsonValue());
        proxy.sort(proxy.sortColumn(), proxy.sortOrder());
    }
};

void BM_PollWithTenChanged(benchmark::State& state)
{
    const int count = int(state.range(0));
    const QJsonArray plain = reply(count, false);
    const QJsonArray changed = reply(count, true);
    Window window;
    window.poll(plain);
    window.changedRows = window.structural = window.resets = 0;
    bool flip = true;
    for (auto _ : state) {
        window.poll(flip ? changed : plain);
        flip = !flip;
    }
    if (window.model.rowCount() != count)
        state.SkipWithError("rows lost");
    const double polls = double(state.iterations());
    state.counters["resets"] = window.resets;
    state.counters["changed_rows_per_poll"] = window.changedRows / polls;
    state.counters["inserts_removes"] = window.structural;
}

void BM_PollFromWireBytes(benchmark::State& state)
{
    // Including the JSON parse of the reply bytes, as the handler does it.
    const int count = int(state.range(0));
    const QByteArray plain = QJsonDocument(reply(count, false)).toJson(QJsonDocument::Compact);
    const QByteArray changed = QJsonDocument(reply(count, true)).toJson(QJsonDocument::Compact);
    Window window;
    window.poll(QJsonDocument::fromJson(plain).array());
    bool flip = true;
    for (auto _ : state) {
        window.poll(QJsonDocument::fromJson(flip ? changed : plain).array());
        flip = !flip;
    }
    state.counters["reply_bytes"] = plain.size();
    state.counters["resets"] = window.resets;
}

void BM_FirstPoll(benchmark::State& state)
{
    const QJsonArray sessions = reply(int(state.range(0)), false);
    for (auto _ : state) {
        Window window;
        window.poll(sessions);
        benchmark::DoNotOptimize(window.model.rowCount());
    }
}

// The three parts of a poll on their own: reading the reply's session
// objects, the merge, and the proxy's re-sort by name and by start time.
void BM_PartReadSessions(benchmark::State& state)
{
    const QJsonArray sessions = reply(2000, false);
    for (auto _ : state) {
        for (const QJsonValue& value : sessions)
            benchmark::DoNotOptimize(Session(value.toObject()));
    }
}

void BM_PartMerge(benchmark::State& state)
{
    QList<Session> plain;
    QList<Session> changed;
    for (const QJsonValue& value : reply(2000, false))
        plain.append(Session(value.toObject()));
    for (const QJsonValue& value : reply(2000, true))
        changed.append(Session(value.toObject()));
    SessionModel model(nullptr, nullptr);
    model.updateSessions(plain);
    bool flip = true;
    for (auto _ : state) {
        model.updateSessions(flip ? changed : plain);
        flip = !flip;
    }
}

void BM_PartSort(benchmark::State& state)
{
    Window window;
    window.poll(reply(2000, false));
    for (auto _ : state)
        window.proxy.sort(int(state.range(0)), Qt::AscendingOrder);
}

} // namespace

BENCHMARK(BM_PollWithTenChanged)->Arg(200)->Arg(2000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PollFromWireBytes)->Arg(2000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FirstPoll)->Arg(2000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PartReadSessions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PartMerge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PartSort)->Arg(SessionModel::NameColumn)->Arg(SessionModel::StartedColumn)
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
