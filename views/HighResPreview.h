#pragma once

#include "acquire/CoordinateTriple.h"
#include "net/MyHTTP.h"
#include "net/MyWebJPEG.h"
#include "views/Calibration.h"
#include "views/PictureStatus.h"

#include <QList>
#include <QPixmap>
#include <QPoint>
#include <QString>
#include <QWidget>

// A window onto the 3060 x 2036 picture of the whole slide, centred on a
// stage location through the fiducial calibration. A drag moves the location
// by twice the mouse movement. Over the picture: the server's slide marks as
// red dots and the acquisition job's corners, rectangle and sampling grid.
class HighResPreview : public QWidget
{
    Q_OBJECT

public:
    explicit HighResPreview(QWidget* parent = nullptr, const char* name = nullptr);

    void setHost(QString serverHost);
    // Drops the picture, fiducials and marks requests in flight; nothing more
    // is sent until the next slide change.
    void abandonRequests();

    QPoint stageToPixel(const CoordinateTriple& position) const;
    CoordinateTriple pixelToStage(const QPoint& pixel) const;

    const CoordinateTriple& currentLocation() const { return location; }
    const Calibration& calibration() const { return calib; }
    const QList<QPoint>& markPixels() const { return marks; }
    const QPixmap& picture() const { return viewPixmap; }
    const QPixmap& basePicture() const { return basePixmap; }
    int density() const { return linearDensity; }
    const PictureStatus& pictureStatus() const { return status; }
    // The fiducials could not be had, so positions follow the fallback mapping.
    bool isCalibrationUnavailable() const { return calibrationLost; }
    // The marks request of the current picture failed.
    bool areMarksUnavailable() const { return marksLost; }
    // A picture, fiducials or marks request is under way.
    bool isBusy() const { return imageFetcher.http().isBusy() || fiducialFetcher.isBusy() || markFetcher.isBusy(); }
    // Source corner of the picture window the last paint showed.
    QPoint viewOrigin() const;

    // Cleared by the session window when the job selection is reset.
    bool corner1Set = false;
    bool corner2Set = false;

public slots:
    void slideChange(QString& name);
    void setLocation(CoordinateTriple& position);
    void loadFiducials();
    void markUpPixmap();
    void setCorner1(CoordinateTriple corner);
    void setCorner2(CoordinateTriple corner);
    void setLinearDensity(int density);
    void updateSelection();

protected slots:
    void loadPixmap(QPixmap& picture);

signals:
    void locationChanged(CoordinateTriple& position);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void paintNotice(QPainter& painter) const;
    void drawLabel(const char* text, const CoordinateTriple& corner);

    MyWebJPEG imageFetcher;
    // The picture as shown: the marked (or, until the marks are in, the plain)
    // slide picture with the job selection drawn over it.
    QPixmap viewPixmap;
    // The slide picture with its marks; null until the marks request ends.
    QPixmap basePixmap;
    QPixmap plainPixmap;
    CoordinateTriple location;
    CoordinateTriple corner1;
    CoordinateTriple corner2;
    QPoint pressPos;
    QPoint pressPixel;
    MyHTTP fiducialFetcher;
    MyHTTP markFetcher;
    Calibration calib;
    QList<QPoint> marks;
    QString slideName;
    // Server host; every URL is made from it by OrvexUrl.
    QString host;
    int linearDensity = 1;
    PictureStatus status;
    bool calibrationLost = false;
    bool marksLost = false;
};
