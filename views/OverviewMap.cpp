#include "views/OverviewMap.h"

CoordinateTriple OverviewMap::pixelToStage(const QPoint& pixel, int width, int height)
{
    CoordinateTriple position;
    position.x = static_cast<float>(widthMm / width * pixel.x() * 10000);
    position.y = static_cast<float>(heightMm / height * pixel.y() * 10000);
    return position;
}

QPoint OverviewMap::stageToPixel(const CoordinateTriple& position, int width, int height)
{
    const int mx = static_cast<int>(position.x * 0.0001);
    const int my = static_cast<int>(position.y * 0.0001);
    return QPoint(static_cast<int>(width * (1 / widthMm) * mx),
                  static_cast<int>(height * (1 / heightMm) * my));
}
