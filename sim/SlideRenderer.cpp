#include "sim/SlideRenderer.h"

#include "sim/SimNoise.h"
#include "sim/SlideModel.h"
#include "sim/ThickSpecimen.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int kCoarseStep = 8;

// One pass of a box of half-width rho (fractional: the outermost taps get
// the fractional weight) along a line of n values with the given stride.
void boxLine(const float* in, float* out, int n, int stride, double rho, std::vector<float>& line)
{
    const int r = static_cast<int>(rho);
    const float frac = static_cast<float>(rho - r);
    const int pad = r + 1;
    line.resize(static_cast<size_t>(n + 2 * pad + 1));
    for (int i = 0; i < n + 2 * pad; ++i) {
        const int src = std::clamp(i - pad, 0, n - 1);
        line[static_cast<size_t>(i)] = in[static_cast<size_t>(src) * stride];
    }
    const float norm = 1.0f / (2 * r + 1 + 2.0f * frac);
    float sum = 0.f;
    for (int k = -r; k <= r; ++k)
        sum += line[static_cast<size_t>(pad + k)];
    for (int i = 0; i < n; ++i) {
        const int c = i + pad;
        const float edge = line[static_cast<size_t>(c - r - 1)] + line[static_cast<size_t>(c + r + 1)];
        out[static_cast<size_t>(i) * stride] = (sum + frac * edge) * norm;
        sum += line[static_cast<size_t>(c + r + 1)] - line[static_cast<size_t>(c - r)];
    }
}

} // namespace

SlideRenderer::Plane SlideRenderer::sample(const SlideModel& slide, double x0, double y0, double ix, double iy,
                                           double jx, double jy, int w, int h)
{
    Plane p;
    p.w = w;
    p.h = h;
    p.rgb.resize(static_cast<size_t>(w) * h * 3);
    const double footprint = std::max(std::hypot(ix, iy), std::hypot(jx, jy));

    // The slow fields on a coarse grid, interpolated per pixel.
    const int gw = w / kCoarseStep + 2;
    const int gh = h / kCoarseStep + 2;
    std::vector<SlideModel::Coarse> grid(static_cast<size_t>(gw) * gh);
    for (int gj = 0; gj < gh; ++gj)
        for (int gi = 0; gi < gw; ++gi) {
            const double i = gi * kCoarseStep;
            const double j = gj * kCoarseStep;
            grid[static_cast<size_t>(gj) * gw + gi] = slide.coarseAt(x0 + i * ix + j * jx, y0 + i * iy + j * jy);
        }

    float* out = p.rgb.data();
    for (int j = 0; j < h; ++j) {
        const int gj = j / kCoarseStep;
        const float tj = float(j - gj * kCoarseStep) / kCoarseStep;
        for (int i = 0; i < w; ++i) {
            const int gi = i / kCoarseStep;
            const float ti = float(i - gi * kCoarseStep) / kCoarseStep;
            const SlideModel::Coarse& a = grid[static_cast<size_t>(gj) * gw + gi];
            const SlideModel::Coarse& b = grid[static_cast<size_t>(gj) * gw + gi + 1];
            const SlideModel::Coarse& c = grid[static_cast<size_t>(gj + 1) * gw + gi];
            const SlideModel::Coarse& d = grid[static_cast<size_t>(gj + 1) * gw + gi + 1];
            const float wa = (1 - ti) * (1 - tj), wb = ti * (1 - tj), wc = (1 - ti) * tj, wd = ti * tj;
            SlideModel::Coarse m;
            m.tissue = a.tissue * wa + b.tissue * wb + c.tissue * wc + d.tissue * wd;
            m.fibrePhase = a.fibrePhase * wa + b.fibrePhase * wb + c.fibrePhase * wc + d.fibrePhase * wd;
            m.gland = a.gland * wa + b.gland * wb + c.gland * wc + d.gland * wd;
            m.nuclei = a.nuclei * wa + b.nuclei * wb + c.nuclei * wc + d.nuclei * wd;
            const SlideModel::Rgb col = slide.colourAt(x0 + i * ix + j * jx, y0 + i * iy + j * jy, m, footprint);
            *out++ = col.r;
            *out++ = col.g;
            *out++ = col.b;
        }
    }
    return p;
}

