#pragma once

#include <QPointF>

// A stage position or corner: three single-precision values, all 0 when made.
// Stage positions are in stage units of 0.1 um (10000 per millimetre) on all
// three axes; job corners kept by the session window are in millimetres.
class CoordinateTriple
{
public:
    CoordinateTriple() = default;

    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
};

// x and y of a stage position, in µm.
inline QPointF micrometres(const CoordinateTriple& stage)
{
    return QPointF(double(stage.x) / 10.0, double(stage.y) / 10.0);
}
