#include "views/OverviewMap.h"

#include <algorithm>
#include <cmath>

namespace {

// A reported or typed position can be NaN or far beyond the slide; the int
// conversion is undefined outside int's range. Values inside it truncate as
// before.
int truncated(double v)
{
    if (std::isnan(v))
        return 0;
    return static_cast<int>(std::clamp(v, -1.0e9, 1.0e9));
}

} // namespace

CoordinateTriple OverviewMap::pixelToStage(const QPoint& pixel, int width, int height)
{
    CoordinateTriple position;
    position.x = static_cast<float>(widthMm / width * pixel.x() * 10000);
    position.y = static_cast<float>(heightMm / height * pixel.y() * 10000);
    return position;
}

QPoint OverviewMap::stageToPixel(const CoordinateTriple& position, int width, int height)
{
    const int mx = truncated(position.x * 0.0001);
    const int my = truncated(position.y * 0.0001);
    return QPoint(truncated(width * (1 / widthMm) * mx), truncated(height * (1 / heightMm) * my));
}
