#include "FuzzInput.h"

#include "acquire/PositionReport.h"
#include "views/Calibration.h"
#include "views/OverviewMap.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const FuzzInput input(data, size);
    CoordinateTriple coords;
    coords.x = 12345.0f;
    coords.y = -678.0f;
    coords.z = 9.0f;
    const CoordinateTriple before = coords;
    const PositionReport::Kind kind = PositionReport::read(input.data(), input.length(), coords);
    if (kind == PositionReport::Kind::Invalid) {
        fuzzCheck(std::memcmp(&coords, &before, sizeof coords) == 0, "invalid reply changed the position");
        return 0;
    }
    fuzzCheck(input.data()[0] == '+' || input.data()[0] == '*', "status character not '+' or '*'");

    // the reported position goes straight to both slide views
    OverviewMap::stageToPixel(coords, 383, 256);
    const Calibration calibration;
    const QPoint pixel = calibration.stageToPixel(coords, 383, 246);
    fuzzCheck(pixel.x() >= 0 && pixel.x() <= Calibration::pictureWidth && pixel.y() >= 0 &&
                  pixel.y() <= Calibration::pictureHeight,
              "preview pixel outside the picture");
    return 0;
}
