#pragma once

// A patch of clean bare glass on every slide, right of the middle, where the
// section was cut away: no tissue, dust or mottle, so frames there show only
// the light and the sensor noise and give image registration nothing to hold.
// Stage units.
struct BlankGlass
{
    static constexpr double kLeft = 400000.0;
    static constexpr double kTop = 240000.0;
    static constexpr double kRight = 415000.0;
    static constexpr double kBottom = 265000.0;

    static bool contains(double x, double y) { return x >= kLeft && x < kRight && y >= kTop && y < kBottom; }
};
