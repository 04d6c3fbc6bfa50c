#pragma once

#include "views/ZoomPanView.h"

#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QSize>
#include <QVector3D>
#include <QVector>

#include <functional>

class QPainter;

// Pans and zooms over a mosaic far larger than the screen: a scale bar shows
// the length, and a double-click announces the stage point under the pointer. The pictures come
// from a renderer that draws any part of the mosaic at any size, so the whole
// mosaic is never held here.
class MosaicView : public ZoomPanView
{
    Q_OBJECT

public:
    // Draws mosaic pixels `area` scaled to `out` pixels.
    using Renderer = std::function<QImage(const QRectF& area, const QSize& out)>;

    explicit MosaicView(QWidget* parent = nullptr);

    // A mosaic of `pixels`, whose top-left pixel lies at `originUm` on the
    // stage; shown whole.
    void setMosaic(const QSize& pixels, double umPerPxX, double umPerPxY, const QPointF& originUm, Renderer renderer);
    // The mosaic grew or its tiles moved; a fitted view fits again.
    void setMosaicGeometry(const QSize& mosaicPixels, const QPointF& origin);
    // The mosaic's content changed: draw again.
    void refresh();
    // Focus points to mark: stage x and y in µm and the z found there (µm),
    // with a line of text about the surface fitted through them.
    void setFocusPoints(const QVector<QVector3D>& pointsUm, const QString& surface);

    QSize mosaicSize() const { return pixels; }
    // The stage position in micrometres under a point of the view.
    QPointF stagePoint(const QPointF& viewPoint) const;

signals:
    void pointDoubleClicked(const QPointF& stageUm);

protected:
    QSize pictureSize() const override { return pixels; }
    void viewMoved() override { refresh(); }
    void pictureDoubleClicked(const QPointF& mosaicPixel) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void drawFocusPoints(QPainter& painter) const;

    Renderer render;
    QSize pixels;
    double umPerPxX = 0.0;
    double umPerPxY = 0.0;
    QPointF originUm;
    // The last picture drawn and where, reused until the view or content changes.
    QImage drawn;
    QRect drawnAt;
    bool stale = true;
    QVector<QVector3D> focusPoints;
    QString focusSurface;
};
