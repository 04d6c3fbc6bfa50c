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
};
