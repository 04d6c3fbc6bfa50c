#include "views/HighResPreview.h"

#include "net/OrvexUrl.h"
#include "views/SelectionGrid.h"
#include "views/SlideMarks.h"

#include <QFont>
#include <QMouseEvent>
#include <QPainter>

HighResPreview::HighResPreview(QWidget* parent, const char* name)
    : QWidget(parent)
{
    if (name)
        setObjectName(QString::fromLatin1(name));
    imageFetcher.setMode(0);
    connect(&imageFetcher, &MyWebJPEG::newPixmapAvailable, this, &HighResPreview::loadPixmap);
    connect(&fiducialFetcher, qOverload<>(&MyHTTP::done), this, &HighResPreview::loadFiducials);
    connect(&markFetcher, qOverload<>(&MyHTTP::done), this, &HighResPreview::markUpPixmap);
    connect(&imageFetcher, &MyWebJPEG::fetchFailed, this, [this] {
        status.finished(!viewPixmap.isNull());
        update();
    });
    connect(&imageFetcher.http(), &MyHTTP::progress, this, [this](int bytesDone, int bytesTotal) {
        status.progress(bytesDone, bytesTotal);
        update();
    });
    CoordinateTriple centre = pixelToStage(QPoint(Calibration::pictureWidth / 2, Calibration::pictureHeight / 2));
    setLocation(centre);
    corner1Set = false;
    corner2Set = false;
    linearDensity = 1;
}

void HighResPreview::setHost(QString serverHost)
{
    host = serverHost;
}

void HighResPreview::abandonRequests()
{
    imageFetcher.setUrl(QString());
    fiducialFetcher.setUrl(QString());
    markFetcher.setUrl(QString());
}

QPoint HighResPreview::stageToPixel(const CoordinateTriple& position) const
{
    return calib.stageToPixel(position, width(), height());
}

CoordinateTriple HighResPreview::pixelToStage(const QPoint& pixel) const
{
    return calib.pixelToStage(pixel);
}

QPoint HighResPreview::viewOrigin() const
{
    const QPoint centre = stageToPixel(location);
    return QPoint(centre.x() - width() / 2, centre.y() - height() / 2);
}

void HighResPreview::slideChange(QString& name)
{
    imageFetcher.setUrl(OrvexUrl::wholeSlide(host, name).toLatin1().constData());
    status.started();
    imageFetcher.get();
    fiducialFetcher.setUrl(OrvexUrl::fiducials(host, name));
    fiducialFetcher.start();
    slideName = name;
    update();
}

void HighResPreview::setLocation(CoordinateTriple& position)
{
    location = position;
    update();
}

void HighResPreview::loadFiducials()
{
    if (!fiducialFetcher.succeeded())
        calib.setFailed();
    else
        calib.load(fiducialFetcher.data(), fiducialFetcher.length());
    calibrationLost = calib.fallback;
    update();
}

void HighResPreview::loadPixmap(QPixmap& picture)
{
    // Kept apart, so corners set before the marks arrive are drawn over this picture.
    plainPixmap = picture;
    basePixmap = QPixmap();
    viewPixmap = picture;
    status.finished(!viewPixmap.isNull());
    markFetcher.setUrl(OrvexUrl::slideMarks(host, slideName));
    markFetcher.start();
    update();
}

void HighResPreview::markUpPixmap()
{
    marksLost = !markFetcher.succeeded();
    basePixmap = plainPixmap;
    if (!marksLost) {
        // The marks belong to the picture just arrived, not to earlier ones.
        marks.clear();
        const QVector<CoordinateTriple> positions = SlideMarks::read(markFetcher.data(), markFetcher.length());
        for (const CoordinateTriple& position : positions)
            marks.append(stageToPixel(position));
        if (!basePixmap.isNull()) {
            QPainter painter(&basePixmap);
            painter.setPen(Qt::red);
            for (const QPoint& mark : std::as_const(marks))
                painter.drawEllipse(mark.x(), mark.y(), 2, 2);
        }
    }
    // The selection goes back over the marked picture, and both show at once.
    viewPixmap = basePixmap;
    updateSelection();
    update();
}

