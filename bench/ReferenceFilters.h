#pragma once

// Straightforward per-pixel versions of the video statistics and the four
// filter passes (x in the outer loop, pixel()/setPixel()), kept as the yard-
// stick for the table-driven pipeline in the fuzzer and the benchmarks.

#include "views/ChannelStatistics.h"
#include "views/FilterPipeline.h"

#include <QImage>
#include <QtGlobal>

#include <algorithm>
#include <cmath>

namespace reference {

inline int clampLevel(int v)
{
    return v < 0 ? 0 : (v > 255 ? 255 : v);
}

inline void writeLevels(QImage& picture, int x, int y, int r, int g, int b)
{
    picture.setPixel(x, y, qRgb(clampLevel(r), clampLevel(g), clampLevel(b)));
}

inline ChannelStatistics statistics(const QImage& picture)
{
    int counts[3][256] = {};
    for (int x = 0; x < picture.width(); ++x)
        for (int y = 0; y < picture.height(); ++y) {
            const QRgb p = picture.pixel(x, y);
            ++counts[0][qRed(p)];
            ++counts[1][qGreen(p)];
            ++counts[2][qBlue(p)];
        }
    ChannelStatistics s;
    for (int c = 0; c < 3; ++c) {
        for (int level = 0; level < 256; ++level)
            if (counts[c][level] > 50 && s.minimum[c] == 0)
                s.minimum[c] = level;
        for (int level = 255; level >= 0; --level)
            if (counts[c][level] > 50) {
                s.maximum[c] = level;
                break;
            }
        s.range[c] = s.maximum[c] - s.minimum[c];
    }
    return s;
}

// The four passes in order over x < width, y < height (cut to the picture).
inline void filter(QImage& picture, const FilterPipeline::Settings& s, int width, int height)
{
    const int w = std::min(width, picture.width());
    const int h = std::min(height, picture.height());
    const ChannelStatistics& st = s.statistics;

    if (s.contrast != 0 || s.channel != 0) {
        for (int x = 0; x < w; ++x)
            for (int y = 0; y < h; ++y) {
                const QRgb p = picture.pixel(x, y);
                int r = qRed(p);
                int g = qGreen(p);
                int b = qBlue(p);
                if (s.contrast != 0) {
                    if (st.range[0] != 0)
                        r = (r - st.minimum[0]) * 255 / st.range[0];
                    if (st.range[1] != 0)
                        g = (g - st.minimum[1]) * 255 / st.range[1];
                    if (st.range[2] != 0)
                        b = (b - st.minimum[2]) * 255 / st.range[2];
                }
                switch (s.channel) {
                case 1:
                    g = b = r;
                    break;
                case 2:
                    r = b = g;
                    break;
                case 3:
                    r = g = b;
                    break;
                default:
                    break;
                }
                writeLevels(picture, x, y, r, g, b);
            }
    }

    if (s.brightnessOn) {
        const float factor = s.brightness * 0.01f;
        for (int x = 0; x < w; ++x)
            for (int y = 0; y < h; ++y) {
                const QRgb p = picture.pixel(x, y);
                writeLevels(picture, x, y, (int)(qRed(p) * factor), (int)(qGreen(p) * factor),
                            (int)(qBlue(p) * factor));
            }
    }

    if (s.colourFilter >= 1 && s.colourFilter <= 3) {
        for (int x = 0; x < w; ++x)
            for (int y = 0; y < h; ++y) {
                const QRgb p = picture.pixel(x, y);
                int r = qRed(p);
                int g = qGreen(p);
                int b = qBlue(p);
                if (s.colourFilter != 1)
                    r = int(r * 0.8);
                if (s.colourFilter != 2)
                    g = int(g * 0.8);
                if (s.colourFilter != 3)
                    b = int(b * 0.8);
                writeLevels(picture, x, y, r, g, b);
            }
    }

    if (s.invert) {
        for (int x = 0; x < w; ++x)
            for (int y = 0; y < h; ++y) {
                const QRgb p = picture.pixel(x, y);
                writeLevels(picture, x, y, 255 - qRed(p), 255 - qGreen(p), 255 - qBlue(p));
            }
    }
}

inline quint32 nextRandom(quint32& state)
{
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

// Every level equally likely in every channel.
inline QImage randomFrame(int width, int height, quint32 seed)
{
    QImage frame(width, height, QImage::Format_RGB32);
    quint32 state = seed ? seed : 1;
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(frame.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = 0xff000000u | (nextRandom(state) & 0xffffffu);
    }
    return frame;
}

// Like a microscope frame: smooth stained shapes over a bright background,
// with fine grain, so the levels cluster and contrast expansion has work.
inline QImage simulatorLikeFrame(int width, int height, quint32 seed)
{
    QImage frame(width, height, QImage::Format_RGB32);
    quint32 state = seed ? seed : 1;
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(frame.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const double u = x / double(width);
            const double v = y / double(height);
            const double stain = 0.5 + 0.5 * std::sin(9.0 * u + 4.0 * std::cos(7.0 * v)) * std::cos(5.0 * v - 3.0 * u);
            const int grain = int(nextRandom(state) % 17) - 8;
            const int r = 225 - int(90 * stain) + grain;
            const int g = 205 - int(150 * stain) + grain;
            const int b = 215 - int(60 * stain) + grain / 2;
            line[x] = qRgb(clampLevel(r), clampLevel(g), clampLevel(b));
        }
    }
    return frame;
}

} // namespace reference
