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

    // What a frame shows to focus on: the share of its 16 x 16 pixel blocks
    // (8 µm at 20x) whose brightness departs from its four neighbours' by
    // more than edgeContrast of the block's own light and by more than
    // noiseSigmas times what the frame's own pixel noise could make there.
    // Contrast to the block's light does not change with exposure, camera
    // gain or the light's fall-off, and averaging over blocks cancels noise
    // and JPEG blocks. Clean glass shows only the few blocks of sensor dust;
    // tissue, a few loose cells or the mottle of ordinary glass (which
    // autofocus does focus on) show more.
    static double texture(const QImage& image);
    // Which frames show bare glass: a texture() below glassShare, about ten
    // blocks of a 640 x 480 frame, twice what dust on the sensor makes. Each
    // frame is judged on its own, so a frame of a few loose cells counts
    // beside one of dense tissue.
    static QVector<bool> bareGlass(const QVector<double>& textures);
    static constexpr double edgeContrast = 0.045;
    static constexpr double noiseSigmas = 8.0;
    static constexpr double glassShare = 0.01;
};
