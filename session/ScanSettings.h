#pragma once

#include "acquire/CoordinateTriple.h"

// What the window's Image Acquisition page and stage say now, as the region
// scan asks for it when it plans or starts a scan.
struct ScanSettings
{
    // The region's corners, in millimetres; all 0 while unset.
    CoordinateTriple topLeft;
    CoordinateTriple bottomRight;
    int overlapPercent = 0;
    // 0 keep focus, 1 autofocus every tile, 2 every focusEvery tiles, 3 focus map.
    int focusChoice = 0;
    int focusEvery = 1;
    bool correctLight = false;
    // The picture size chosen in the video window (1..), 1 without one.
    int pictureSize = 1;
    // Where the stage is, in stage units.
    CoordinateTriple position;
    // A move, an autofocus or a focus stack holds the stage.
    bool stageBusy = false;
    // The size of the last live frame, for the room the tiles take.
    int liveFrameBytes = 0;
};
