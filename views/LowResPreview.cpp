#include "views/LowResPreview.h"

#include "net/OrvexUrl.h"
#include "views/OverviewMap.h"

#include <QMouseEvent>
#include <QPainter>

LowResPreview::LowResPreview(QWidget* parent, const char* name)
    : QWidget(parent)
{
    if (name)
        setObjectName(QString::fromLatin1(name));
    connect(&imageFetcher, &MyWebJPEG::newImageAvailable, this, &LowResPreview::loadImage);
    connect(&imageFetcher, &MyWebJPEG::fetchFailed, this, [this] {
        status.finished(!overviewImage.isNull());
        update();
    });
    connect(&imageFetcher.http(), &MyHTTP::progress, this, [this](int bytesDone, int bytesTotal) {
        status.progress(bytesDone, bytesTotal);
        update();
    });
    physical = pixelToStage(QPoint(width() / 2, height() / 2));
    destination = physical;
}

void LowResPreview::setHost(QString serverHost)
{
    host = serverHost;
}

void LowResPreview::abandonRequests()
{
    imageFetcher.setUrl(QString());
}

CoordinateTriple LowResPreview::pixelToStage(const QPoint& pixel) const
{
    return OverviewMap::pixelToStage(pixel, width(), height());
}

QPoint LowResPreview::stageToPixel(const CoordinateTriple& position) const
{
    return OverviewMap::stageToPixel(position, width(), height());
}

void LowResPreview::slideChange(QString& name)
{
    imageFetcher.setUrl(OrvexUrl::smallSlide(host, name).toLatin1().constData());
    status.started();
    imageFetcher.get();
    update();
}

void LowResPreview::setPhysical(CoordinateTriple& position)
{
    physical = position;
    update();
}

void LowResPreview::setDestination(CoordinateTriple& position)
{
    destination = position;
    update();
}

void LowResPreview::loadImage(QImage& picture)
{
    overviewImage = picture.copy();
    scaledPicture = QPixmap();
    status.finished(!overviewImage.isNull());
    update();
}

void LowResPreview::chooseDestination(const QPoint& pixel)
{
    destination = pixelToStage(pixel);
    update();
    emit destinationChanged(destination);
}

void LowResPreview::mousePressEvent(QMouseEvent* event)
{
    chooseDestination(event->position().toPoint());
}

void LowResPreview::mouseMoveEvent(QMouseEvent* event)
{
    chooseDestination(event->position().toPoint());
}

void LowResPreview::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (!overviewImage.isNull()) {
        if (scaledPicture.size() != size())
            scaledPicture =
                QPixmap::fromImage(overviewImage.scaled(size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        painter.drawPixmap(0, 0, scaledPicture);
    }
    status.paint(painter, rect());

    painter.setPen(Qt::red);
    const QPoint p = stageToPixel(physical);
    painter.drawRect(p.x() - 7, p.y() - 5, 15, 10);
    painter.setPen(Qt::green);
    const QPoint q = stageToPixel(destination);
    painter.drawEllipse(q.x() - 16, q.y() - 16, 32, 32);
}
