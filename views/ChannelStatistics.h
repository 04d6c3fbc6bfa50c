#pragma once

#include <QImage>

// Level statistics of a video frame for contrast expansion. A level counts
// for a channel only when more than 50 pixels have it, so a few hot or dead
// pixels do not widen the range.
class ChannelStatistics
{
public:
    static constexpr int qualifyingCount = 50;

    // Counts every pixel of a 32-bit RGB picture; other formats are counted
    // after conversion to 32-bit RGB.
    void compute(const QImage& picture);
    // Derives minimum, maximum and range from per-level counts of red, green, blue.
    void fromHistograms(const quint32 counts[3][256]);

    // Index 0 red, 1 green, 2 blue.
    int minimum[3] = {0, 0, 0};
    int maximum[3] = {0, 0, 0};
    int range[3] = {0, 0, 0};
};
