#pragma once

#include <QString>

class QPainter;
class QRect;

// A bar of round length (1, 2 or 5 times a power of ten micrometres) about a
// fifth of the picture wide, with its label.
class ScaleBar
{
public:
    // For a picture of the given width at the given micrometres per pixel; no
    // bar (0 pixels, no label) while the scale is unknown.
    static ScaleBar choose(double micrometresPerPixel, int pictureWidth);

    // Draws the bar and its label over the lower-left corner of the area.
    void draw(QPainter& painter, const QRect& area) const;

    int pixels = 0;
    double micrometres = 0.0;
    QString label;
};
