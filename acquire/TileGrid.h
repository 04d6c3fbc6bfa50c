#pragma once

#include "imaging/TileTypes.h"

#include <QPoint>
#include <QPointF>
#include <QSize>
#include <QSizeF>
#include <QString>
#include <QVector>

// The frames of a region scan: a grid of overlapping frames whose union
// covers the region, centred on it, in micrometres of stage travel (x to the
// right, y downwards, as in the live picture).
class TileGrid
{
public:
    // More frames than this is not a scan one control session can take.
    static constexpr int maxTiles = 10000;

    // Corners in micrometres, the frame in pixels at umPerPx, overlap in per
    // cent of the frame (5 to 50). An invalid grid carries the reason in
    // `refusal`.
    static TileGrid plan(const QPointF& topLeftUm, const QPointF& bottomRightUm, const QSize& picture, double umPerPxX,
                         double umPerPxY, int overlapPercent);

    bool isValid() const { return refusal.isEmpty() && rows > 0 && cols > 0; }
    int count() const { return rows * cols; }
    // Stage position of the centre of the frame at row, col.
    QPointF centreUm(int row, int col) const;
    // Column (x) and row (y) of each frame in acquisition order: rows top to bottom,
    // every other row right to left, so no move crosses the region.
    QVector<QPoint> serpentine() const;
    // What the stitcher needs to know of the grid, its tiles kept in cacheDir.
    MosaicPlan mosaicPlan(const QString& cacheDir) const;

    int rows = 0;
    int cols = 0;
    QSize picture;
    double umPerPxX = 0.0;
    double umPerPxY = 0.0;
    QSizeF frameUm;
    QSizeF stepUm;
    // Stage position of the mosaic's top-left pixel.
    QPointF originUm;
    QString refusal;
};
