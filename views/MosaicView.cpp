#include "views/MosaicView.h"

#include "views/ScaleBar.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>

MosaicView::MosaicView(QWidget* parent)
    : ZoomPanView(parent, 8.0)
{
    setObjectName(QStringLiteral("mosaicView"));
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
    const QPointF shift = umPerPxX > 0.0 && umPerPxY > 0.0
                              ? QPointF((originUm.x() - origin.x()) / umPerPxX, (originUm.y() - origin.y()) / umPerPxY)
                              : QPointF();
    originUm = origin;
    pixels = mosaicPixels;
    pictureShifted(shift);
}

void MosaicView::refresh()
{
    stale = true;
    update();
}

QPointF MosaicView::stagePoint(const QPointF& viewPoint) const
{
    const QPointF p = imagePoint(viewPoint);
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
        const QRectF visible = QRectF(imagePoint(QPointF(0, 0)), QSizeF(width() / zoom(), height() / zoom()))
                                   .intersected(QRectF(QPointF(0, 0), QSizeF(pixels)));
        drawn = QImage();
        if (!visible.isEmpty()) {
            const QPointF topLeft = viewPoint(visible.topLeft());
            const QPointF bottomRight = viewPoint(visible.bottomRight());
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
    ScaleBar::choose(umPerPxX / zoom(), width()).draw(painter, rect());
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
        const QPointF at = viewPoint(QPointF((p.x() - originUm.x()) / umPerPxX, (p.y() - originUm.y()) / umPerPxY));
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

void MosaicView::pictureDoubleClicked(const QPointF& p)
{
    emit pointDoubleClicked(originUm + QPointF(p.x() * umPerPxX, p.y() * umPerPxY));
}
