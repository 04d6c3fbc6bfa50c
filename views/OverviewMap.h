#pragma once

#include "acquire/CoordinateTriple.h"

#include <QPoint>

// The slide overview's fixed mapping: the widget's width spans 75.67 mm of
// stage x and its height 50.325 mm of stage y, origin at the top-left corner.
class OverviewMap
{
public:
    static constexpr double widthMm = 75.67;
    static constexpr double heightMm = 50.325;

    // Full resolution, z = 0.
    static CoordinateTriple pixelToStage(const QPoint& pixel, int width, int height);
    // Whole millimetres only, so markers move in steps; not clamped.
    static QPoint stageToPixel(const CoordinateTriple& position, int width, int height);
};
