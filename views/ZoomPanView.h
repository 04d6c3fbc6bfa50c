#pragma once

#include <QPoint>
#include <QPointF>
#include <QSize>
#include <QWidget>

// A picture far larger than the screen, panned and zoomed: the wheel zooms
// around the pointer, a drag pans, the arrow keys pan an eighth of the view,
// + and - zoom a step, Home fits; at least a quarter of the view keeps
// showing the picture. Subclasses draw it and say how large it is.
class ZoomPanView : public QWidget
{
    Q_OBJECT

public:
    ZoomPanView(QWidget* parent, double maxZoom);

    void fitToWindow();
    // Zooms by a factor, keeping the picture point under `at` (view pixels) in place.
    void zoomBy(double factor, const QPointF& at);
    void panBy(const QPointF& viewPixels);
    // Shows the picture at `zoom` with picture point `topLeft` in the view's corner.
    void setZoom(double zoom, const QPointF& topLeft);

    // View pixels per picture pixel.
    double zoom() const { return scale; }
    QPointF imagePoint(const QPointF& viewPoint) const;
    QPointF viewPoint(const QPointF& imagePoint) const;

protected:
    virtual QSize pictureSize() const = 0;
    // Where or how large the picture is shown changed.
    virtual void viewMoved() = 0;
    // A double-click on the picture, in picture pixels.
    virtual void pictureDoubleClicked(const QPointF& imagePoint) = 0;
    // The picture moved under the view by this many picture pixels; a fitted view fits again.
    void pictureShifted(const QPointF& pixels);

    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    double fitScale() const;
    void keepInView();

    double maxZoom;
    double scale = 1.0;
    QPointF offset; // picture pixel at the view's top-left corner
    bool fitted = true;
    bool dragging = false;
    QPoint pressPos;
    QPointF pressOffset;
};
