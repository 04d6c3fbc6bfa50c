#pragma once

#include <QImage>

// What a real camera adds to every frame, each optional: dust on the sensor
// (a few faint shadows, always at the same places on the picture) and light
// falling off toward the corners. The truth pictures never carry them.
struct CameraEffects
{
    bool dust = false;
    double cornerLight = 1.0; // lens fall-off: light in the corners against the middle

    bool any() const { return dust || cornerLight != 1.0; }
    void apply(QImage* frame) const;
};
