#include "sim/CameraEffects.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// Fixed on the sensor: place as a share of the picture, radius in pixels of
// a 640-pixel-wide picture, and how much light the shadow takes at its middle.
struct Speck
{
    float fx, fy, radius, depth;
};
constexpr Speck kSpecks[] = {{0.18f, 0.27f, 9.f, 0.10f},
                             {0.63f, 0.71f, 14.f, 0.07f},
                             {0.82f, 0.19f, 6.f, 0.12f},
                             {0.41f, 0.55f, 11.f, 0.06f},
                             {0.91f, 0.86f, 8.f, 0.09f}};

} // namespace

void CameraEffects::apply(QImage* frame) const
{
    if (!any() || frame->isNull())
        return;
    *frame = frame->convertToFormat(QImage::Format_RGB32);
    const int w = frame->width(), h = frame->height();
    const double cx = w * 0.5, cy = h * 0.5, corner = cx * cx + cy * cy, scale = w / 640.0;
    std::vector<float> gain(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double d = ((x + 0.5 - cx) * (x + 0.5 - cx) + (y + 0.5 - cy) * (y + 0.5 - cy)) / corner;
            gain[size_t(y) * w + x] = float(1.0 - (1.0 - cornerLight) * d);
        }
    if (dust)
        for (const Speck& s : kSpecks) {
            const double sx = s.fx * w, sy = s.fy * h, sigma = s.radius * scale * 0.5;
            const int reach = int(std::ceil(3.0 * sigma));
            for (int y = std::max(0, int(sy) - reach); y < std::min(h, int(sy) + reach + 1); ++y)
                for (int x = std::max(0, int(sx) - reach); x < std::min(w, int(sx) + reach + 1); ++x) {
                    const double d2 = (x + 0.5 - sx) * (x + 0.5 - sx) + (y + 0.5 - sy) * (y + 0.5 - sy);
                    gain[size_t(y) * w + x] *= float(1.0 - s.depth * std::exp(-d2 / (2.0 * sigma * sigma)));
                }
        }
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(frame->scanLine(y));
        for (int x = 0; x < w; ++x) {
            const float g = gain[size_t(y) * w + x];
            auto scaled = [g](int v) { return std::clamp(int(v * g + 0.5f), 0, 255); };
            line[x] = qRgb(scaled(qRed(line[x])), scaled(qGreen(line[x])), scaled(qBlue(line[x])));
        }
    }
}
