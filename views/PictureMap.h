#pragma once

#include "acquire/CoordinateTriple.h"

#include <QPointF>
#include <QSize>

// Ties the points of a live picture, drawn at some size, to stage
// millimetres: the picture's centre pixel (halves by integer division, as
// double-click centring counts) shows the stage position where the frame was
// taken, and each picture pixel spans the microscope's micrometres per pixel.
// A picture drawn larger or smaller than its own size is scaled accordingly.
class PictureMap
{
public:
    PictureMap() = default;
    PictureMap(const CoordinateTriple& stage, float mppX, float mppY, const QSize& picture, const QSize& drawn);

    // A scale and both sizes are known.
    bool isValid() const;
    // Where the crosshair goes: the point that double-click centring keeps in place.
    QPointF centre() const;
    // Micrometres per drawn pixel.
    double scaleX() const;
    double scaleY() const;
    QPointF toStageMm(const QPointF& drawnPoint) const;
    QPointF toDrawn(const QPointF& stageMm) const;
    QSize drawnSize() const { return drawn; }
    // Stage micrometres of the top-left pixel of a picture whose centre is at
    // `stage`: half the picture left and up, as the mosaic places its tiles.
    static QPointF topLeftUm(const CoordinateTriple& stage, float mppX, float mppY, const QSize& picture);
    double zMicrometres() const { return double(stage.z) * 0.1; }

private:
    CoordinateTriple stage;
    float mppX = 0.0f;
    float mppY = 0.0f;
    QSize picture;
    QSize drawn;
};
