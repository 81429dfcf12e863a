// Per-update work of the display glue: mapping a painted region to widget
// pixels at each scale, and grouping end-paints into frames.
#include "RdpCoordinates.h"
#include "RdpFrameGrouper.h"

#include <QRegion>
#include <QVector>

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
    QRegion repaint;
    for (auto _ : state) {
        frames.frameMarker(RdpFrameGrouper::FrameBegin, &repaint);
        for (int i = 0; i < state.range(0); ++i) {
            frames.paint(QRect(64 * (i % 16), 64 * (i / 16), 64, 64));
            benchmark::DoNotOptimize(frames.endPaint(&repaint));
        }
        frames.frameMarker(RdpFrameGrouper::FrameEnd, &repaint);
        benchmark::DoNotOptimize(repaint);
    }
}
BENCHMARK(GroupFrame)->Arg(1)->Arg(16)->Arg(96);

// Many small drawing orders in one update (glyphs, lines): 8x16 cells
// scattered over the screen, as the software GDI lists them.
QVector<QRect> smallRects(int count)
{
    QVector<QRect> rects;
    rects.reserve(count);
    quint32 seed = 1;
    for (int i = 0; i < count; ++i) {
        seed = seed * 1103515245u + 12345u;
        rects.append(QRect(static_cast<int>((seed >> 8) % 1016), static_cast<int>((seed >> 20) % 752), 8, 16));
    }
    return rects;
}

// What an end-paint costs to collect its rectangles.
void CollectPainted(benchmark::State& state)
{
    const QVector<QRect> rects = smallRects(static_cast<int>(state.range(0)));
    RdpFrameGrouper frames;
    QRegion repaint;
    for (auto _ : state) {
        for (const QRect& rect : rects)
            frames.paint(rect);
        frames.endPaint(&repaint);
        benchmark::DoNotOptimize(repaint);
    }
}
BENCHMARK(CollectPainted)->Arg(1024)->Arg(65536)->Unit(benchmark::kMillisecond);

// The same rectangles united into a QRegion one by one, for comparison:
// each union costs as much as the region is large.
void UniteOneByOne(benchmark::State& state)
{
    const QVector<QRect> rects = smallRects(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        QRegion region;
        for (const QRect& rect : rects)
            region += rect;
        benchmark::DoNotOptimize(region);
    }
}
BENCHMARK(UniteOneByOne)->Arg(1024)->Arg(65536)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
