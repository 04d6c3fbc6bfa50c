#pragma once

#include "acquire/CoordinateTriple.h"

#include <QPoint>
#include <QVector>

// The sampling grid of an acquisition job as picture pixels: one point every
// 1 / density mm from the top-left corner pixel a towards the bottom-right
// corner pixel b, column by column. The step comes from the pixel span divided
// by the stage span, so a calibration with few pixels per millimetre, corners
// with equal stage values or a rotation that reverses the pixel order can give
// steps of zero, infinity or the wrong sign; the grid stays finite in every case.
class SelectionGrid
{
public:
    // No picture can show more separate 3 x 3 dots than this.
    static constexpr int maxPoints = (3060 / 3) * (2036 / 3);

    // Pixel step along one axis, truncated toward zero. A step under one pixel
    // is raised to one; 0 means the step points away from the loop's end (or
    // the density is not positive) and no grid is drawn.
    static int step(int pixelFrom, int pixelTo, float stageFrom, float stageTo, int density);

    // Top-left corners of the 3 x 3 dots, at most cap of them.
    static QVector<QPoint> points(const QPoint& a, const QPoint& b, const CoordinateTriple& corner1,
                                  const CoordinateTriple& corner2, int density, int cap = maxPoints);
};
