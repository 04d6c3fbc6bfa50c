#pragma once

#include <QtGlobal>

class TileReader;

// The range of values a page's pictures are shown over, from a sample of
// the tiles of its coarsest level: for 16-bit samples the low and high
// percentiles (a 12-bit camera's 0-4095 fills the screen's 0-255, and a few
// hot pixels do not darken the rest); for heights the whole range, from
// every tile when the level is small enough, so no peak or pit is clipped.
class DisplayRange
{
public:
    static constexpr double kLowFraction = 0.001;
    static constexpr double kHighFraction = 0.999;
    // At most this many tiles are read, spread evenly over the level.
    static constexpr int kMaxTiles = 16;
    // Heights are read whole up to this many pixels (256 MB of floats).
    static constexpr qint64 kMaxWholePixels = qint64(64) << 20;

    // False when no tile could be read; low < high otherwise.
    static bool of(const TileReader& reader, int page, double* low, double* high);
};
