// Per-update work of the display glue: mapping a painted region to widget
// pixels at each scale, and grouping end-paints into frames.
#include "RdpCoordinates.h"
#include "RdpFrameGrouper.h"

#include <QRegion>

#include <benchmark/benchmark.h>

namespace {

QRegion paintedTiles()
{
    // A RemoteFX-like update: 64x64 tiles over a third of a 1024x768 screen.
    QRegion region;
    for (int y = 0; y < 768; y += 192)
        for (int x = 0; x < 1024; x += 128)
            region += QRect(x, y, 64, 64);
    return region;
}

void MapRegionToLocal(benchmark::State& state)
{
    const double inverse = state.range(0) / 2.0;
    const QRegion remote = paintedTiles();
    for (auto _ : state) {
        QRegion local;
        for (const QRect& rect : remote)
            local += RdpCoordinates::remoteToLocal(rect, inverse);
        benchmark::DoNotOptimize(local);
    }
}
BENCHMARK(MapRegionToLocal)->Arg(1)->Arg(2)->Arg(4);

void GroupFrame(benchmark::State& state)
{
    RdpFrameGrouper frames;
    const QRegion tile(0, 0, 64, 64);
    QRegion repaint;
    for (auto _ : state) {
        frames.frameMarker(RdpFrameGrouper::FrameBegin, &repaint);
        for (int i = 0; i < state.range(0); ++i)
            benchmark::DoNotOptimize(frames.endPaint(tile.translated(64 * (i % 16), 64 * (i / 16))));
        frames.frameMarker(RdpFrameGrouper::FrameEnd, &repaint);
        benchmark::DoNotOptimize(repaint);
    }
}
BENCHMARK(GroupFrame)->Arg(1)->Arg(16)->Arg(96);

} // namespace

BENCHMARK_MAIN();
