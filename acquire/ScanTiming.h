#pragma once

#include <QElapsedTimer>
#include <QPointF>
#include <QVector>

class TileGrid;

// How long the microscope takes for a move, a frame and a quick autofocus,
// as measured in this session, and what a region scan will take with it.
// Moves are modelled as a fixed time plus a time per millimetre, fitted to
// the moves seen; before any measurement cautious defaults hold.
class ScanTiming
{
public:
    struct Model
    {
        double moveMs = 800.0;
        double moveMsPerMm = 200.0;
        double frameMs = 800.0;
        double autofocusMs = 2500.0;
    };

    // Expected seconds for a scan of `grid` from the stage at `startUm`,
    // focusing before every `autofocusEvery`-th frame (0: never), after a
    // move, an autofocus and a frame at each of `focusPointsUm` first. Each
    // point is taken to be kept: its frame is the tile there.
    static double estimateSeconds(const TileGrid& grid, const QPointF& startUm, int autofocusEvery, const Model& model,
                                  const QVector<QPointF>& focusPointsUm = {});
    // The tiles alone, but those centred on `takenUm`, whose frames are in hand.
    static double tilesSeconds(const TileGrid& grid, const QPointF& startUm, int autofocusEvery, const Model& model,
                               const QVector<QPointF>& takenUm = {});

    Model model() const;

    void addMove(double distanceUm, double ms);
    void addFrame(double ms);
    void addAutofocus(double ms);

    // Session hooks: a move sent over this distance, its final position, and
    // the frame that follows. An unmatched end is ignored.
    void moveSent(double distanceUm);
    void moveArrived();
    void frameArrived();

private:
    struct Sample
    {
        double distanceMm;
        double ms;
    };
    QVector<Sample> moves;
    double frameTotalMs = 0.0;
    int frames = 0;
    double autofocusTotalMs = 0.0;
    int autofocusRuns = 0;
    QElapsedTimer moveClock;
    QElapsedTimer frameClock;
    double pendingDistanceUm = 0.0;
};
