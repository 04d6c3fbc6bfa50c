#pragma once

#include <QPointF>
#include <QSize>
#include <QSizeF>
#include <QString>
#include <memory>

class FlatField;

// One frame of a tile scan. id = row * cols + col; reportedUm is the stage
// position the server reported for the frame's centre.
struct ScanTile
{
    int id = 0;
    int row = 0;
    int col = 0;
    QPointF reportedUm;
};

// The registration of the overlap of tiles i and j: shiftPx is where j's
// top-left pixel lies relative to i's, as found; score the correlation peak.
struct PairMeasurement
{
    int i = 0, j = 0;
    QPointF shiftPx;
    double score = 0.0;
    bool accepted = false;
};

// Where a tile's top-left pixel lies in the mosaic; a missing tile keeps the
// place the scan meant for it.
struct TilePlacement
{
    int id = 0;
    QPointF topLeftPx;
    bool missing = false;
};

struct MosaicPlan
{
    int rows = 0, cols = 0;
    QSize tileSize;
    double umPerPxX = 0.5, umPerPxY = 0.5;
    QPointF originUm;          // stage position of the mosaic's top-left pixel
    QString cacheDir;          // a temporary folder for the tiles is made inside
    QSizeF stepUm;             // stage distance between neighbouring tile centres
    double stageErrorUm = 5.0; // how far a move may land from where it was sent, per axis
    bool correctLight = false; // even the light with a flat field before registering and composing
    // the flat field of an earlier scan to use instead of estimating one; ignored when its size differs
    std::shared_ptr<const FlatField> flatField;
};
