#include "sim/SparseCells.h"

#include "sim/SimNoise.h"
#include "sim/SlideRenderer.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr SlideModel::Rgb kPaleGlass{248.f, 247.f, 250.f};
constexpr SlideModel::Rgb kCellColours[4] = {
    {226.f, 168.f, 198.f}, {188.f, 136.f, 196.f}, {214.f, 196.f, 228.f}, {232.f, 190.f, 182.f}};
constexpr double kPitch = 260.0;    // one cell at most per 26 um square
constexpr double kCluster = 9000.0; // clusters and gaps about a millimetre across

// Share of the squares around a point that hold a cell: none in the gaps.
float occupancy(double x, double y, quint32 salt)
{
    return std::clamp((SimNoise::value(x / kCluster, y / kCluster, salt ^ 0xCE11u) - 0.5f) * 2.5f, 0.f, 0.7f);
}

SlideModel::Rgb mix(const SlideModel::Rgb& a, const SlideModel::Rgb& b, float t)
{
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

} // namespace

bool SparseCells::isSparse(const QString& slideName)
{
    return slideName.startsWith(QLatin1String("cells-"));
}

SlideModel::Rgb SparseCells::colourAt(double x, double y, quint32 salt, double footprint)
{
    if (footprint >= kPitch)
        return mix(kPaleGlass, kCellColours[0], 0.3f * occupancy(x, y, salt));
    const auto ix = static_cast<quint32>(x / kPitch);
    const auto iy = static_cast<quint32>(y / kPitch);
    const quint32 h = SimNoise::hash(ix, iy, salt ^ 0x5CE1u);
    // decided at the square's middle, so a cell is never cut by the cluster edge
    if (SimNoise::unit(h) >= occupancy((ix + 0.5) * kPitch, (iy + 0.5) * kPitch, salt))
        return kPaleGlass;
    const double r = 45.0 + 6.0 * ((h >> 3) & 7u);
    const double room = kPitch * 0.5 - r - 2.0;
    const double cx = (ix + 0.5) * kPitch + (SimNoise::unit(h * 2654435761u) - 0.5) * 2.0 * room;
    const double cy = (iy + 0.5) * kPitch + (SimNoise::unit(h * 40503u) - 0.5) * 2.0 * room;
    const float k = std::clamp(float((r - std::hypot(x - cx, y - cy)) / std::max(4.0, footprint) + 0.5), 0.f, 1.f);
    return mix(kPaleGlass, kCellColours[(h >> 6) & 3u], k);
}

bool SparseCells::onCell(double x, double y, quint32 salt)
{
    return colourAt(x, y, salt, SlideRenderer::kUnitsPerPixel).g < kPaleGlass.g - 3.f;
}
