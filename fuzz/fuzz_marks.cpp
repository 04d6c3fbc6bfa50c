#include "FuzzInput.h"

#include "views/Calibration.h"
#include "views/SlideMarks.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const FuzzInput input(data, size);
    const QVector<CoordinateTriple> marks = SlideMarks::read(input.data(), input.length());
    const qsizetype lines = std::count(input.data(), input.data() + input.length(), '\n') + 1;
    fuzzCheck(marks.size() <= lines, "more marks than lines");

    // Every mark is drawn on the preview at its pixel.
    const Calibration calibration;
    for (const CoordinateTriple& mark : marks) {
        fuzzCheck(mark.z == 0.0f, "mark with a z");
        const QPoint pixel = calibration.stageToPixel(mark, 0, 0);
        fuzzCheck(pixel.x() >= 0 && pixel.x() <= Calibration::pictureWidth && pixel.y() >= 0 &&
                      pixel.y() <= Calibration::pictureHeight,
                  "mark drawn outside the picture");
    }
    return 0;
}
