#include "session/FocusMeasure.h"

#include <QImage>

#include <benchmark/benchmark.h>

// One stack frame: the server's 168 x 140 inset picture.
static void BM_FocusMeasureInset(benchmark::State& state)
{
    QImage frame(168, 140, QImage::Format_RGB32);
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x)
            frame.setPixel(x, y, qRgb((x * 7 + y * 3) & 0xff, (x * y) & 0xff, (x ^ y) & 0xff));
    for (auto _ : state)
        benchmark::DoNotOptimize(FocusMeasure::of(frame));
    state.SetItemsProcessed(state.iterations() * frame.width() * frame.height());
}
BENCHMARK(BM_FocusMeasureInset);
