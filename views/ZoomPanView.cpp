#include "views/ZoomPanView.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {
constexpr double kStep = 1.25;
} // namespace

ZoomPanView::ZoomPanView(QWidget* parent, double largest)
    : QWidget(parent)
    , maxZoom(largest)
{
    setMinimumSize(200, 150);
    setCursor(Qt::OpenHandCursor);
    setFocusPolicy(Qt::StrongFocus);
}

double ZoomPanView::fitScale() const
{
    const QSize size = pictureSize();
    if (size.isEmpty())
        return 1.0;
    return std::min(double(width()) / size.width(), double(height()) / size.height());
}

void ZoomPanView::fitToWindow()
{
    const QSize size = pictureSize();
    fitted = true;
    scale = fitScale();
    offset = QPointF((size.width() - width() / scale) / 2.0, (size.height() - height() / scale) / 2.0);
    viewMoved();
}

void ZoomPanView::keepInView()
{
    const QSize size = pictureSize();
    const double w = width() / scale, h = height() / scale;
    offset.setX(std::clamp(offset.x(), -0.75 * w, size.width() - 0.25 * w));
    offset.setY(std::clamp(offset.y(), -0.75 * h, size.height() - 0.25 * h));
}

void ZoomPanView::zoomBy(double factor, const QPointF& at)
{
    if (pictureSize().isEmpty())
        return;
    const QPointF anchor = imagePoint(at);
    scale = std::clamp(scale * factor, std::min(fitScale() / 2.0, 1.0), maxZoom);
    offset = anchor - at / scale;
    fitted = false;
    keepInView();
    viewMoved();
}

void ZoomPanView::setZoom(double zoom, const QPointF& topLeft)
{
    scale = std::clamp(zoom, 1.0 / (1 << 16), maxZoom);
    offset = topLeft;
    fitted = false;
    viewMoved();
}

void ZoomPanView::panBy(const QPointF& viewPixels)
{
    offset += viewPixels / scale;
    fitted = false;
    keepInView();
    viewMoved();
}

void ZoomPanView::pictureShifted(const QPointF& pixels)
{
    offset += pixels;
    if (fitted)
        fitToWindow();
    else
        viewMoved();
}

QPointF ZoomPanView::imagePoint(const QPointF& at) const
{
    return offset + at / scale;
}

QPointF ZoomPanView::viewPoint(const QPointF& imagePoint) const
{
    return (imagePoint - offset) * scale;
}

void ZoomPanView::resizeEvent(QResizeEvent*)
{
    if (fitted) {
        fitToWindow();
        return;
    }
    keepInView();
    viewMoved();
}

void ZoomPanView::wheelEvent(QWheelEvent* event)
{
    zoomBy(std::pow(kStep, event->angleDelta().y() / 120.0), event->position());
    event->accept();
}

void ZoomPanView::keyPressEvent(QKeyEvent* event)
{
    const QPointF centre(width() / 2.0, height() / 2.0);
    const double stepX = width() / 8.0, stepY = height() / 8.0;
    switch (event->key()) {
    case Qt::Key_Left:
        return panBy(QPointF(-stepX, 0));
    case Qt::Key_Right:
        return panBy(QPointF(stepX, 0));
    case Qt::Key_Up:
        return panBy(QPointF(0, -stepY));
    case Qt::Key_Down:
        return panBy(QPointF(0, stepY));
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        return zoomBy(kStep, centre);
    case Qt::Key_Minus:
        return zoomBy(1.0 / kStep, centre);
    case Qt::Key_Home:
        return fitToWindow();
    default:
        QWidget::keyPressEvent(event);
    }
}

void ZoomPanView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    dragging = true;
    pressPos = event->position().toPoint();
    pressOffset = offset;
    setCursor(Qt::ClosedHandCursor);
}

void ZoomPanView::mouseMoveEvent(QMouseEvent* event)
{
    if (!dragging)
        return;
    offset = pressOffset - QPointF(event->position().toPoint() - pressPos) / scale;
    fitted = false;
    keepInView();
    viewMoved();
}

void ZoomPanView::mouseReleaseEvent(QMouseEvent*)
{
    dragging = false;
    setCursor(Qt::OpenHandCursor);
}

void ZoomPanView::mouseDoubleClickEvent(QMouseEvent* event)
{
    const QPointF p = imagePoint(event->position());
    const QSize size = pictureSize();
    if (p.x() >= 0 && p.y() >= 0 && p.x() < size.width() && p.y() < size.height())
        pictureDoubleClicked(p);
}
