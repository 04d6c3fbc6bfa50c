#include "session/FocusMeasure.h"

#include <QImage>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include <cstdint>
#include <vector>

namespace {

// Brightness as r + 2g + b (0 to 1020): integer only, close to luma.
inline int brightness(quint32 pixel)
{
    return int((pixel >> 16) & 0xff) + 2 * int((pixel >> 8) & 0xff) + int(pixel & 0xff);
}

double measure32(const QImage& image)
{
    const int w = image.width();
    const int h = image.height();
    if (w < 3 || h < 3)
        return 0.0;

    // Three rows of brightness roll through a small buffer, so each pixel is
    // unpacked once.
    std::vector<int> rows(size_t(3) * size_t(w));
    int* above = rows.data();
    int* here = above + w;
    int* below = here + w;
    auto unpack = [w, &image](int y, int* out) {
        const auto* line = reinterpret_cast<const quint32*>(image.constScanLine(y));
        for (int x = 0; x < w; ++x)
            out[x] = brightness(line[x]);
    };
    unpack(0, above);
    unpack(1, here);

    std::int64_t sum = 0;
    std::int64_t sumSquares = 0;
    for (int y = 1; y < h - 1; ++y) {
        unpack(y + 1, below);
        for (int x = 1; x < w - 1; ++x) {
            const std::int64_t lap = std::int64_t(above[x]) + below[x] + here[x - 1] + here[x + 1] - 4 * here[x];
            sum += lap;
            sumSquares += lap * lap;
        }
        int* oldAbove = above;
        above = here;
        here = below;
        below = oldAbove;
    }
    const double n = double(w - 2) * double(h - 2);
    const double mean = double(sum) / n;
    return double(sumSquares) / n - mean * mean;
}

} // namespace

double FocusMeasure::of(const QImage& image)
{
    if (image.isNull())
        return 0.0;
    const QImage::Format format = image.format();
    if (format == QImage::Format_RGB32 || format == QImage::Format_ARGB32 ||
        format == QImage::Format_ARGB32_Premultiplied)
        return measure32(image);
    return measure32(image.convertToFormat(QImage::Format_RGB32));
}

int FocusMeasure::sharpest(const QVector<double>& sharpness)
{
    if (sharpness.isEmpty())
        return -1;
    QVector<double> sorted = sharpness;
    std::sort(sorted.begin(), sorted.end());
    const qsizetype n = sorted.size();
    const double median = n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2.0;
    const auto high = std::max_element(sharpness.cbegin(), sharpness.cend());
    if (!(*high > 0.0) || *high - median <= clearRise * median)
        return -1;
    return int(high - sharpness.cbegin());
}

double FocusMeasure::texture(const QImage& image)
{
    constexpr int block = 16;
    const int bw = image.width() / block, bh = image.height() / block;
    if (bw < 3 || bh < 3)
        return 0.0;
    const QImage rgb = image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32
                           ? image
                           : image.convertToFormat(QImage::Format_RGB32);

    // Block sums of brightness, and the pixel noise from neighbours' differences:
    // their median, robust to the edges of whatever the frame shows.
    std::vector<std::int64_t> sums(size_t(bw) * size_t(bh), 0);
    std::vector<int> differences(1021, 0);
    for (int y = 0; y < bh * block; ++y) {
        const auto* line = reinterpret_cast<const quint32*>(rgb.constScanLine(y));
        std::int64_t* row = sums.data() + size_t(y / block) * size_t(bw);
        for (int x = 0; x < bw * block; ++x) {
            const int b = brightness(line[x]);
            row[x / block] += b;
            if (x > 0)
                ++differences[size_t(std::abs(b - brightness(line[x - 1])))];
        }
    }
    const std::int64_t half = std::int64_t(bh) * block * (std::int64_t(bw) * block - 1) / 2;
    int medianDifference = 0;
    for (std::int64_t seen = differences[0]; seen < half;)
        seen += differences[size_t(++medianDifference)];
    // sigma of one pixel; a block's Laplacian of block means carries sqrt(20) / 16 of it
    const double pixelNoise = medianDifference / (0.6745 * std::sqrt(2.0));
    const double noiseFloor = noiseSigmas * std::sqrt(20.0) * pixelNoise / block;

    constexpr double area = double(block) * block;
    int standing = 0;
    for (int j = 1; j < bh - 1; ++j)
        for (int i = 1; i < bw - 1; ++i) {
            const std::int64_t* at = sums.data() + size_t(j) * size_t(bw) + size_t(i);
            const double here = double(*at) / area;
            const double laplacian = double(at[-1] + at[1] + at[-bw] + at[bw] - 4 * at[0]) / area;
            if (std::abs(laplacian) > std::max(edgeContrast * here, noiseFloor))
                ++standing;
        }
    return double(standing) / (double(bw - 2) * double(bh - 2));
}

QVector<bool> FocusMeasure::bareGlass(const QVector<double>& textures)
{
    QVector<bool> glass;
    for (double t : textures)
        glass.append(!(t >= glassShare));
    return glass;
}
