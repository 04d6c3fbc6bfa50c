#pragma once

#include "views/ChannelStatistics.h"

#include <QImage>

// The video filters: contrast expansion, channel selection, gain, coloured
// filter and inversion. Every output channel depends on one input channel
// only, so the chain folds into one 256-entry table per output channel and a
// single pass over the picture gives exactly what the filters applied one
// after another give.
class FilterPipeline
{
public:
    struct Settings
    {
        int contrast = 2;          // expansion on when non-zero (check-box state)
        int channel = 0;           // 0 colour, 1 red, 2 green, 3 blue shown as grey
        bool brightnessOn = false; // gain enabled
        float brightness = 100.0f; // gain in percent
        int colourFilter = 0;      // 0 none, 1 red, 2 green, 3 blue filter
        bool invert = false;
        ChannelStatistics statistics;
    };

    explicit FilterPipeline(const Settings& settings);

    // True when no filter would write a pixel.
    bool isIdentity() const { return identity; }
    // Output level of channel c (0 red, 1 green, 2 blue) for its source level.
    int level(int c, int sourceLevel) const;
    // Which input channel feeds output channel c.
    int sourceChannel(int c) const { return source[c]; }

    // Filters the pixels with x < width and y < height that the picture has,
    // writing them opaque. A picture that is not 32-bit RGB is converted first.
    void apply(QImage& picture, int width, int height) const;

private:
    bool identity = true;
    int source[3] = {0, 1, 2};
    // Each entry is the output level already shifted into its place in the pixel.
    quint32 table[3][256];
};
