#include "views/OverlayPainter.h"

#include "views/marks/AnnotationStore.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPolygonF>

#include <cmath>

namespace {

const QColor kMeasureColour(255, 214, 0);
const QColor kSelectedColour(255, 80, 200);
const QColor kBookmarkColour(60, 230, 90);
const QColor kNoteColour(90, 170, 255);
const QColor kGridColour(0, 200, 255, 110);
// Closer grid lines than this would only grey the picture.
constexpr double kMinGridPixels = 4.0;

} // namespace

const QColor OverlayPainter::crosshairColour(0, 255, 255);

OverlayPainter::OverlayPainter(const PictureMap& pictureMap, const Layers& overlayLayers)
    : map(pictureMap)
    , layers(overlayLayers)
{
}

void OverlayPainter::paint(QPainter& painter, const ScaleBar& bar) const
{
    painter.save();
    if (map.isValid()) {
        if (layers.gridMicrometres > 0)
            paintGrid(painter);
        // Under the marks, so their numbers and figures stay readable.
        if (layers.crosshair)
            paintCrosshair(painter);
        if (layers.marks) {
            for (const Annotation& mark : layers.marks->all())
                paintMark(painter, mark, mark.id == layers.marks->selectedId(), layers.marks->bookmarkNumber(mark.id));
        }
        if (!layers.draft.pointsMm.isEmpty())
            paintMark(painter, layers.draft, false, 0);
    } else if (layers.crosshair) {
        paintCrosshair(painter);
    }
    painter.restore();
    bar.draw(painter, QRect(QPoint(0, 0), map.drawnSize()));
}

void OverlayPainter::paintGrid(QPainter& painter) const
{
    const double stepX = layers.gridMicrometres / map.scaleX();
    const double stepY = layers.gridMicrometres / map.scaleY();
    if (stepX < kMinGridPixels || stepY < kMinGridPixels)
        return;
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(kGridColour, 1));
    const QPointF c = map.centre();
    const QSize size = map.drawnSize();
    // Lines through the centre and every step from it, so the grid sits on the crosshair.
    for (int i = -int(c.x() / stepX); c.x() + i * stepX < size.width(); ++i) {
        const int x = int(std::floor(c.x() + i * stepX));
        painter.drawLine(x, 0, x, size.height() - 1);
    }
    for (int i = -int(c.y() / stepY); c.y() + i * stepY < size.height(); ++i) {
        const int y = int(std::floor(c.y() + i * stepY));
        painter.drawLine(0, y, size.width() - 1, y);
    }
}

void OverlayPainter::paintMark(QPainter& painter, const Annotation& mark, bool selected, int number) const
{
    QPolygonF shape;
    for (const QPointF& p : mark.pointsMm)
        shape.append(map.toDrawn(p));
    const QRectF picture(QPointF(0, 0), QSizeF(map.drawnSize()));
    if (!picture.intersects(shape.boundingRect().adjusted(-12, -12, 12, 12)))
        return;
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QColor colour = selected                                  ? kSelectedColour
                          : mark.kind == Annotation::Kind::Bookmark ? kBookmarkColour
                          : mark.kind == Annotation::Kind::Note     ? kNoteColour
                                                                    : kMeasureColour;
    painter.setPen(QPen(colour, selected ? 3 : 2));
    painter.setBrush(Qt::NoBrush);
    const QPointF first = shape.value(0);
    switch (mark.shape) {
    case Annotation::Shape::Point:
        if (mark.kind == Annotation::Kind::Bookmark) {
            painter.setBrush(QColor(0, 0, 0, 150));
            painter.drawEllipse(first, 9, 9);
            painter.setPen(Qt::white);
            painter.drawText(QRectF(first - QPointF(9, 9), QSizeF(18, 18)), Qt::AlignCenter, QString::number(number));
            caption(painter, first + QPointF(12, -4), mark.name, QRectF(first - QPointF(9, 9), QSizeF(18, 18)));
        } else {
            painter.setBrush(colour);
            painter.drawEllipse(first, 4, 4);
            caption(painter, first + QPointF(8, -4), mark.name, QRectF(first - QPointF(4, 4), QSizeF(8, 8)));
        }
        return;
    case Annotation::Shape::Line:
        painter.drawPolyline(shape);
        break;
    case Annotation::Shape::Rectangle:
    case Annotation::Shape::Polygon:
        if (mark.id == 0 && mark.shape == Annotation::Shape::Polygon) {
            // A polygon still being clicked: open, its corners marked, figures from the third on.
            painter.drawPolyline(shape);
            for (const QPointF& corner : shape)
                painter.drawRect(QRectF(corner - QPointF(2, 2), QSizeF(4, 4)));
            if (shape.size() < 3)
                return;
        } else {
            painter.drawPolygon(shape);
        }
        break;
    }
    const QRectF box = shape.boundingRect();
    caption(painter, QPointF(box.right() + 6, box.center().y()), mark.figures(), box);
}

void OverlayPainter::paintCrosshair(QPainter& painter) const
{
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(crosshairColour, 1));
    const QPoint c = map.centre().toPoint();
    const QSize size = map.drawnSize();
    painter.drawLine(c.x(), 0, c.x(), size.height() - 1);
    painter.drawLine(0, c.y(), size.width() - 1, c.y());
}

void OverlayPainter::caption(QPainter& painter, const QPointF& anchor, const QString& text, const QRectF& shape) const
{
    if (text.isEmpty())
        return;
    const QFontMetrics metrics(painter.font());
    const QSizeF size(metrics.horizontalAdvance(text) + 8, metrics.height() + 2);
    QRectF box(anchor - QPointF(0, size.height() / 2.0), size);
    // Where the right side has no room the caption goes below the shape, or above it.
    const QRectF picture(QPointF(0, 0), QSizeF(map.drawnSize()));
    if (box.right() > picture.right()) {
        box.moveTopLeft(QPointF(std::min(shape.left(), picture.right() - size.width()), shape.bottom() + 4));
        if (box.bottom() > picture.bottom())
            box.moveBottom(shape.top() - 4);
    }
    box.moveLeft(std::max(0.0, box.left()));
    box.moveTop(std::clamp(box.top(), 0.0, std::max(0.0, picture.bottom() - size.height())));
    painter.fillRect(box, QColor(0, 0, 0, 150));
    painter.setPen(Qt::white);
    painter.drawText(box, Qt::AlignCenter, text);
}