void HighResPreview::setCorner1(CoordinateTriple corner)
{
    corner1.x = corner.x * 10000.0f;
    corner1.y = corner.y * 10000.0f;
    corner1.z = corner.z;
    corner1Set = true;
    updateSelection();
}

void HighResPreview::setCorner2(CoordinateTriple corner)
{
    corner2.x = corner.x * 10000.0f;
    corner2.y = corner.y * 10000.0f;
    corner2.z = corner.z;
    corner2Set = true;
    updateSelection();
}

void HighResPreview::setLinearDensity(int density)
{
    linearDensity = density;
}

void HighResPreview::drawLabel(const char* text, const CoordinateTriple& corner)
{
    if (viewPixmap.isNull())
        return;
    QPainter painter(&viewPixmap);
    painter.setPen(Qt::blue);
    painter.drawText(stageToPixel(corner), QString::fromLatin1(text));
}

void HighResPreview::updateSelection()
{
    if (!(corner1Set && corner2Set)) {
        if (corner1Set)
            drawLabel("TL", corner1);
        if (corner2Set)
            drawLabel("BR", corner2);
        update();
        return;
    }
    viewPixmap = basePixmap.isNull() ? plainPixmap : basePixmap;
    const QPoint a = stageToPixel(corner1);
    const QPoint b = stageToPixel(corner2);
    if (a == b)
        return;
    if (!viewPixmap.isNull()) {
        QPainter painter(&viewPixmap);
        painter.setPen(Qt::blue);
        painter.drawText(a, QStringLiteral("TL"));
        painter.drawText(b, QStringLiteral("BR"));
        painter.setPen(Qt::black);
        painter.drawRect(a.x(), a.y(), b.x() - a.x(), b.y() - a.y());
        painter.setPen(Qt::blue);
        const QVector<QPoint> grid = SelectionGrid::points(a, b, corner1, corner2, linearDensity);
        for (const QPoint& point : grid)
            painter.drawEllipse(point.x(), point.y(), 3, 3);
    }
    update();
}

void HighResPreview::mousePressEvent(QMouseEvent* event)
{
    pressPos = event->position().toPoint();
    pressPixel = stageToPixel(location);
}

void HighResPreview::mouseReleaseEvent(QMouseEvent*) {}

void HighResPreview::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint moved = event->position().toPoint() - pressPos;
    location = pixelToStage(pressPixel + 2 * moved);
    emit locationChanged(location);
    update();
}

void HighResPreview::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const int w = width();
    const int h = height();
    if (!viewPixmap.isNull())
        painter.drawPixmap(QPoint(0, 0), viewPixmap, QRect(viewOrigin(), QSize(w, h)));
    status.paint(painter, rect());
    if (calibrationLost || marksLost)
        paintNotice(painter);
    painter.setPen(Qt::green);
    painter.drawEllipse(w / 2 - 5, h / 2 - 5, 10, 10);
}

void HighResPreview::paintNotice(QPainter& painter) const
{
    QStringList lines;
    if (calibrationLost)
        lines << QStringLiteral("Calibration unavailable: positions are approximate");
    if (marksLost)
        lines << QStringLiteral("Slide marks unavailable");
    QFont font = painter.font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    painter.setFont(font);
    const QString text = lines.join(QLatin1Char('\n'));
    QRect box =
        painter.fontMetrics().boundingRect(rect().adjusted(4, 4, -4, -4), Qt::AlignLeft | Qt::AlignBottom, text);
    box.adjust(-3, -2, 3, 2);
    painter.fillRect(box, QColor(255, 255, 255, 200));
    painter.setPen(Qt::darkRed);
    painter.drawText(box, Qt::AlignCenter, text);
}
