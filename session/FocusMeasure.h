#pragma once

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
};
