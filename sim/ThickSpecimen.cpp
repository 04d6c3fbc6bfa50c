#include "sim/ThickSpecimen.h"

#include "sim/SimNoise.h"
#include "sim/SlideLibrary.h"
#include "sim/SlideModel.h"
#include "sim/SlideRenderer.h"

#include <QBuffer>
#include <algorithm>
#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;

// Large frames are drawn at half resolution and scaled up, as thin ones are.
struct Grid
{
    int factor, w, h;
    double step, x0, y0;
    Grid(double x, double y, int fw, int fh)
        : factor(fw > 800 ? 2 : 1)
        , w(fw / factor)
        , h(fh / factor)
        , step(SlideRenderer::kUnitsPerPixel * factor)
        , x0(x + (0.5 * factor - fw * 0.5) * SlideRenderer::kUnitsPerPixel)
        , y0(y + (0.5 * factor - fh * 0.5) * SlideRenderer::kUnitsPerPixel)
    {
    }
};

QImage finish(SlideRenderer::Plane& p, int w, int h)
{
    QImage img = SlideRenderer::toImage(p);
    return img.width() == w ? img : img.scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// The height of a thick specimen above the slide's focal plane, stage units.
struct Relief
{
    bool thick;
    double c = 0, s = 0, p1 = 0, p2 = 0, p3 = 0;
    explicit Relief(const SlideModel& slide)
        : thick(ThickSpecimen::isThick(slide))
    {
        const quint32 salt = SimNoise::hashText(slide.name().toUtf8(), 0x7A1Cu);
        auto draw = [salt](quint32 i) { return SimNoise::unit(SimNoise::hash(salt, i, 3u)); };
        c = std::cos(draw(1) * kPi);
        s = std::sin(draw(1) * kPi);
        p1 = draw(2) * 2 * kPi;
        p2 = draw(3) * 2 * kPi;
        p3 = draw(4) * 2 * kPi;
    }
    // A 2.6 mm swell reads as a tilt of about 20 µm across a frame; on it an
    // undulation of 4.5 µm with a period of some 420 µm.
    double at(double x, double y) const
    {
        if (!thick)
            return 0;
        return 140.0 * std::sin(2 * kPi * (x * c + y * s) / 26000.0 + p1) +
               45.0 * std::sin(2 * kPi * (0.8 * x - 0.6 * y) / 4200.0 + p2) * std::cos(2 * kPi * y / 5200.0 + p3);
    }
};

QByteArray png(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "png");
    return bytes;
}

} // namespace

bool ThickSpecimen::isThick(const SlideModel& slide)
{
    return slide.name().startsWith(QLatin1String("smear-")) || slide.name().startsWith(QLatin1String("thick-"));
}

double ThickSpecimen::surfaceAt(const SlideModel& slide, double x, double y)
{
    return slide.focalPlaneAt(x, y) + Relief(slide).at(x, y);
}

QImage ThickSpecimen::frame(const SlideModel& slide, double x, double y, double z, int w, int h, quint32 seed)
{
    const Grid g(x, y, w, h);
    const SlideRenderer::Plane sharp = SlideRenderer::sample(slide, g.x0, g.y0, g.step, 0, 0, g.step, g.w, g.h);
    const Relief relief(slide);
    std::vector<float> sigma(static_cast<size_t>(g.w) * g.h);
    float most = 0;
    for (int j = 0; j < g.h; ++j)
        for (int i = 0; i < g.w; ++i) {
            const double px = g.x0 + i * g.step, py = g.y0 + j * g.step;
            const double dz = z - slide.focalPlaneAt(px, py) - relief.at(px, py);
            const float s = static_cast<float>(SlideRenderer::blurSigma(dz) / g.factor);
            sigma[static_cast<size_t>(j) * g.w + i] = s;
            most = std::max(most, s);
        }
    // Blur the slide in steps of sqrt(2) in sigma, each from the one before, and
    // give every pixel the blend of the two steps around its own sigma.
    SlideRenderer::Plane out = sharp;
    SlideRenderer::Plane lower = sharp;
    double s0 = 0.2;
    SlideRenderer::blur(lower, s0);
    for (size_t k = 0; k < sigma.size(); ++k)
        if (sigma[k] <= s0)
            std::copy_n(&lower.rgb[k * 3], 3, &out.rgb[k * 3]);
    while (s0 < most) {
        const double s1 = s0 * std::sqrt(2.0);
        SlideRenderer::Plane upper = lower;
        SlideRenderer::blur(upper, std::sqrt(s1 * s1 - s0 * s0));
        for (size_t k = 0; k < sigma.size(); ++k) {
            if (sigma[k] <= s0 || sigma[k] > s1)
                continue;
            const float t = static_cast<float>((sigma[k] - s0) / (s1 - s0));
            for (size_t c = k * 3; c < k * 3 + 3; ++c)
                out.rgb[c] = lower.rgb[c] + t * (upper.rgb[c] - lower.rgb[c]);
        }
        lower = std::move(upper);
        s0 = s1;
    }
    SlideRenderer::lightAndNoise(out, seed);
    return finish(out, w, h);
}

QImage ThickSpecimen::truthFrame(const SlideModel& slide, double x, double y, int w, int h)
{
    const Grid g(x, y, w, h);
    SlideRenderer::Plane p = SlideRenderer::sample(slide, g.x0, g.y0, g.step, 0, 0, g.step, g.w, g.h);
    SlideRenderer::blur(p, SlideRenderer::blurSigma(0) / g.factor);
    SlideRenderer::lightAndNoise(p, 0, 0.0f);
    return finish(p, w, h);
}

std::vector<float> ThickSpecimen::truthHeightUm(const SlideModel& slide, double x, double y, int w, int h)
{
    const Relief relief(slide);
    std::vector<float> out(static_cast<size_t>(w) * h);
    const double u = SlideRenderer::kUnitsPerPixel;
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i) {
            const double px = x + (i + 0.5 - w * 0.5) * u, py = y + (j + 0.5 - h * 0.5) * u;
            out[static_cast<size_t>(j) * w + i] =
                static_cast<float>((slide.focalPlaneAt(px, py) + relief.at(px, py)) / 10.0);
        }
    return out;
}

SimReply ThickSpecimen::truthReply(SlideLibrary& slides, const QString& kind, const QString& slide, double x, double y,
                                   int pictureSize)
{
    static const int widths[] = {640, 800, 1024, 1280};
    static const int heights[] = {480, 600, 768, 960};
    if (pictureSize < 1 || pictureSize > 4 || !std::isfinite(x) || !std::isfinite(y))
        return SimReply::text("-BAD_REQUEST\n");
    const int w = widths[pictureSize - 1], h = heights[pictureSize - 1];
    const SlideModel& model = slides.slide(slide);
    SimReply reply;
    reply.contentType = "image/png";
    if (kind == QLatin1String("aif")) {
        reply.body = png(truthFrame(model, x, y, w, h));
    } else if (kind == QLatin1String("height")) {
        const std::vector<float> um = truthHeightUm(model, x, y, w, h);
        QImage img(w, h, QImage::Format_Grayscale16);
        for (int j = 0; j < h; ++j) {
            auto* line = reinterpret_cast<quint16*>(img.scanLine(j));
            for (int i = 0; i < w; ++i)
                line[i] = static_cast<quint16>(std::clamp(std::lround(um[size_t(j) * w + i] * 10.0), 0L, 65535L));
        }
        reply.body = png(img);
    } else {
        return SimReply::text("-UNKNOWN_REQUEST\n");
    }
    return reply;
}
