#include "sim/SlideLibrary.h"
#include "sim/SlideModel.h"
#include "sim/SlideRenderer.h"

#include <benchmark/benchmark.h>

// One 1280 x 960 video frame of the simulated microscope, 20 um out of
// focus, as the server draws it for "f=p&ps=4" (without the JPEG encoding).
static void BM_SimRenderFrame(benchmark::State& state)
{
    const SlideModel slide(QStringLiteral("liver-01"), 1);
    const double z = slide.focalPlaneAt(378350, 251625) + 200.0;
    quint32 seed = 1;
    for (auto _ : state) {
        QImage frame = SlideRenderer::frame(slide, 378350, 251625, z, 1280, 960, ++seed);
        benchmark::DoNotOptimize(frame.constBits());
    }
}
BENCHMARK(BM_SimRenderFrame)->Unit(benchmark::kMillisecond);

// The same frame including the JPEG encoding, the whole cost of one reply.
static void BM_SimFrameReply(benchmark::State& state)
{
    const SlideModel slide(QStringLiteral("liver-01"), 1);
    const double z = slide.focalPlaneAt(378350, 251625) + 200.0;
    quint32 seed = 1;
    for (auto _ : state) {
        QByteArray jpeg = SlideLibrary::encodeJpeg(SlideRenderer::frame(slide, 378350, 251625, z, 1280, 960, ++seed));
        benchmark::DoNotOptimize(jpeg.constData());
    }
}
BENCHMARK(BM_SimFrameReply)->Unit(benchmark::kMillisecond);

// A quick autofocus search at the middle of the slide.
static void BM_SimQuickAutofocus(benchmark::State& state)
{
    const SlideModel slide(QStringLiteral("liver-01"), 1);
    for (auto _ : state)
        benchmark::DoNotOptimize(SlideRenderer::autofocus(slide, 378350, 251625, false, 1));
}
BENCHMARK(BM_SimQuickAutofocus)->Unit(benchmark::kMillisecond);
