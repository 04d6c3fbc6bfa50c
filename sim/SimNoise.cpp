#include "sim/SimNoise.h"

#include <cmath>

float SimNoise::value(double x, double y, quint32 salt)
{
    const double fx = std::floor(x);
    const double fy = std::floor(y);
    const auto ix = static_cast<qint32>(fx);
    const auto iy = static_cast<qint32>(fy);
    const float tx = static_cast<float>(x - fx);
    const float ty = static_cast<float>(y - fy);
    const float sx = tx * tx * (3.0f - 2.0f * tx);
    const float sy = ty * ty * (3.0f - 2.0f * ty);
    const auto ux = static_cast<quint32>(ix);
    const auto uy = static_cast<quint32>(iy);
    const float a = unit(hash(ux, uy, salt));
    const float b = unit(hash(ux + 1, uy, salt));
    const float c = unit(hash(ux, uy + 1, salt));
    const float d = unit(hash(ux + 1, uy + 1, salt));
    const float top = a + (b - a) * sx;
    const float bottom = c + (d - c) * sx;
    return top + (bottom - top) * sy;
}
