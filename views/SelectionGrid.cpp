#include "views/SelectionGrid.h"

#include <cmath>

int SelectionGrid::step(int pixelFrom, int pixelTo, float stageFrom, float stageTo, int density)
{
    if (density <= 0)
        return 0;
    const double pixelsPerMm = (pixelTo - pixelFrom) / ((stageTo - stageFrom) * 0.0001);
    const double q = pixelsPerMm / density;
    if (std::isnan(q))
        return 1;
    // A span of equal stage values gives an infinite step: one row or column.
    const double limited = std::fmax(std::fmin(q, 1.0e9), -1.0e9);
    const int truncated = static_cast<int>(limited);
    if (truncated < 0)
        return 0;
    return truncated < 1 ? 1 : truncated;
}

QVector<QPoint> SelectionGrid::points(const QPoint& a, const QPoint& b, const CoordinateTriple& corner1,
                                      const CoordinateTriple& corner2, int density, int cap)
{
    QVector<QPoint> result;
    const int stepX = step(a.x(), b.x(), corner1.x, corner2.x, density);
    const int stepY = step(a.y(), b.y(), corner1.y, corner2.y, density);
    if (stepX == 0 || stepY == 0 || cap <= 0)
        return result;
    // 64-bit counters: a huge step must not wrap the loop variable around.
    for (qint64 x = a.x(); x < b.x() - 2; x += stepX) {
        for (qint64 y = a.y(); y < b.y() - 2; y += stepY) {
            if (result.size() >= cap)
                return result;
            result.append(QPoint(static_cast<int>(x), static_cast<int>(y)));
        }
    }
    return result;
}
