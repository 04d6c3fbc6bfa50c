#include "views/ViewerMarks.h"

#include "imaging/TileReader.h"
#include "views/MeasureTool.h"
#include "views/OverlayPainter.h"
#include "views/PictureMap.h"
#include "views/TiledView.h"
#include "views/marks/AnnotationStore.h"
#include "views/marks/MarksGeoJson.h"

#include <QKeyEvent>
#include <QLineF>
#include <QMouseEvent>
#include <QPainter>
#include <QTime>

ViewerMarks::ViewerMarks(TiledView* tiledView, QPointF origin, double xScale, double yScale, QSize size)
    : QObject(tiledView)
    , store(new AnnotationStore(this))
    , view(tiledView)
    , originUm(origin)
    , umPerPxX(xScale)
    , umPerPxY(yScale)
    , pixels(size)
{
    view->installEventFilter(this);
    connect(store, &AnnotationStore::changed, view, qOverload<>(&QWidget::update));
}

QPointF ViewerMarks::toMm(const QPointF& p) const
{
    return QPointF(originUm.x() + p.x() * umPerPxX, originUm.y() + p.y() * umPerPxY) / 1000.0;
}

QPointF ViewerMarks::toPixel(const QPointF& mm) const
{
    return QPointF((mm.x() * 1000.0 - originUm.x()) / umPerPxX, (mm.y() * 1000.0 - originUm.y()) / umPerPxY);
}

void ViewerMarks::setMode(Mode mode)
{
    current = mode;
    measuring = false;
    draft = Annotation();
    view->setCursor(mode == Mode::Off ? Qt::OpenHandCursor : Qt::CrossCursor);
    // Delete and Esc reach the view only while it has the keyboard.
    if (mode != Mode::Off)
        view->setFocus(Qt::OtherFocusReason);
    view->update();
}

int ViewerMarks::addMeasurement(const QVector<QPointF>& points, bool rectangle)
{
    keep(rectangle ? Annotation::Shape::Rectangle : Annotation::Shape::Line,
         rectangle ? Annotation::rectangleCorners(toMm(points.value(0)), toMm(points.value(1)))
                   : QVector<QPointF>{toMm(points.value(0)), toMm(points.value(1))});
    return store->selectedId();
}

int ViewerMarks::addNote(const QPointF& pixel, const QString& label)
{
    Annotation mark;
    mark.kind = Annotation::Kind::Note;
    mark.name = label;
    mark.pointsMm = {toMm(pixel)};
    return store->add(mark);
}

int ViewerMarks::addBookmark()
{
    Annotation mark;
    mark.kind = Annotation::Kind::Bookmark;
    mark.pointsMm = {toMm(view->imagePoint(QPointF(view->width() / 2, view->height() / 2)))};
    int count = 1;
    for (const Annotation& a : store->all())
        count += a.kind == Annotation::Kind::Bookmark;
    mark.name = QStringLiteral("%1 %2").arg(count).arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")));
    return store->add(mark);
}

PictureMap ViewerMarks::map() const
{
    // The view as a picture of its own size whose middle shows the stage point under it.
    const QPointF middleMm = toMm(view->imagePoint(QPointF(view->width() / 2, view->height() / 2)));
    CoordinateTriple stage;
    stage.x = float(middleMm.x() * 10000.0);
    stage.y = float(middleMm.y() * 10000.0);
    return PictureMap(stage, float(umPerPxX / view->zoom()), float(umPerPxY / view->zoom()), view->size(),
                      view->size());
}

void ViewerMarks::paint(QPainter& painter) const
{
    if (umPerPxX <= 0 || umPerPxY <= 0)
        return;
    OverlayPainter::Layers layers;
    layers.marks = store;
    layers.draft = draft;
    layers.crosshair = crosshair;
    layers.gridMicrometres = gridMicrometres;
    OverlayPainter(map(), layers).paint(painter, ScaleBar());
}

QByteArray ViewerMarks::pixelGeoJson() const
{
    // Pixels of umPerPxX on both axes, as the mosaic's square pixels are.
    return MarksGeoJson::writeForMosaic(store->all(), originUm / 1000.0, umPerPxX, pixels);
}

