#pragma once

#include "sim/CameraEffects.h"

#include <QtGlobal>

// Settings of the simulated Orvex server; the command line of orvex-sim fills
// them, in-process tests pass them directly.
struct OrvexServerOptions
{
    quint32 seed = 1;
    int sessionSeconds = 1800;
    double stageSpeed = 200000.0; // stage units per second
    int latencyMs = 0;            // added to every reply
    // Behave like an old CGI server: HTTP/1.0 replies without Content-Length
    // (the body ends when the connection closes), CRLF line ends in text,
    // and stage positions with decimals.
    bool legacy = false;
    // An ordinary move lands up to this many micrometres off the requested
    // point in x and y (repeatable per seed) while the stage reports the
    // requested point, like a stage without encoders; 0 lands exactly.
    double stageErrorUm = 0.0;
    // What each z an autofocus tries costs (stage settle and exposure): the
    // quick search tries 103, the accurate one 116. The default keeps the
    // quick autofocus at about 0.4 s so tests stay fast; kRealFocusExposureMs
    // is a real camera's.
    double focusExposureMs = 3.9;
    static constexpr double kRealFocusExposureMs = 30.0; // a 33 fps camera, stage stepping between frames
    int jpegQuality = 85;                                // of the camera frames
    CameraEffects camera;                                // sensor dust and light fall-off in the frames
};
