#include "views/MosaicView.h"

#include "views/ScaleBar.h"

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
    ScaleBar::choose(umPerPxX / zoom(), width()).draw(painter, rect());
}

void MosaicView::pictureDoubleClicked(const QPointF& p)
{
    emit pointDoubleClicked(originUm + QPointF(p.x() * umPerPxX, p.y() * umPerPxY));
}
