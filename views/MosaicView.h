#pragma once

#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QSize>
#include <QVector3D>
#include <QVector>
#include <QWidget>

#include <functional>

class QPainter;

// Pans and zooms over a mosaic far larger than the screen: the wheel zooms
// around the pointer, a drag pans, a scale bar shows the length, and a
// double-click announces the stage point under the pointer. The pictures come
// from a renderer that draws any part of the mosaic at any size, so the whole
// mosaic is never held here.
class MosaicView : public QWidget
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
    void fitToWindow();
    // Focus points to mark: stage x and y in µm and the z found there (µm),
    // with a line of text about the surface fitted through them.
    void setFocusPoints(const QVector<QVector3D>& pointsUm, const QString& surface);

    QSize mosaicSize() const { return pixels; }
    // View pixels per mosaic pixel.
    double zoom() const { return scale; }
    // The mosaic pixel under a point of the view.
    QPointF mosaicPoint(const QPointF& viewPoint) const;
    // The stage position in micrometres under a point of the view.
    QPointF stagePoint(const QPointF& viewPoint) const;

signals:
    void pointDoubleClicked(const QPointF& stageUm);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    double fitScale() const;
    void drawFocusPoints(QPainter& painter) const;
    void keepInView();

    Renderer render;
    QSize pixels;
    double umPerPxX = 0.0;
    double umPerPxY = 0.0;
    QPointF originUm;
    double scale = 1.0;
    // Mosaic pixel at the view's top-left corner.
    QPointF offset;
    bool fitted = true;
    QPoint pressPos;
    QPointF pressOffset;
    bool dragging = false;
    // The last picture drawn and where, reused until the view or content changes.
    QImage drawn;
    QRect drawnAt;
    bool stale = true;
    QVector<QVector3D> focusPoints;
    QString focusSurface;
};
