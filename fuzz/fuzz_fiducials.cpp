#include "FuzzInput.h"

#include "views/Calibration.h"

#include <cmath>

namespace {

void exercise(const Calibration& c)
{
    fuzzCheck(std::isfinite(c.scaleX) && c.scaleX > 0.0 && std::isfinite(c.scaleY) && c.scaleY > 0.0, "scale");
    fuzzCheck(std::isfinite(c.angle), "angle not finite");
    fuzzCheck(std::isfinite(c.slideWidthMm) && c.slideWidthMm > 0.0f, "unusable width");
    fuzzCheck(std::isfinite(c.slideHeightMm) && c.slideHeightMm > 0.0f, "unusable height");
    static const float stage[][2] = {{0.0f, 0.0f},        {756700.0f, 503250.0f}, {-1.0e6f, 3.0e6f},
                                     {3.0e38f, -3.0e38f}, {INFINITY, -INFINITY},  {NAN, NAN}};
    static const int widgets[][2] = {{383, 246}, {0, 0}, {Calibration::pictureWidth, Calibration::pictureHeight}};
    for (const auto& s : stage)
        for (const auto& w : widgets) {
            CoordinateTriple position;
            position.x = s[0];
            position.y = s[1];
            // the clamp keeps a widget-sized view centred on the pixel inside the picture
            const QPoint p = c.stageToPixel(position, w[0], w[1]);
            fuzzCheck(p.x() >= w[0] / 2 && p.x() <= Calibration::pictureWidth - w[0] / 2 && p.y() >= w[1] / 2 &&
                          p.y() <= Calibration::pictureHeight - w[1] / 2,
                      "pixel outside the picture");
        }
    for (const QPoint& pixel : {QPoint(0, 0), QPoint(1530, 1018), QPoint(-5000, 7000)}) {
        const CoordinateTriple position = c.pixelToStage(pixel);
        fuzzCheck(std::isfinite(position.x) && std::isfinite(position.y) && position.z == 0.0f, "stage position");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const FuzzInput input(data, size);
    Calibration fresh;
    fresh.load(input.data(), input.length());
    exercise(fresh);
    // a later file that reads only partly keeps the corners of the one before
    static const char earlier[] = "100\n200\n2900\n250\n50\n1900\n2850\n1950\n75.67\n50.325\n";
    Calibration reloaded;
    reloaded.load(earlier, int(sizeof earlier - 1));
    reloaded.load(input.data(), input.length());
    exercise(reloaded);
    return 0;
}