void SlideRenderer::blur(Plane& plane, double sigma)
{
    if (sigma < 0.05 || plane.w == 0 || plane.h == 0)
        return;
    // Three box passes per axis; each carries a third of the variance.
    const double perPass = sigma * sigma / 3.0;
    const double rho = (std::sqrt(12.0 * perPass + 1.0) - 1.0) / 2.0;
    std::vector<float> line;
    std::vector<float> tmp(plane.rgb.size());
    const int w = plane.w, h = plane.h;
    for (int pass = 0; pass < 3; ++pass) {
        for (int y = 0; y < h; ++y)
            for (int ch = 0; ch < 3; ++ch) {
                const size_t base = static_cast<size_t>(y) * w * 3 + ch;
                boxLine(plane.rgb.data() + base, tmp.data() + base, w, 3, rho, line);
            }
        for (int x = 0; x < w; ++x)
            for (int ch = 0; ch < 3; ++ch) {
                const size_t base = static_cast<size_t>(x) * 3 + ch;
                boxLine(tmp.data() + base, plane.rgb.data() + base, h, w * 3, rho, line);
            }
    }
}

void SlideRenderer::lightAndNoise(Plane& plane, quint32 noiseSeed, float noise)
{
    SimRandom rng(noiseSeed);
    const float cx = plane.w * 0.56f, cy = plane.h * 0.45f;
    const float norm = 1.0f / (0.25f * (plane.w * plane.w + plane.h * plane.h));
    float* v = plane.rgb.data();
    for (int y = 0; y < plane.h; ++y)
        for (int x = 0; x < plane.w; ++x) {
            const float dx = x - cx, dy = y - cy;
            const float light = (1.0f - 0.24f * (dx * dx + dy * dy) * norm) * (0.97f + 0.05f * x / plane.w);
            const float grain = (rng.uniform() + rng.uniform() - 1.0f) * 6.0f * noise;
            for (int ch = 0; ch < 3; ++ch, ++v)
                *v = *v * light + grain + (rng.uniform() - 0.5f) * 2.0f * noise;
        }
}

QImage SlideRenderer::toImage(const Plane& plane)
{
    QImage img(plane.w, plane.h, QImage::Format_RGB32);
    const float* v = plane.rgb.data();
    for (int y = 0; y < plane.h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < plane.w; ++x, v += 3) {
            const int r = std::clamp(static_cast<int>(v[0]), 0, 255);
            const int g = std::clamp(static_cast<int>(v[1]), 0, 255);
            const int b = std::clamp(static_cast<int>(v[2]), 0, 255);
            line[x] = qRgb(r, g, b);
        }
    }
    return img;
}

double SlideRenderer::focusMeasure(const Plane& plane)
{
    // Gradient energy at full resolution, for the last micrometre, plus that
    // of 4 x 4 binned pixels, which sensor noise hardly reaches and which
    // still sees coarse structure far from focus.
    auto gradientEnergy = [](const std::vector<float>& g, int w, int h) {
        double sum = 0.0;
        for (int y = 0; y + 1 < h; ++y)
            for (int x = 0; x + 1 < w; ++x) {
                const float v = g[static_cast<size_t>(y) * w + x];
                const float dx = g[static_cast<size_t>(y) * w + x + 1] - v;
                const float dy = g[static_cast<size_t>(y + 1) * w + x] - v;
                sum += dx * dx + dy * dy;
            }
        return (w > 1 && h > 1) ? sum / (double(w - 1) * (h - 1)) : 0.0;
    };
    const int w = plane.w, h = plane.h;
    std::vector<float> green(static_cast<size_t>(w) * h);
    for (size_t i = 0; i < green.size(); ++i)
        green[i] = plane.rgb[i * 3 + 1];
    const int bw = w / 4, bh = h / 4;
    std::vector<float> binned(static_cast<size_t>(bw) * bh, 0.f);
    for (int y = 0; y < bh * 4; ++y)
        for (int x = 0; x < bw * 4; ++x)
            binned[static_cast<size_t>(y / 4) * bw + x / 4] += green[static_cast<size_t>(y) * w + x] * (1.f / 16.f);
    return gradientEnergy(green, w, h) + gradientEnergy(binned, bw, bh);
}

double SlideRenderer::blurSigma(double dz)
{
    const double defocus = 0.06 * std::abs(dz);
    return std::min(90.0, std::sqrt(0.25 + defocus * defocus));
}

