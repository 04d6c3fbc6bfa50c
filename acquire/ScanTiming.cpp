#include "acquire/ScanTiming.h"

#include "acquire/TileGrid.h"

#include <QLineF>

#include <algorithm>

namespace {
// The latest moves tell most about the microscope as it is now.
constexpr int keptMoves = 64;
} // namespace

double ScanTiming::estimateSeconds(const TileGrid& grid, const QPointF& startUm, int autofocusEvery, const Model& model,
                                   const QVector<QPointF>& focusPointsUm)
{
    if (!grid.isValid())
        return 0.0;
    double ms = 0.0;
    QPointF at = startUm;
    for (const QPointF& point : focusPointsUm) {
        // the frame after the autofocus tells tissue from bare glass and is the tile there
        ms +=
            model.moveMs + model.moveMsPerMm * QLineF(at, point).length() / 1000.0 + model.autofocusMs + model.frameMs;
        at = point;
    }
    return ms / 1000.0 + tilesSeconds(grid, at, autofocusEvery, model, focusPointsUm);
}

double ScanTiming::tilesSeconds(const TileGrid& grid, const QPointF& startUm, int autofocusEvery, const Model& model,
                                const QVector<QPointF>& takenUm)
{
    if (!grid.isValid())
        return 0.0;
    double ms = 0.0;
    QPointF at = startUm;
    int index = 0;
    for (const QPoint& tile : grid.serpentine()) {
        const QPointF next = grid.centreUm(tile.y(), tile.x());
        const bool focus = autofocusEvery > 0 && index++ % autofocusEvery == 0;
        if (takenUm.contains(next))
            continue;
        if (focus)
            ms += model.autofocusMs;
        ms += model.moveMs + model.moveMsPerMm * QLineF(at, next).length() / 1000.0 + model.frameMs;
        at = next;
    }
    return ms / 1000.0;
}

ScanTiming::Model ScanTiming::model() const
{
    Model m;
    if (frames > 0)
        m.frameMs = frameTotalMs / frames;
    if (autofocusRuns > 0)
        m.autofocusMs = autofocusTotalMs / autofocusRuns;
    if (moves.isEmpty())
        return m;
    // Least squares of time on distance; with one distance only, the time
    // per millimetre keeps its default and the fixed part takes the rest.
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (const Sample& s : moves) {
        sx += s.distanceMm;
        sy += s.ms;
        sxx += s.distanceMm * s.distanceMm;
        sxy += s.distanceMm * s.ms;
    }
    const double n = moves.size();
    const double spread = n * sxx - sx * sx;
    if (spread > 1e-6 * n * n) {
        m.moveMsPerMm = std::max(0.0, (n * sxy - sx * sy) / spread);
        m.moveMs = std::max(0.0, (sy - m.moveMsPerMm * sx) / n);
    } else {
        m.moveMs = std::max(0.0, sy / n - m.moveMsPerMm * sx / n);
    }
    return m;
}

void ScanTiming::addMove(double distanceUm, double ms)
{
    if (moves.size() == keptMoves)
        moves.removeFirst();
    moves.append({distanceUm / 1000.0, ms});
}

void ScanTiming::addFrame(double ms)
{
    frameTotalMs += ms;
    ++frames;
}

void ScanTiming::addAutofocus(double ms)
{
    autofocusTotalMs += ms;
    ++autofocusRuns;
}

void ScanTiming::moveSent(double distanceUm)
{
    pendingDistanceUm = distanceUm;
    moveClock.start();
    frameClock.invalidate();
}

void ScanTiming::moveArrived()
{
    if (moveClock.isValid())
        addMove(pendingDistanceUm, double(moveClock.elapsed()));
    moveClock.invalidate();
    frameClock.start();
}

void ScanTiming::frameArrived()
{
    if (frameClock.isValid())
        addFrame(double(frameClock.elapsed()));
    frameClock.invalidate();
}
