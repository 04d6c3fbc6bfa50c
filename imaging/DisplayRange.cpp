#include "imaging/DisplayRange.h"

#include "imaging/TileReader.h"

#include <algorithm>
#include <cmath>
#include <vector>

bool DisplayRange::of(const TileReader& reader, int page, double* low, double* high)
{
    const QVector<TileReader::Level>& levels = reader.levels(page);
    if (levels.isEmpty())
        return false;
    const int level = int(levels.size()) - 1;
    const TileReader::Level& l = levels[level];
    const int cols = (l.size.width() + l.tile.width() - 1) / l.tile.width();
    const int count = cols * ((l.size.height() + l.tile.height() - 1) / l.tile.height());
    const bool sixteen = CV_MAT_DEPTH(reader.pixelType(page)) == CV_16U;
    const bool whole = !sixteen && qint64(l.size.width()) * l.size.height() <= kMaxWholePixels;
    const int step = whole ? 1 : std::max(1, count / kMaxTiles);
    std::vector<qint64> histogram(sixteen ? 65536 : 0);
    qint64 samples = 0;
    double lo = 0, hi = 0;
    for (int i = 0; i < count; i += step) {
        cv::Mat tile;
        if (!reader.readTile(page, level, QPoint(i % cols, i / cols), &tile, nullptr))
            continue;
        if (sixteen) {
            for (int y = 0; y < tile.rows; ++y) {
                const quint16* row = tile.ptr<quint16>(y);
                for (int x = 0; x < tile.cols * tile.channels(); ++x)
                    ++histogram[row[x]];
            }
        } else {
            double a = 0, b = 0;
            cv::minMaxLoc(tile.reshape(1), &a, &b);
            lo = samples ? std::min(lo, a) : a;
            hi = samples ? std::max(hi, b) : b;
        }
        samples += qint64(tile.total()) * tile.channels();
    }
    if (samples == 0)
        return false;
    if (sixteen) {
        const qint64 lowCount = qint64(std::floor(kLowFraction * double(samples)));
        const qint64 highCount = qint64(std::ceil(kHighFraction * double(samples)));
        qint64 seen = 0;
        lo = -1;
        for (int v = 0; v < 65536; ++v) {
            seen += histogram[size_t(v)];
            if (lo < 0 && seen > lowCount)
                lo = v;
            if (seen >= highCount) {
                hi = v;
                break;
            }
        }
    }
    *low = lo;
    // A uniform picture shows as its value, not as a division by zero.
    *high = hi > lo ? hi : lo + 1;
    return true;
}
