#include "FuzzInput.h"

#include "views/Calibration.h"

#include <cmath>

namespace {

void checkPixel(const QPoint& pixel, int widgetWidth, int widgetHeight)
{
    // The clamp keeps a widget-sized view centred on the pixel inside the picture.
    fuzzCheck(pixel.x() >= widgetWidth / 2 && pixel.x() <= Calibration::pictureWidth - widgetWidth / 2,
              "pixel x outside the picture");
    fuzzCheck(pixel.y() >= widgetHeight / 2 && pixel.y() <= Calibration::pictureHeight - widgetHeight / 2,
              "pixel y outside the picture");
}

void exercise(const Calibration& calibration)
{
    fuzzCheck(std::isfinite(calibration.scaleX) && calibration.scaleX > 0.0, "unusable x scale");
    fuzzCheck(std::isfinite(calibration.scaleY) && calibration.scaleY > 0.0, "unusable y scale");
    fuzzCheck(std::isfinite(calibration.angle), "angle not finite");
    fuzzCheck(std::isfinite(calibration.slideWidthMm) && calibration.slideWidthMm > 0.0f, "unusable width");
    fuzzCheck(std::isfinite(calibration.slideHeightMm) && calibration.slideHeightMm > 0.0f, "unusable height");

    static const float stage[][2] = {
        {0.0f, 0.0f},      {100000.0f, 100000.0f}, {756700.0f, 503250.0f}, {-1.0e6f, 3.0e6f},
        {2.0e9f, -2.0e9f}, {3.0e38f, -3.0e38f},    {INFINITY, -INFINITY},  {NAN, NAN}};
    static const int widgets[][2] = {
        {383, 246}, {0, 0}, {1, 1}, {Calibration::pictureWidth, Calibration::pictureHeight}};
    for (const auto& s : stage) {
        CoordinateTriple position;
        position.x = s[0];
        position.y = s[1];
        for (const auto& w : widgets)
            checkPixel(calibration.stageToPixel(position, w[0], w[1]), w[0], w[1]);
    }

    static const QPoint pixels[] = {QPoint(0, 0), QPoint(1530, 1018),
                                    QPoint(Calibration::pictureWidth, Calibration::pictureHeight), QPoint(-5000, 7000)};
    for (const QPoint& pixel : pixels) {
        const CoordinateTriple position = calibration.pixelToStage(pixel);
        fuzzCheck(std::isfinite(position.x) && std::isfinite(position.y), "stage position not finite");
        fuzzCheck(position.z == 0.0f, "stage position with a z");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const FuzzInput input(data, size);

    Calibration fresh;
    fresh.load(input.data(), input.length());
    exercise(fresh);

    // A later file that reads only partly keeps the corners of the one before.
    static const char earlier[] = "100\n200\n2900\n250\n50\n1900\n2850\n1950\n75.67\n50.325\n";
    Calibration reloaded;
    reloaded.load(earlier, static_cast<int>(sizeof earlier - 1));
    reloaded.load(input.data(), input.length());
    exercise(reloaded);
    return 0;
}
