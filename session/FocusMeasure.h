#pragma once

#include <QVector>

class QImage;

// Sharpness of a picture: the variance of the 4-neighbour Laplacian of its
// brightness. A picture in focus has strong local contrast and a large value;
// blur spreads the edges and the value falls.
class FocusMeasure
{
public:
    // Pictures that are not 32-bit are converted first; pictures smaller than
    // 3 x 3 give 0.
    static double of(const QImage& image);
    // The index of the sharpest frame of a stack, or -1 when no frame stands
    // out: the sharpest is less than clearRise above the median frame. Frame
    // to frame noise alone reaches about a tenth (blank glass, a stack at one
    // z or far from focus); a frame near focus rises by a sixth or far more.
    static int sharpest(const QVector<double>& sharpness);
    static constexpr double clearRise = 0.125;

    // What a frame shows to focus on: of() on the picture averaged over
    // 16 x 16 pixels (8 µm at 20x), where sensor noise and JPEG blocks cancel
    // and the light's slow fall-off has no curvature to speak of, while
    // cells, fibres and even the faint mottle of glass stay.
    static double texture(const QImage& image);
    // Which frames show bare glass, by their texture(): below glassTexture,
    // about three times what noise and JPEG leave on clean glass, or below
    // glassShare of the median of the frames above it (the tissue here).
    static QVector<bool> bareGlass(const QVector<double>& textures);
    static constexpr double glassTexture = 150.0;
    static constexpr double glassShare = 0.1;
};