QImage SlideRenderer::frame(const SlideModel& slide, double x, double y, double z, int w, int h, quint32 seed)
{
    // On a steep slide focus changes within a frame, so each pixel is blurred by its own distance.
    if (ThickSpecimen::isThick(slide) || slide.isTilted())
        return ThickSpecimen::frame(slide, x, y, z, w, h, seed);
    // Large frames are drawn at half resolution and scaled up, which keeps a
    // 1280 x 960 frame well inside the time of one video request.
    const int factor = w > 800 ? 2 : 1;
    const int ew = w / factor, eh = h / factor;
    const double step = kUnitsPerPixel * factor;
    const double x0 = x + (0.5 * factor - w * 0.5) * kUnitsPerPixel;
    const double y0 = y + (0.5 * factor - h * 0.5) * kUnitsPerPixel;
    Plane p = sample(slide, x0, y0, step, 0.0, 0.0, step, ew, eh);
    blur(p, blurSigma(z - slide.focalPlaneAt(x, y)) / factor);
    lightAndNoise(p, seed);
    QImage img = toImage(p);
    if (factor != 1)
        img = img.scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return img;
}

QImage SlideRenderer::wholeSlide(const SlideModel& slide)
{
    double x0, y0, x1, y1, x2, y2;
    slide.wholePixelToStage(0.5, 0.5, &x0, &y0);
    slide.wholePixelToStage(1.5, 0.5, &x1, &y1);
    slide.wholePixelToStage(0.5, 1.5, &x2, &y2);
    Plane p =
        sample(slide, x0, y0, x1 - x0, y1 - y0, x2 - x0, y2 - y0, SlideModel::kWholeWidth, SlideModel::kWholeHeight);
    return toImage(p);
}

QImage SlideRenderer::overview(const SlideModel& slide, int w, int h)
{
    const double sx = SlideModel::kWidthUnits / w;
    const double sy = SlideModel::kHeightUnits / h;
    Plane p = sample(slide, sx * 0.5, sy * 0.5, sx, 0.0, 0.0, sy, w, h);
    return toImage(p);
}

double SlideRenderer::autofocus(const SlideModel& slide, double x, double y, bool accurate, quint32 seed,
                                int* exposures)
{
    int taken = 0;
    // The slide under the objective does not change with z: sample it once
    // and only blur, light and measure per tried z.
    auto makeField = [&](int w, int h) {
        const double x0 = x + (0.5 - w * 0.5) * kUnitsPerPixel;
        const double y0 = y + (0.5 - h * 0.5) * kUnitsPerPixel;
        return sample(slide, x0, y0, kUnitsPerPixel, 0.0, 0.0, kUnitsPerPixel, w, h);
    };
    const double zf = ThickSpecimen::surfaceAt(slide, x, y);
    auto measure = [&](const Plane& sharp, double z) {
        ++taken;
        Plane p = sharp;
        blur(p, blurSigma(z - zf));
        // one exposure series: the sensor noise pattern does not decide the peak
        lightAndNoise(p, SimNoise::hash(seed, 0xAFu, 0x5Eu));
        return focusMeasure(p);
    };
    auto scan = [&](const Plane& sharp, double from, double to, double step, double* bestScore) {
        double best = from;
        *bestScore = -1.0;
        for (double z = from; z <= to + 1e-9; z += step) {
            const double m = measure(sharp, z);
            if (m > *bestScore) {
                *bestScore = m;
                best = z;
            }
        }
        return best;
    };

    const Plane small = makeField(160, 120);
    double score = 0.0;
    double z = scan(small, 4000.0, 18000.0, 150.0, &score);
    // parabola through the best step and its neighbours
    auto refine = [&](const Plane& sharp, double at, double step, double peak) {
        const double below = measure(sharp, at - step);
        const double above = measure(sharp, at + step);
        const double denom = below - 2.0 * peak + above;
        return denom < 0.0 ? at + std::clamp(0.5 * step * (below - above) / denom, -step, step) : at;
    };
    z = scan(small, z - 150.0, z + 150.0, 50.0, &score);
    if (accurate) {
        const Plane larger = makeField(320, 240);
        z = scan(larger, z - 60.0, z + 60.0, 10.0, &score);
        z = refine(larger, z, 10.0, score);
    } else {
        z = refine(small, z, 50.0, score);
    }
    if (exposures)
        *exposures = taken;
    return std::clamp(z, 0.0, SlideModel::kZMax);
}
