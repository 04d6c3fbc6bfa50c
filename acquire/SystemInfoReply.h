#pragma once

#include <QString>

// The system-information reply: a first line with the video picture's scale
// in micrometres per pixel in x and y ("%f %f\n"), then free text.
class SystemInfoReply
{
public:
    // Reads the first `length` bytes of `data`. A number that cannot be read
    // keeps the value passed in. Without a line break there is no free text.
    static SystemInfoReply read(const char* data, int length, float mppX, float mppY);

    float mppX = 0.0f;
    float mppY = 0.0f;
    // The text after the first line break, as plain text (zero bytes dropped).
    QString rest;
};
