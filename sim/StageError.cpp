#include "sim/StageError.h"

#include "sim/SimNoise.h"

QPointF StageError::landing(quint32 seed, double x, double y, double maxUnits)
{
    if (maxUnits <= 0.0)
        return {};
    const auto ix = static_cast<quint32>(static_cast<qint64>(x));
    const auto iy = static_cast<quint32>(static_cast<qint64>(y));
    const quint32 h = SimNoise::hash(ix, iy, seed ^ 0x5EA6E7u);
    const double ex = (SimNoise::unit(h) * 2.0 - 1.0) * maxUnits;
    const double ey = (SimNoise::unit(SimNoise::hash(h, iy, 0x77u)) * 2.0 - 1.0) * maxUnits;
    return {ex, ey};
}
