#include "imaging/FocusFusion.h"
#include "sim/SlideLibrary.h"
#include "sim/SlideModel.h"
#include "sim/SlideRenderer.h"
#include "sim/ThickSpecimen.h"

#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cmath>

namespace {

// A 15-plane stack of 1280 x 960 frames over a thick smear, as the server sends
// them (JPEG), with the truth: the all-in-focus frame and the in-focus heights.
struct ThickStack
{
    static constexpr int kW = 1280, kH = 960, kPlanes = 15;
    QVector<QByteArray> jpegs;
    QVector<QImage> planes;
    QVector<double> zUm;
    double stepUm = 0;
    QImage truth;
    cv::Mat heightUm;

    ThickStack()
    {
        const SlideModel slide(QStringLiteral("smear-31"), 1);
        const double x = slide.marks().first().x, y = slide.marks().first().y;
        const std::vector<float> h = ThickSpecimen::truthHeightUm(slide, x, y, kW, kH);
        heightUm = cv::Mat(kH, kW, CV_32F, const_cast<float*>(h.data())).clone();
        const auto [lo, hi] = std::minmax_element(h.begin(), h.end());
        // Planes a little beyond the specimen's depth at both ends.
        stepUm = std::ceil((*hi - *lo + 2.0) / (kPlanes - 1));
        const double first = (*lo + *hi) / 2 - stepUm * (kPlanes - 1) / 2;
        for (int i = 0; i < kPlanes; ++i) {
            zUm.append(first + i * stepUm);
            const QImage frame = SlideRenderer::frame(slide, x, y, zUm[i] * 10.0, kW, kH, 1000u + quint32(i));
            jpegs.append(SlideLibrary::encodeJpeg(frame));
            planes.append(QImage::fromData(jpegs.last(), "JPEG"));
        }
        truth = ThickSpecimen::truthFrame(slide, x, y, kW, kH);
    }
    static const ThickStack& get()
    {
        static const ThickStack stack;
        return stack;
    }
};

cv::Mat luminance(const QImage& image)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    const cv::Mat view(rgb.height(), rgb.width(), CV_8UC3, const_cast<uchar*>(rgb.constBits()),
                       size_t(rgb.bytesPerLine()));
    cv::Mat grey;
    cv::cvtColor(view, grey, cv::COLOR_RGB2GRAY);
    grey.convertTo(grey, CV_32F);
    return grey;
}

// Mean SSIM (Gaussian window, sigma 1.5) of two luminance pictures.
double ssim(const cv::Mat& a, const cv::Mat& b)
{
    const double c1 = 6.5025, c2 = 58.5225; // (0.01 * 255)^2, (0.03 * 255)^2
    auto blur = [](const cv::Mat& m) {
        cv::Mat out;
        cv::GaussianBlur(m, out, cv::Size(11, 11), 1.5);
        return out;
    };
    const cv::Mat ma = blur(a), mb = blur(b);
    const cv::Mat saa = blur(a.mul(a)) - ma.mul(ma), sbb = blur(b.mul(b)) - mb.mul(mb);
    const cv::Mat sab = blur(a.mul(b)) - ma.mul(mb);
    cv::Mat num = (2 * ma.mul(mb) + c1).mul(2 * sab + c2);
    cv::Mat den = (ma.mul(ma) + mb.mul(mb) + c1).mul(saa + sbb + c2);
    cv::Mat map;
    cv::divide(num, den, map);
    return cv::mean(map)[0];
}

FusionResult fuse(const QVector<QImage>& planes, const QVector<double>& z, int count)
{
    FocusFusion fusion;
    fusion.begin(planes.first().size());
    for (int i = 0; i < count; ++i)
        fusion.addPlane(planes[i % planes.size()], z[i % z.size()] + (i / planes.size()) * 0.01);
    return fusion.finish();
}

// Peak resident memory since the last reset, in bytes (Linux).
qint64 peakRss()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong() * 1024;
    return 0;
}

qint64 currentRss()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong() * 1024;
    return 0;
}

void resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

} // namespace

