#include "views/MosaicView.h"

#include "views/ScaleBar.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {
constexpr double maxZoom = 8.0;
} // namespace

MosaicView::MosaicView(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("mosaicView"));
    setMinimumSize(200, 150);
    setCursor(Qt::OpenHandCursor);
    setFocusPolicy(Qt::WheelFocus);
}

void MosaicView::setMosaic(const QSize& mosaicPixels, double xScale, double yScale, const QPointF& origin,
                           Renderer renderer)
{
    pixels = mosaicPixels;
    umPerPxX = xScale;
    umPerPxY = yScale;
    originUm = origin;
    render = std::move(renderer);
    fitToWindow();
}

void MosaicView::setMosaicGeometry(const QSize& mosaicPixels, const QPointF& origin)
{
    // The view keeps showing the same stage area when the origin moves.
    if (umPerPxX > 0.0 && umPerPxY > 0.0)
        offset += QPointF((originUm.x() - origin.x()) / umPerPxX, (originUm.y() - origin.y()) / umPerPxY);
    originUm = origin;
    pixels = mosaicPixels;
    if (fitted)
        fitToWindow();
    else
        refresh();
}

void MosaicView::refresh()
{
    stale = true;
    update();
}

double MosaicView::fitScale() const
{
    if (pixels.isEmpty())
        return 1.0;
    return std::min(double(width()) / pixels.width(), double(height()) / pixels.height());
}

void MosaicView::fitToWindow()
{
    fitted = true;
    scale = fitScale();
    offset = QPointF((pixels.width() - width() / scale) / 2.0, (pixels.height() - height() / scale) / 2.0);
    refresh();
}

void MosaicView::keepInView()
{
    // At least a quarter of the view keeps showing the mosaic.
    const double w = width() / scale, h = height() / scale;
    offset.setX(std::clamp(offset.x(), -0.75 * w, pixels.width() - 0.25 * w));
    offset.setY(std::clamp(offset.y(), -0.75 * h, pixels.height() - 0.25 * h));
}

QPointF MosaicView::mosaicPoint(const QPointF& viewPoint) const
{
    return offset + viewPoint / scale;
}

QPointF MosaicView::stagePoint(const QPointF& viewPoint) const
{
    const QPointF p = mosaicPoint(viewPoint);
    return originUm + QPointF(p.x() * umPerPxX, p.y() * umPerPxY);
}

void MosaicView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(48, 48, 48));
    if (pixels.isEmpty() || !render) {
        painter.setPen(Qt::lightGray);
        painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("No mosaic yet."));
        return;
    }
    if (stale) {
        const QRectF visible = QRectF(offset, QSizeF(width() / scale, height() / scale))
                                   .intersected(QRectF(QPointF(0, 0), QSizeF(pixels)));
        drawn = QImage();
        if (!visible.isEmpty()) {
            const QPointF topLeft = (visible.topLeft() - offset) * scale;
            const QPointF bottomRight = (visible.bottomRight() - offset) * scale;
            drawnAt = QRect(QPoint(int(std::floor(topLeft.x())), int(std::floor(topLeft.y()))),
                            QPoint(int(std::ceil(bottomRight.x())) - 1, int(std::ceil(bottomRight.y())) - 1));
            if (!drawnAt.isEmpty())
                drawn = render(visible, drawnAt.size());
        }
        stale = false;
    }
    if (!drawn.isNull())
        painter.drawImage(drawnAt, drawn);
    drawFocusPoints(painter);
    ScaleBar::choose(umPerPxX / scale, width()).draw(painter, rect());
}

void MosaicView::setFocusPoints(const QVector<QVector3D>& pointsUm, const QString& surface)
{
    focusPoints = pointsUm;
    focusSurface = surface;
    update();
}

void MosaicView::drawFocusPoints(QPainter& painter) const
{
    if (focusPoints.isEmpty() || umPerPxX <= 0.0 || umPerPxY <= 0.0)
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QFontMetrics metrics(painter.font());
    for (const QVector3D& p : focusPoints) {
        const QPointF pixel((p.x() - originUm.x()) / umPerPxX, (p.y() - originUm.y()) / umPerPxY);
        const QPointF at = (pixel - offset) * scale;
        painter.setPen(QPen(Qt::black, 1.5));
        painter.setBrush(QColor(255, 200, 0));
        painter.drawEllipse(at, 5.0, 5.0);
        const QString label = QStringLiteral("%1 µm").arg(double(p.z()), 0, 'f', 1);
        QRectF box(at + QPointF(8, -metrics.height() / 2.0),
                   QSizeF(metrics.horizontalAdvance(label) + 6, metrics.height()));
        // near the right edge the label goes to the left of its dot
        if (box.right() > width())
            box.moveRight(at.x() - 8);
        painter.fillRect(box, QColor(0, 0, 0, 150));
        painter.setPen(Qt::white);
        painter.drawText(box, Qt::AlignCenter, label);
    }
    if (!focusSurface.isEmpty()) {
        const QRectF line(6, 6, metrics.horizontalAdvance(focusSurface) + 10, metrics.height() + 4);
        painter.fillRect(line, QColor(0, 0, 0, 150));
        painter.setPen(Qt::white);
        painter.drawText(line, Qt::AlignCenter, focusSurface);
    }
    painter.restore();
}

void MosaicView::resizeEvent(QResizeEvent*)
{
    if (fitted)
        fitToWindow();
    else
        refresh();
}

void MosaicView::wheelEvent(QWheelEvent* event)
{
    if (pixels.isEmpty())
        return;
    const QPointF at = event->position();
    const QPointF anchor = mosaicPoint(at);
    const double factor = std::pow(1.25, event->angleDelta().y() / 120.0);
    const double lowest = std::min(fitScale() / 2.0, 1.0);
    scale = std::clamp(scale * factor, lowest, maxZoom);
    // The mosaic point under the pointer stays under it.
    offset = anchor - at / scale;
    fitted = false;
    keepInView();
    refresh();
    event->accept();
}

void MosaicView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    dragging = true;
    pressPos = event->position().toPoint();
    pressOffset = offset;
    setCursor(Qt::ClosedHandCursor);
}

void MosaicView::mouseMoveEvent(QMouseEvent* event)
{
    if (!dragging)
        return;
    offset = pressOffset - QPointF(event->position().toPoint() - pressPos) / scale;
    fitted = false;
    keepInView();
    refresh();
}

void MosaicView::mouseReleaseEvent(QMouseEvent*)
{
    dragging = false;
    setCursor(Qt::OpenHandCursor);
}

void MosaicView::mouseDoubleClickEvent(QMouseEvent* event)
{
    const QPointF p = mosaicPoint(event->position());
    if (pixels.isEmpty() || p.x() < 0 || p.y() < 0 || p.x() >= pixels.width() || p.y() >= pixels.height())
        return;
    emit pointDoubleClicked(stagePoint(event->position()));
}
