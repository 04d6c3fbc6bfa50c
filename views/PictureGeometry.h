#pragma once

#include "acquire/CoordinateTriple.h"

#include <QPoint>
#include <QPointF>
#include <QSize>

// Where a point of the live picture lies on the slide: at the stage position
// plus its distance from the picture centre times the micrometres per pixel,
// x to the right and y downwards. The read-outs, the double-click and the
// keyboard steps all go through here, so a destination is exactly what the
// read-outs show for that point.
class PictureGeometry
{
public:
    // Distance of picture point p from the centre, in micrometres (halves by integer division).
    static QPointF offset(const QPoint& p, const QSize& picture, float mppX, float mppY);
    // One axis: stage units (0.1 um) plus an offset in micrometres.
    static float stageUnits(float stage, float offsetMicrometres);
    // The stage position under an offset from the centre; z is kept.
    static CoordinateTriple stagePoint(const CoordinateTriple& stage, const QPointF& offsetMicrometres);
};
