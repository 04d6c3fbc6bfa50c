#pragma once

#include "acquire/CoordinateTriple.h"
#include "net/MyWebJPEG.h"
#include "views/PictureStatus.h"

#include <QImage>
#include <QPixmap>
#include <QString>
#include <QWidget>

// The small picture of the whole slide: a red square where the stage is, a
// green circle where the user wants it to go. A press or drag chooses the
// destination and announces it.
class LowResPreview : public QWidget
{
    Q_OBJECT

public:
    explicit LowResPreview(QWidget* parent = nullptr, const char* name = nullptr);

    void setHost(QString serverHost);
    // Drops the picture request in flight; nothing more is sent until the next slide change.
    void abandonRequests();

    CoordinateTriple pixelToStage(const QPoint& pixel) const;
    QPoint stageToPixel(const CoordinateTriple& position) const;

    const CoordinateTriple& physicalPosition() const { return physical; }
    const CoordinateTriple& destinationPosition() const { return destination; }
    const QImage& image() const { return overviewImage; }
    const PictureStatus& pictureStatus() const { return status; }
    bool isBusy() const { return imageFetcher.http().isBusy(); }

public slots:
    void slideChange(QString& name);
    void setPhysical(CoordinateTriple& position);
    void setDestination(CoordinateTriple& position);

protected slots:
    void loadImage(QImage& picture);

signals:
    void destinationChanged(CoordinateTriple& position);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void chooseDestination(const QPoint& pixel);

    MyWebJPEG imageFetcher;
    QImage overviewImage;
    CoordinateTriple physical;
    CoordinateTriple destination;
    // Server host; every URL is made from it by OrvexUrl.
    QString host;

    // The picture scaled to the widget once, not on every paint of a drag.
    QPixmap scaledPicture;
    PictureStatus status;
};
