#pragma once

#include <QImage>
#include <vector>

class SlideModel;

// Draws pictures of a SlideModel: microscope frames (blurred by the distance
// from the focal surface, unevenly lit, with mild sensor noise), the whole
// slide and its overview; and the focus search of the autofocus requests.
class SlideRenderer
{
public:
    static constexpr double kUnitsPerPixel = 5.0; // 0.5 um per frame pixel

    struct Plane
    {
        int w = 0, h = 0;
        std::vector<float> rgb; // interleaved
    };

    // Samples the slide on a pixel grid: pixel (i, j) shows stage point
    // (x0 + i*ix + j*jx, y0 + i*iy + j*jy).
    static Plane sample(const SlideModel& slide, double x0, double y0, double ix, double iy, double jx, double jy,
                        int w, int h);
    // Separable blur approximating a Gaussian of the given sigma (pixels),
    // continuous in sigma, so focus measures vary smoothly with z.
    static void blur(Plane& plane, double sigma);
    // noise 0 draws the lighting alone, as the truth pictures need it.
    static void lightAndNoise(Plane& plane, quint32 noiseSeed, float noise = 1.0f);
    static QImage toImage(const Plane& plane);
    // Gradient energy of the green channel at two scales.
    static double focusMeasure(const Plane& plane);
    // Blur in frame pixels at a distance dz (stage units) from focus.
    static double blurSigma(double dz);

    // A frame of w x h pixels centred on the stage position.
    static QImage frame(const SlideModel& slide, double x, double y, double z, int w, int h, quint32 seed);
    // The 3060 x 2036 whole-slide picture, drawn through its calibration.
    static QImage wholeSlide(const SlideModel& slide);
    // The unrotated overview of the whole travel.
    static QImage overview(const SlideModel& slide, int w, int h);
    // Searches z by the focus measure of rendered frames; accurate narrows
    // further on larger frames. Over bare glass no z stands out and the
    // answer is wherever the measure happened to peak. exposures receives
    // the number of z tried, each one exposure of a real sweep.
    static double autofocus(const SlideModel& slide, double x, double y, bool accurate, quint32 seed,
                            int* exposures = nullptr);
};
