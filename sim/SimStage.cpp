#include "sim/SimStage.h"

#include <algorithm>
#include <cmath>

void SimStage::place(double x, double y, double z)
{
    m_from[0] = m_to[0] = std::clamp(x, 0.0, kMaxX);
    m_from[1] = m_to[1] = std::clamp(y, 0.0, kMaxY);
    m_from[2] = m_to[2] = std::clamp(z, 0.0, kMaxZ);
    m_durationMs = 0;
}

qint64 SimStage::moveTo(double x, double y, double z, double unitsPerSecond, qint64 nowMs)
{
    double cx, cy, cz;
    position(nowMs, &cx, &cy, &cz);
    const double tx = std::clamp(x, 0.0, kMaxX);
    const double ty = std::clamp(y, 0.0, kMaxY);
    const double tz = std::clamp(z, 0.0, kMaxZ);
    // the axes run at the same time, so the longest one sets the time
    const double longest = std::max({std::abs(tx - cx), std::abs(ty - cy), std::abs(tz - cz)});
    const double speed = unitsPerSecond > 0.0 ? unitsPerSecond : 1.0;
    const auto duration = static_cast<qint64>(std::ceil(longest / speed * 1000.0));
    m_from[0] = cx;
    m_from[1] = cy;
    m_from[2] = cz;
    m_to[0] = tx;
    m_to[1] = ty;
    m_to[2] = tz;
    m_startMs = nowMs;
    m_durationMs = duration;
    return duration;
}

void SimStage::moveOver(double x, double y, double z, qint64 durationMs, qint64 nowMs)
{
    double cx, cy, cz;
    position(nowMs, &cx, &cy, &cz);
    m_from[0] = cx;
    m_from[1] = cy;
    m_from[2] = cz;
    m_to[0] = std::clamp(x, 0.0, kMaxX);
    m_to[1] = std::clamp(y, 0.0, kMaxY);
    m_to[2] = std::clamp(z, 0.0, kMaxZ);
    m_startMs = nowMs;
    m_durationMs = std::max<qint64>(0, durationMs);
}

void SimStage::position(qint64 nowMs, double* x, double* y, double* z) const
{
    double t = 1.0;
    if (m_durationMs > 0 && nowMs < m_startMs + m_durationMs)
        t = std::max(0.0, double(nowMs - m_startMs) / double(m_durationMs));
    *x = m_from[0] + (m_to[0] - m_from[0]) * t;
    *y = m_from[1] + (m_to[1] - m_from[1]) * t;
    *z = m_from[2] + (m_to[2] - m_from[2]) * t;
}

qint64 SimStage::remainingMs(qint64 nowMs) const
{
    return std::max<qint64>(0, m_startMs + m_durationMs - nowMs);
}

void SimStage::target(double* x, double* y, double* z) const
{
    *x = m_to[0];
    *y = m_to[1];
    *z = m_to[2];
}
