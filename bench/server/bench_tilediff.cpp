// Cost of narrowing a full-screen damage report to changed tiles, per frame.
#include "TileDiff.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

void BM_TileDiffUnchangedScreen(benchmark::State& state)
{
    const int width = int(state.range(0)), height = int(state.range(1)), stride = width * 4;
    std::vector<uint8_t> frame(size_t(stride) * height, 0x40);
    TileDiff diff;
    diff.changedTiles(frame.data(), stride, width, height, {});
    const std::vector<ScreenRect> damage { { 0, 0, width, height } };
    for (auto _ : state)
        benchmark::DoNotOptimize(diff.changedTiles(frame.data(), stride, width, height, damage));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(frame.size()));
}

void BM_TileDiffScrollingTerminal(benchmark::State& state)
{
    // Like "yes | cat -n": every line changes, but only its first few columns.
    const int width = 1024, height = 768, stride = width * 4;
    std::vector<uint8_t> frame(size_t(stride) * height, 0xFF);
    TileDiff diff;
    diff.changedTiles(frame.data(), stride, width, height, {});
    const std::vector<ScreenRect> damage { { 0, 0, width, height } };
    uint8_t value = 0;
    for (auto _ : state) {
        state.PauseTiming();
        ++value;
        for (int y = 0; y < height; ++y)
            std::memset(frame.data() + size_t(y) * stride, value, 80 * 4);
        state.ResumeTiming();
        benchmark::DoNotOptimize(diff.changedTiles(frame.data(), stride, width, height, damage));
    }
}

} // namespace

BENCHMARK(BM_TileDiffUnchangedScreen)->Args({ 1024, 768 })->Args({ 1920, 1200 });
BENCHMARK(BM_TileDiffScrollingTerminal);
BENCHMARK_MAIN();
