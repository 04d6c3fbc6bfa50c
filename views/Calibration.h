#pragma once

#include "acquire/CoordinateTriple.h"

#include <QPoint>

// Ties the 3060 x 2036 whole-slide picture to stage coordinates: a rotation,
// a scale per axis and a shift derived from the four fiducial corners that
// the server keeps for each slide. Until a fiducials file has been read, and
// after a failed request, the picture spans 75.67 x 50.325 mm unrotated.
class Calibration
{
public:
    static constexpr int pictureWidth = 3060;
    static constexpr int pictureHeight = 2036;

    Calibration();

    // Fallback scales; the millimetre sizes and points keep their values.
    void setFailed();
    // Reads the fiducials reply: eight "%i" corner values and two "%f"
    // millimetre sizes, within length bytes (not terminated by the fetcher).
    // Coinciding corners fall back as after a failed request; unusable
    // millimetre sizes give the default sizes.
    void load(const char* data, int length);

    // Clamped so that a widget-sized view centred on the pixel stays inside the picture.
    QPoint stageToPixel(const CoordinateTriple& position, int widgetWidth, int widgetHeight) const;
    // Not clamped; z = 0.
    CoordinateTriple pixelToStage(const QPoint& pixel) const;

    double angle = 0.0;
    double scaleX = pictureWidth;
    double scaleY = pictureHeight;
    float slideWidthMm = 75.67f;
    float slideHeightMm = 50.325f;
    double originX = 0.0;
    double originY = 0.0;
    QPoint fiducialPoints[4];
    // The fallback scales are in force (failed request or unusable corners).
    bool fallback = false;

private:
    // Two corners at one pixel, or a scale or angle that is not a finite number.
    bool degenerate() const;
};
