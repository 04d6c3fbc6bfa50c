#include "views/ViewerMarks.h"

#include "views/OverlayPainter.h"
#include "views/TiledView.h"
#include "views/marks/AnnotationStore.h"
#include "views/marks/MarksGeoJson.h"

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
    view->update();
}

int ViewerMarks::addMeasurement(const QVector<QPointF>& points, bool rectangle)
{
    Annotation mark;
    mark.kind = Annotation::Kind::Measurement;
    mark.shape = rectangle ? Annotation::Shape::Rectangle : Annotation::Shape::Line;
    mark.pointsMm = rectangle ? Annotation::rectangleCorners(toMm(points.value(0)), toMm(points.value(1)))
                              : QVector<QPointF>{toMm(points.value(0)), toMm(points.value(1))};
    int count = 1;
    for (const Annotation& a : store->all())
        count += a.kind == Annotation::Kind::Measurement;
    mark.name = QStringLiteral("Measurement %1").arg(count);
    return store->add(mark);
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

void ViewerMarks::paint(QPainter& painter) const
{
    if (umPerPxX <= 0 || umPerPxY <= 0)
        return;
    // The view as a picture of its own size whose middle shows the stage point under it.
    const QPointF middleMm = toMm(view->imagePoint(QPointF(view->width() / 2, view->height() / 2)));
    CoordinateTriple stage;
    stage.x = float(middleMm.x() * 10000.0);
    stage.y = float(middleMm.y() * 10000.0);
    const PictureMap map(stage, float(umPerPxX / view->zoom()), float(umPerPxY / view->zoom()), view->size(),
                         view->size());
    OverlayPainter::Layers layers;
    layers.marks = store;
    layers.draft = draft;
    layers.crosshair = crosshair;
    layers.gridMicrometres = gridMicrometres;
    OverlayPainter(map, layers).paint(painter, ScaleBar());
}

QByteArray ViewerMarks::pixelGeoJson() const
{
    // Pixels of umPerPxX on both axes, as the mosaic's square pixels are.
    return MarksGeoJson::writeForMosaic(store->all(), originUm / 1000.0, umPerPxX, pixels);
}

bool ViewerMarks::readPixelGeoJson(const QByteArray& data, QString* error)
{
    QList<Annotation> marks;
    if (!MarksGeoJson::read(data, &marks, error))
        return false;
    // Read as if millimetres: the numbers are pixels.
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
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove && type != QEvent::MouseButtonRelease)
        return false;
    auto* mouse = static_cast<QMouseEvent*>(event);
    const QPointF pixel = view->imagePoint(mouse->position());
    if (type == QEvent::MouseButtonPress && mouse->button() == Qt::LeftButton) {
        if (current == Mode::Note) {
            emit notePlaced(pixel);
            return true;
        }
        measuring = true;
        pressPixel = pixel;
        draft = Annotation();
        return true;
    }
    if (!measuring)
        return type != QEvent::MouseMove;
    const bool rectangle = mouse->modifiers() & Qt::ShiftModifier;
    draft.kind = Annotation::Kind::Measurement;
    draft.shape = rectangle ? Annotation::Shape::Rectangle : Annotation::Shape::Line;
    draft.pointsMm = rectangle ? Annotation::rectangleCorners(toMm(pressPixel), toMm(pixel))
                               : QVector<QPointF>{toMm(pressPixel), toMm(pixel)};
    if (type == QEvent::MouseButtonRelease) {
        measuring = false;
        draft = Annotation();
        if (pixel != pressPixel)
            addMeasurement({pressPixel, pixel}, rectangle);
    }
    view->update();
    return true;
}
