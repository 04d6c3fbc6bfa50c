#pragma once

#include <QVector3D>

// A motorised stage that moves at a constant speed: the position is
// interpolated from the last move's start, target and duration. Times are
// milliseconds of the server's clock.
class SimStage
{
public:
    static constexpr double kMaxX = 756700.0;
    static constexpr double kMaxY = 503250.0;
    static constexpr double kMaxZ = 30000.0;

    void place(double x, double y, double z);
    // Starts a move to the clamped target; returns its duration in ms.
    qint64 moveTo(double x, double y, double z, double unitsPerSecond, qint64 nowMs);
    // A move that takes exactly the given time (autofocus drives z this way).
    void moveOver(double x, double y, double z, qint64 durationMs, qint64 nowMs);
    void position(qint64 nowMs, double* x, double* y, double* z) const;
    bool moving(qint64 nowMs) const { return nowMs < m_startMs + m_durationMs; }
    qint64 remainingMs(qint64 nowMs) const;
    void target(double* x, double* y, double* z) const;

private:
    double m_from[3] = {0, 0, 0};
    double m_to[3] = {0, 0, 0};
    qint64 m_startMs = 0;
    qint64 m_durationMs = 0;
};
