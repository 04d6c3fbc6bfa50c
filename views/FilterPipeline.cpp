#include "views/FilterPipeline.h"

#include <algorithm>

namespace {

inline int clampLevel(int v)
{
    return std::clamp(v, 0, 255);
}

constexpr int kShift[3] = {16, 8, 0};

} // namespace

FilterPipeline::FilterPipeline(const Settings& s)
{
    const bool contrastPass = s.contrast != 0 || s.channel != 0;
    const bool gainPass = s.brightnessOn;
    const bool filterPass = s.colourFilter >= 1 && s.colourFilter <= 3;
    identity = !contrastPass && !gainPass && !filterPass && !s.invert;

    const bool grey = s.channel >= 1 && s.channel <= 3;
    const float factor = s.brightness * 0.01f;
    for (int c = 0; c < 3; ++c) {
        source[c] = grey ? s.channel - 1 : c;
        const int in = source[c];
        const int low = s.statistics.minimum[in];
        const int span = s.statistics.range[in];
        const bool kept = filterPass && c == s.colourFilter - 1;
        for (int v = 0; v < 256; ++v) {
            int out = v;
            if (contrastPass) {
                // A channel with no spread of levels is left as it is.
                if (s.contrast != 0 && span != 0)
                    out = (out - low) * 255 / span;
                out = clampLevel(out);
            }
            if (gainPass)
                out = clampLevel(static_cast<int>(out * factor));
            if (filterPass && !kept)
                out = clampLevel(int(out * 0.8));
            if (s.invert)
                out = clampLevel(255 - out);
            table[c][v] = quint32(out) << kShift[c];
        }
    }
}

int FilterPipeline::level(int c, int sourceLevel) const
{
    return int(table[c][sourceLevel & 0xff] >> kShift[c]);
}

void FilterPipeline::apply(QImage& picture, int width, int height) const
{
    if (identity || picture.isNull())
        return;
    if (picture.format() != QImage::Format_RGB32 && picture.format() != QImage::Format_ARGB32)
        picture = picture.convertToFormat(QImage::Format_RGB32);
    const int w = std::min(width, picture.width());
    const int h = std::min(height, picture.height());
    if (source[0] == source[1] && source[1] == source[2]) {
        // One channel shown as grey: a single lookup gives the whole pixel.
        quint32 grey[256];
        for (int v = 0; v < 256; ++v)
            grey[v] = 0xff000000u | table[0][v] | table[1][v] | table[2][v];
        const int shift = kShift[source[0]];
        for (int y = 0; y < h; ++y) {
            quint32* __restrict line = reinterpret_cast<quint32*>(picture.scanLine(y));
            for (int x = 0; x < w; ++x)
                line[x] = grey[(line[x] >> shift) & 0xff];
        }
        return;
    }
    const int shiftR = kShift[source[0]];
    const int shiftG = kShift[source[1]];
    const int shiftB = kShift[source[2]];
    const quint32* __restrict tr = table[0];
    const quint32* __restrict tg = table[1];
    const quint32* __restrict tb = table[2];
    const auto filtered = [&](quint32 p) {
        return 0xff000000u | tr[(p >> shiftR) & 0xff] | tg[(p >> shiftG) & 0xff] | tb[(p >> shiftB) & 0xff];
    };
    for (int y = 0; y < h; ++y) {
        quint32* __restrict line = reinterpret_cast<quint32*>(picture.scanLine(y));
        int x = 0;
        // Four loads before four stores, so lookups of neighbours overlap.
        for (; x + 4 <= w; x += 4) {
            const quint32 p0 = line[x];
            const quint32 p1 = line[x + 1];
            const quint32 p2 = line[x + 2];
            const quint32 p3 = line[x + 3];
            line[x] = filtered(p0);
            line[x + 1] = filtered(p1);
            line[x + 2] = filtered(p2);
            line[x + 3] = filtered(p3);
        }
        for (; x < w; ++x)
            line[x] = filtered(line[x]);
    }
}