bool ViewerMarks::readPixelGeoJson(const QByteArray& data, QString* error)
{
    QList<Annotation> marks;
    // Read as if millimetres: the numbers are pixels, as many as a file may have.
    if (!MarksGeoJson::read(data, &marks, error, double(TileReader::kMaxSide)))
        return false;
    for (Annotation& mark : marks)
        for (QPointF& p : mark.pointsMm)
            p = toMm(p);
    store->addAll(marks);
    return true;
}

bool ViewerMarks::eventFilter(QObject*, QEvent* event)
{
    if (current == Mode::Off || umPerPxX <= 0)
        return false;
    const auto type = event->type();
    if (type == QEvent::KeyPress)
        return key(static_cast<QKeyEvent*>(event)->key());
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove && type != QEvent::MouseButtonRelease &&
        type != QEvent::MouseButtonDblClick)
        return false;
    auto* mouse = static_cast<QMouseEvent*>(event);
    const QPointF pixel = view->imagePoint(mouse->position());
    const bool polygon = draft.shape == Annotation::Shape::Polygon && !draft.pointsMm.isEmpty();
    if (type == QEvent::MouseButtonDblClick) {
        // The double-click's first click placed the last corner.
        if (polygon && draft.pointsMm.size() >= 3)
            keep(draft.shape, draft.pointsMm);
        else
            draft = Annotation();
        afterDoubleClick = true;
        view->update();
        return true;
    }
    if (type == QEvent::MouseButtonPress && mouse->button() == Qt::LeftButton) {
        if (current == Mode::Note) {
            emit notePlaced(pixel);
            return true;
        }
        measuring = true;
        dragged = false;
        afterDoubleClick = false;
        pressPixel = pixel;
        pressAt = mouse->position();
        return true;
    }
    if (!measuring)
        return type != QEvent::MouseMove;
    // Shorter moves are clicks: a hand is never that still.
    dragged = dragged || QLineF(pressAt, mouse->position()).length() >= 3.0;
    const bool rectangle = mouse->modifiers() & Qt::ShiftModifier;
    if (dragged && !polygon) {
        draft.kind = Annotation::Kind::Measurement;
        draft.shape = rectangle ? Annotation::Shape::Rectangle : Annotation::Shape::Line;
        draft.pointsMm = rectangle ? Annotation::rectangleCorners(toMm(pressPixel), toMm(pixel))
                                   : QVector<QPointF>{toMm(pressPixel), toMm(pixel)};
    }
    if (type == QEvent::MouseButtonRelease) {
        measuring = false;
        if (afterDoubleClick)
            afterDoubleClick = false;
        else if (dragged && !polygon)
            keep(draft.shape, draft.pointsMm);
        else
            click(mouse->position(), pixel);
    }
    view->update();
    return true;
}

void ViewerMarks::click(const QPointF& at, const QPointF& pixel)
{
    // A click on a mark selects it; elsewhere it starts a polygon or adds its next corner.
    if (draft.shape != Annotation::Shape::Polygon || draft.pointsMm.isEmpty()) {
        const int hit = MeasureTool::markAt(store->all(), map(), at, 5.0);
        store->select(hit);
        if (hit)
            return;
        draft = Annotation();
        draft.kind = Annotation::Kind::Measurement;
        draft.shape = Annotation::Shape::Polygon;
    }
    if (draft.pointsMm.isEmpty() || draft.pointsMm.constLast() != toMm(pixel))
        draft.pointsMm.append(toMm(pixel));
}

bool ViewerMarks::key(int key)
{
    if (key == Qt::Key_Escape && !draft.pointsMm.isEmpty()) {
        draft = Annotation();
        view->update();
        return true;
    }
    if (current == Mode::Measure && (key == Qt::Key_Delete || key == Qt::Key_Backspace) && store->selectedId()) {
        store->remove(store->selectedId());
        return true;
    }
    return false;
}

void ViewerMarks::keep(Annotation::Shape shape, const QVector<QPointF>& pointsMm)
{
    Annotation mark;
    mark.kind = Annotation::Kind::Measurement;
    mark.shape = shape;
    mark.pointsMm = pointsMm;
    int count = 1;
    for (const Annotation& a : store->all())
        count += a.kind == Annotation::Kind::Measurement;
    mark.name = QStringLiteral("Measurement %1").arg(count);
    draft = Annotation();
    store->select(store->add(mark));
}
