#include "bench/ReferenceFilters.h"
#include "views/ChannelStatistics.h"
#include "views/FilterPipeline.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

QImage benchFrame(const benchmark::State& state)
{
    return reference::simulatorLikeFrame(int(state.range(0)), int(state.range(1)), 17);
}

// Every stage of the chain switched on.
FilterPipeline::Settings allFilters(const QImage& frame, int channel = 2)
{
    FilterPipeline::Settings s;
    s.contrast = 2;
    s.channel = channel;
    s.brightnessOn = true;
    s.brightness = 150.0f;
    s.colourFilter = 1;
    s.invert = true;
    s.statistics.compute(frame);
    return s;
}

void setPixelsProcessed(benchmark::State& state)
{
    state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(1));
}

void BM_Memcpy(benchmark::State& state)
{
    const QImage frame = benchFrame(state);
    std::vector<uchar> copy(size_t(frame.sizeInBytes()));
    for (auto _ : state) {
        std::memcpy(copy.data(), frame.constBits(), copy.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    setPixelsProcessed(state);
}

// Filters run again and again on the same picture: the cost does not depend
// on the levels, and no copy is timed.
void BM_FilterReference(benchmark::State& state)
{
    QImage picture = benchFrame(state);
    const FilterPipeline::Settings s = allFilters(picture);
    for (auto _ : state) {
        reference::filter(picture, s, picture.width(), picture.height());
        benchmark::DoNotOptimize(picture.constBits());
    }
    setPixelsProcessed(state);
}

void BM_FilterFused(benchmark::State& state)
{
    QImage picture = benchFrame(state);
    const FilterPipeline::Settings s = allFilters(picture);
    for (auto _ : state) {
        FilterPipeline(s).apply(picture, picture.width(), picture.height());
        benchmark::DoNotOptimize(picture.constBits());
        benchmark::ClobberMemory();
    }
    setPixelsProcessed(state);
}

// Normal colour with every other stage on: three lookups per pixel.
void BM_FilterFusedColour(benchmark::State& state)
{
    QImage picture = benchFrame(state);
    const FilterPipeline::Settings s = allFilters(picture, 0);
    for (auto _ : state) {
        FilterPipeline(s).apply(picture, picture.width(), picture.height());
        benchmark::DoNotOptimize(picture.constBits());
        benchmark::ClobberMemory();
    }
    setPixelsProcessed(state);
}

void BM_Statistics(benchmark::State& state)
{
    const QImage frame = benchFrame(state);
    ChannelStatistics statistics;
    for (auto _ : state) {
        statistics.compute(frame);
        benchmark::DoNotOptimize(statistics.range);
    }
    setPixelsProcessed(state);
}

void BM_JpegDecode(benchmark::State& state)
{
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    benchFrame(state).save(&buffer, "JPEG");
    if (jpeg.isEmpty()) {
        state.SkipWithError("no JPEG encoder");
        return;
    }
    for (auto _ : state) {
        QImage decoded = QImage::fromData(jpeg, "JPEG");
        benchmark::DoNotOptimize(decoded.constBits());
    }
    setPixelsProcessed(state);
}

} // namespace

BENCHMARK(BM_Memcpy)->Args({640, 480})->Args({1280, 960});
BENCHMARK(BM_FilterReference)->Args({640, 480})->Args({1280, 960})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilterFused)->Args({640, 480})->Args({1280, 960});
BENCHMARK(BM_FilterFusedColour)->Args({640, 480})->Args({1280, 960});
BENCHMARK(BM_Statistics)->Args({640, 480})->Args({1280, 960});
BENCHMARK(BM_JpegDecode)->Args({640, 480})->Args({1280, 960})->Unit(benchmark::kMillisecond);
