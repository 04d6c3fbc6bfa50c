#include "session/FocusMeasure.h"

#include <QImage>

#include <algorithm>

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
    if (image.width() < 3 * block || image.height() < 3 * block)
        return 0.0;
    return of(
        image.scaled(image.width() / block, image.height() / block, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
}

QVector<bool> FocusMeasure::bareGlass(const QVector<double>& textures)
{
    QVector<double> shown;
    for (double t : textures)
        if (t >= glassTexture)
            shown.append(t);
    std::sort(shown.begin(), shown.end());
    const double typical = shown.isEmpty() ? 0.0 : shown[shown.size() / 2];
    QVector<bool> glass;
    for (double t : textures)
        glass.append(!(t >= glassTexture && t >= glassShare * typical));
    return glass;
}
