// Netstring parsing throughput: frames arriving in 4096-byte reads, as the
// handlers read their devices. The stream size varies so that the cost per
// byte can be seen to stay flat (linear total cost).
#include <benchmark/benchmark.h>

#include <QByteArray>

#include "NetString.h"

namespace {

QByteArray makeStream(int payloadSize, qint64 totalBytes)
{
    const QByteArray frame = encodeNetString(QByteArray(payloadSize, 'x'));
    QByteArray stream;
    stream.reserve(int(totalBytes + frame.size()));
    while (stream.size() < totalBytes)
        stream += frame;
    return stream;
}

void parseInChunks(benchmark::State& state, int payloadSize)
{
    const QByteArray stream = makeStream(payloadSize, state.range(0));
    const int chunk = NetStringBuffer::ReadChunk;
    qint64 frames = 0;
    for (auto _ : state) {
        NetStringBuffer buffer;
        for (int position = 0; position < stream.size(); position += chunk) {
            buffer.append(stream.constData() + position, qMin(chunk, stream.size() - position));
            QByteArray payload;
            while (buffer.takeFrame(&payload) == NetStringBuffer::Payload) {
                benchmark::DoNotOptimize(payload.constData());
                ++frames;
            }
        }
        if (!buffer.isEmpty())
            state.SkipWithError("stream not fully parsed");
    }
    state.SetBytesProcessed(state.iterations() * stream.size());
    state.counters["frames"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
    state.SetComplexityN(state.range(0));
}

void BM_NetString100ByteFrames(benchmark::State& state)
{
    parseInChunks(state, 100);
}

void BM_NetString64KiBFrames(benchmark::State& state)
{
    parseInChunks(state, 65536);
}

void BM_EncodeNetString(benchmark::State& state)
{
    const QByteArray payload(int(state.range(0)), 'x');
    for (auto _ : state)
        benchmark::DoNotOptimize(encodeNetString(payload));
    state.SetBytesProcessed(state.iterations() * payload.size());
}

} // namespace

BENCHMARK(BM_NetString100ByteFrames)->RangeMultiplier(4)->Range(256 << 10, 16 << 20)->Complexity(benchmark::oN);
BENCHMARK(BM_NetString64KiBFrames)->RangeMultiplier(4)->Range(1 << 20, 16 << 20)->Complexity(benchmark::oN);
BENCHMARK(BM_EncodeNetString)->Arg(100)->Arg(65536);

BENCHMARK_MAIN();