// Quality against the truth: the fused picture, the per-pixel nearest-plane
// oracle (the limit of choosing among the planes) and the best single plane;
// the height map's median error in z steps.
static void BM_FusionQuality(benchmark::State& state)
{
    const ThickStack& s = ThickStack::get();
    FusionResult result;
    for (auto _ : state)
        result = fuse(s.planes, s.zUm, ThickStack::kPlanes);
    const cv::Mat truth = luminance(s.truth);
    std::vector<cv::Mat> lum;
    double best = 0;
    for (const QImage& p : s.planes) {
        lum.push_back(luminance(p));
        best = std::max(best, ssim(lum.back(), truth));
    }
    cv::Mat oracle(truth.size(), CV_32F);
    for (int r = 0; r < oracle.rows; ++r)
        for (int c = 0; c < oracle.cols; ++c) {
            const double h = s.heightUm.at<float>(r, c);
            const int k = std::clamp(int(std::lround((h - s.zUm.first()) / s.stepUm)), 0, ThickStack::kPlanes - 1);
            oracle.at<float>(r, c) = lum[size_t(k)].at<float>(r, c);
        }
    cv::Mat error = cv::abs(result.heightUm - s.heightUm) / s.stepUm;
    std::vector<float> e(error.begin<float>(), error.end<float>());
    std::nth_element(e.begin(), e.begin() + e.size() / 2, e.end());
    const double fused = ssim(luminance(result.picture), truth);
    const double oracleSsim = ssim(oracle, truth);
    state.counters["ssim_fused"] = fused;
    state.counters["ssim_oracle"] = oracleSsim;
    state.counters["ssim_best_plane"] = best;
    state.counters["oracle_minus_fused"] = oracleSsim - fused;
    state.counters["fused_minus_best"] = fused - best;
    state.counters["height_median_err_steps"] = e[e.size() / 2];
    state.counters["step_um"] = s.stepUm;
}
BENCHMARK(BM_FusionQuality)->Iterations(1)->Unit(benchmark::kMillisecond);

// Fusing the 15 planes against decoding their 15 JPEG frames, side by side.
static void BM_FusionVsDecode(benchmark::State& state)
{
    const ThickStack& s = ThickStack::get();
    double decodeMs = 0, fuseMs = 0;
    QElapsedTimer t;
    for (auto _ : state) {
        t.start();
        for (const QByteArray& j : s.jpegs)
            benchmark::DoNotOptimize(QImage::fromData(j, "JPEG"));
        decodeMs += t.nsecsElapsed() / 1e6;
        t.start();
        benchmark::DoNotOptimize(fuse(s.planes, s.zUm, ThickStack::kPlanes));
        fuseMs += t.nsecsElapsed() / 1e6;
    }
    state.counters["decode_ms"] = decodeMs / double(state.iterations());
    state.counters["fuse_ms"] = fuseMs / double(state.iterations());
    state.counters["fuse_over_decode"] = fuseMs / decodeMs;
}
BENCHMARK(BM_FusionVsDecode)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// 120 planes against 15: time per plane and peak memory above the planes held.
static void BM_FusionScaling(benchmark::State& state)
{
    const ThickStack& s = ThickStack::get();
    double perPlane15 = 0, perPlane120 = 0;
    qint64 peak15 = 0, peak120 = 0;
    QElapsedTimer t;
    for (auto _ : state) {
        for (const int n : {15, 120}) {
            const qint64 before = currentRss();
            resetPeak();
            t.start();
            benchmark::DoNotOptimize(fuse(s.planes, s.zUm, n));
            const double perPlane = t.nsecsElapsed() / 1e6 / n;
            const qint64 peak = peakRss() - before;
            (n == 15 ? perPlane15 : perPlane120) += perPlane;
            (n == 15 ? peak15 : peak120) = std::max(n == 15 ? peak15 : peak120, peak);
        }
    }
    state.counters["ms_per_plane_15"] = perPlane15 / double(state.iterations());
    state.counters["ms_per_plane_120"] = perPlane120 / double(state.iterations());
    state.counters["time_per_plane_ratio"] = perPlane120 / perPlane15;
    state.counters["peak_mb_15"] = double(peak15) / (1 << 20);
    state.counters["peak_mb_120"] = double(peak120) / (1 << 20);
    state.counters["peak_ratio"] = double(peak120) / double(std::max<qint64>(1, peak15));
}
BENCHMARK(BM_FusionScaling)->Iterations(2)->Unit(benchmark::kMillisecond);
