#include "views/MarksOverlay.h"

#include "views/marks/AnnotationStore.h"

#include <QEvent>
#include <QPainter>
#include <QPolygonF>

MarksOverlay::MarksOverlay(QWidget* picture, const AnnotationStore* marks, Mapping mapping)
    : QWidget(picture)
    , store(marks)
    , toWidget(std::move(mapping))
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setGeometry(picture->rect());
    picture->installEventFilter(this);
    // Made after the picture was shown, a child stays hidden unless told.
    show();
    connect(marks, &AnnotationStore::changed, this, qOverload<>(&QWidget::update));
}

bool MarksOverlay::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parent() && event->type() == QEvent::Resize)
        setGeometry(parentWidget()->rect());
    return false;
}

void MarksOverlay::paintEvent(QPaintEvent*)
{
    if (!store)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QFont font = painter.font();
    font.setPixelSize(9);
    font.setBold(true);
    painter.setFont(font);
    for (const Annotation& mark : store->all()) {
        QPolygonF shape;
        for (const QPointF& p : mark.pointsMm)
            shape.append(toWidget(p));
        if (shape.isEmpty() || !QRectF(rect()).intersects(shape.boundingRect().adjusted(-10, -10, 10, 10)))
            continue;
        const bool selected = mark.id == store->selectedId();
        const QColor colour = selected                                  ? QColor(255, 80, 200)
                              : mark.kind == Annotation::Kind::Bookmark ? QColor(0, 160, 60)
                              : mark.kind == Annotation::Kind::Note     ? QColor(30, 110, 230)
                                                                        : QColor(230, 160, 0);
        painter.setPen(QPen(colour, selected ? 2 : 1.5));
        if (mark.kind == Annotation::Kind::Bookmark) {
            painter.setBrush(QColor(255, 255, 255, 150));
            painter.drawEllipse(shape[0], 7, 7);
            painter.drawText(QRectF(shape[0] - QPointF(7, 7), QSizeF(14, 14)), Qt::AlignCenter,
                             QString::number(store->bookmarkNumber(mark.id)));
        } else if (mark.shape == Annotation::Shape::Point) {
            painter.setBrush(colour);
            painter.drawEllipse(shape[0], 3, 3);
        } else if (shape.boundingRect().width() < 3 && shape.boundingRect().height() < 3) {
            // Too small to see at this scale: a dot where it lies.
            painter.setBrush(colour);
            painter.drawEllipse(shape.boundingRect().center(), 2, 2);
        } else {
            painter.setBrush(Qt::NoBrush);
            if (mark.shape == Annotation::Shape::Line)
                painter.drawPolyline(shape);
            else
                painter.drawPolygon(shape);
        }
    }
}
