#include "views/ChannelStatistics.h"

#include <cstring>

namespace {

// Consecutive pixels count into separate histogram sets, so that runs of
// equal levels do not wait on the store of the previous increment.
constexpr int kSets = 4;

inline void countPixel(quint32 (&set)[3][256], quint32 pixel)
{
    ++set[0][(pixel >> 16) & 0xff];
    ++set[1][(pixel >> 8) & 0xff];
    ++set[2][pixel & 0xff];
}

} // namespace

void ChannelStatistics::compute(const QImage& picture)
{
    if (picture.isNull()) {
        const quint32 none[3][256] = {};
        fromHistograms(none);
        return;
    }
    const bool direct = picture.format() == QImage::Format_RGB32 || picture.format() == QImage::Format_ARGB32;
    const QImage converted = direct ? QImage() : picture.convertToFormat(QImage::Format_RGB32);
    const QImage& source = direct ? picture : converted;

    quint32 sets[kSets][3][256];
    std::memset(sets, 0, sizeof(sets));
    const int width = source.width();
    for (int y = 0; y < source.height(); ++y) {
        const auto* line = reinterpret_cast<const quint32*>(source.constScanLine(y));
        int x = 0;
        for (; x + kSets <= width; x += kSets) {
            countPixel(sets[0], line[x]);
            countPixel(sets[1], line[x + 1]);
            countPixel(sets[2], line[x + 2]);
            countPixel(sets[3], line[x + 3]);
        }
        for (; x < width; ++x)
            countPixel(sets[0], line[x]);
    }
    quint32 total[3][256];
    for (int c = 0; c < 3; ++c)
        for (int level = 0; level < 256; ++level)
            total[c][level] = sets[0][c][level] + sets[1][c][level] + sets[2][c][level] + sets[3][c][level];
    fromHistograms(total);
}

void ChannelStatistics::fromHistograms(const quint32 counts[3][256])
{
    for (int c = 0; c < 3; ++c) {
        // Level 0 never becomes the minimum: the lowest qualifying level
        // from 1 up wins, or 0 when none qualifies.
        int low = 0;
        for (int level = 0; level < 256 && low == 0; ++level)
            if (counts[c][level] > quint32(qualifyingCount))
                low = level;
        int high = 0;
        for (int level = 255; level >= 0; --level)
            if (counts[c][level] > quint32(qualifyingCount)) {
                high = level;
                break;
            }
        minimum[c] = low;
        maximum[c] = high;
        range[c] = high - low;
    }
}
