#include "views/MeasureTool.h"

#include "views/VideoView.h"
#include "views/marks/AnnotationStore.h"

#include <QKeyEvent>
#include <QLineF>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPolygonF>

namespace {

// Shorter drags are clicks: a hand is never that still.
constexpr double kMinDragPixels = 3.0;
constexpr double kPickTolerance = 5.0;

double distanceToSegment(const QPointF& p, const QPointF& a, const QPointF& b)
{
    const QPointF ab = b - a;
    const double lengthSquared = QPointF::dotProduct(ab, ab);
    const double t = lengthSquared > 0.0 ? std::clamp(QPointF::dotProduct(p - a, ab) / lengthSquared, 0.0, 1.0) : 0.0;
    return QLineF(p, a + t * ab).length();
}

// A cross with "µm" beside it: the picture now measures instead of steering.
QCursor rulerCursor()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    for (const auto& [colour, width] : {std::pair(QColor(Qt::black), 3), std::pair(QColor(Qt::white), 1)}) {
        painter.setPen(QPen(colour, width));
        painter.drawLine(8, 1, 8, 15);
        painter.drawLine(1, 8, 15, 8);
    }
    QFont font = painter.font();
    font.setPixelSize(10);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(QRect(13, 15, 19, 14), Qt::AlignCenter, QStringLiteral("µm"));
    return QCursor(pixmap, 8, 8);
}

} // namespace

MeasureTool::MeasureTool(VideoView* videoView, AnnotationStore* marks)
    : QObject(videoView)
    , view(videoView)
    , store(marks)
{
    view->installEventFilter(this);
}

void MeasureTool::setMode(Mode mode)
{
    if (mode == current)
        return;
    current = mode;
    draft = Annotation();
    dragging = false;
    showDraft();
    view->setCursor(mode == Mode::Measure    ? rulerCursor()
                    : mode == Mode::Annotate ? QCursor(Qt::PointingHandCursor)
                                             : QCursor(Qt::ArrowCursor));
    // Delete and Esc reach the view only while it has the keyboard.
    if (mode != Mode::Off)
        view->setFocus(Qt::OtherFocusReason);
    emit modeChanged(mode);
}

int MeasureTool::markAt(const QList<Annotation>& marks, const PictureMap& map, const QPointF& point, double tolerance)
{
    for (int i = marks.size() - 1; i >= 0; --i) {
        const Annotation& mark = marks[i];
        QPolygonF shape;
        for (const QPointF& p : mark.pointsMm)
            shape.append(map.toDrawn(p));
        if (shape.isEmpty())
            continue;
        const bool closed = mark.shape == Annotation::Shape::Rectangle || mark.shape == Annotation::Shape::Polygon;
        if (mark.shape == Annotation::Shape::Point && QLineF(point, shape[0]).length() <= tolerance + 4.0)
            return mark.id;
        if (closed && shape.containsPoint(point, Qt::OddEvenFill))
            return mark.id;
        for (int j = 1; j < shape.size() + (closed ? 1 : 0); ++j)
            if (distanceToSegment(point, shape[j - 1], shape[j % shape.size()]) <= tolerance)
                return mark.id;
    }
    return 0;
}

bool MeasureTool::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != view || current == Mode::Off)
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        press(static_cast<QMouseEvent*>(event));
        return true;
    case QEvent::MouseMove:
        drag(static_cast<QMouseEvent*>(event));
        return true;
    case QEvent::MouseButtonRelease:
        release(static_cast<QMouseEvent*>(event));
        return true;
    case QEvent::MouseButtonDblClick:
        if (current == Mode::Measure)
            closePolygon();
        afterDoubleClick = true;
        return true;
    case QEvent::KeyPress: {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Escape) {
            setMode(Mode::Off);
            return true;
        }
        if (current == Mode::Measure && (key == Qt::Key_Delete || key == Qt::Key_Backspace)) {
            store->remove(store->selectedId());
            return true;
        }
        return false;
    }
    default:
        return false;
    }
}

void MeasureTool::press(QMouseEvent* event)
{
    pressPoint = event->position();
    dragging = false;
    afterDoubleClick = false;
    rectangle = event->modifiers().testFlag(Qt::ShiftModifier);
}

void MeasureTool::drag(QMouseEvent* event)
{
    const PictureMap map = view->pictureMap();
    const bool polygonUnderWay = draft.shape == Annotation::Shape::Polygon && !draft.pointsMm.isEmpty();
    if (current != Mode::Measure || polygonUnderWay || !map.isValid() || !(event->buttons() & Qt::LeftButton))
        return;
    if (!dragging && QLineF(pressPoint, event->position()).length() < kMinDragPixels)
        return;
    dragging = true;
    const QPointF a = map.toStageMm(pressPoint);
    const QPointF b = map.toStageMm(event->position());
    draft = Annotation();
    draft.kind = Annotation::Kind::Measurement;
    draft.shape = rectangle ? Annotation::Shape::Rectangle : Annotation::Shape::Line;
    draft.pointsMm = rectangle ? Annotation::rectangleCorners(a, b) : QVector<QPointF>{a, b};
    showDraft();
}

void MeasureTool::release(QMouseEvent* event)
{
    const PictureMap map = view->pictureMap();
    if (afterDoubleClick || !map.isValid() || event->button() != Qt::LeftButton) {
        afterDoubleClick = false;
        return;
    }
    const QPointF here = map.toStageMm(event->position());
    if (current == Mode::Annotate) {
        setMode(Mode::Off);
        emit notePlaced(here, map.zMicrometres());
        return;
    }
    if (dragging) {
        dragging = false;
        keep(draft.shape);
        return;
    }
    if (draft.pointsMm.isEmpty()) {
        // A click on a mark selects it; elsewhere it starts a polygon.
        const int hit = markAt(store->all(), map, event->position(), kPickTolerance);
        store->select(hit);
        if (hit)
            return;
        draft.kind = Annotation::Kind::Measurement;
        draft.shape = Annotation::Shape::Polygon;
    }
    if (draft.pointsMm.isEmpty() || draft.pointsMm.constLast() != here)
        draft.pointsMm.append(here);
    showDraft();
}

void MeasureTool::closePolygon()
{
    if (draft.shape == Annotation::Shape::Polygon && draft.pointsMm.size() >= 3) {
        keep(Annotation::Shape::Polygon);
        return;
    }
    draft = Annotation();
    showDraft();
}

void MeasureTool::keep(Annotation::Shape shape)
{
    Annotation mark = draft;
    mark.shape = shape;
    mark.kind = Annotation::Kind::Measurement;
    mark.zMicrometres = view->pictureMap().zMicrometres();
    int count = 1;
    for (const Annotation& other : store->all())
        count += other.kind == Annotation::Kind::Measurement ? 1 : 0;
    mark.name = tr("Measurement %1").arg(count);
    draft = Annotation();
    showDraft();
    store->select(store->add(mark));
}

void MeasureTool::showDraft()
{
    OverlayPainter::Layers layers = view->overlays();
    layers.draft = draft;
    view->setOverlays(layers);
}
