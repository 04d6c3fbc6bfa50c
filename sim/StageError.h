#pragma once

#include <QPointF>

// Where a stage without encoders lands: a fixed offset per target point and
// seed, uniform within +-maxUnits on each axis, so a repeated scan lands the
// same way and a test can reproduce the truth behind it.
class StageError
{
public:
    static QPointF landing(quint32 seed, double x, double y, double maxUnits);
};
