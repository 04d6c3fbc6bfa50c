#include "imaging/MosaicComposer.h"

#include "imaging/TileCache.h"

#include <algorithm>

MosaicComposer::MosaicComposer(const TileCache& cache, const QVector<QPoint>& topLeft, const QVector<bool>& present,
                               cv::Size mosaic)
    : m_cache(cache)
    , m_topLeft(topLeft)
    , m_present(present)
    , m_mosaic(mosaic)
{
    const int w = cache.tileSize().width(), h = cache.tileSize().height();
    m_rampX.resize(size_t(w));
    m_rampY.resize(size_t(h));
    for (int x = 0; x < w; ++x)
        m_rampX[size_t(x)] = float(std::min(x, w - 1 - x)) + 0.5f;
    for (int y = 0; y < h; ++y)
        m_rampY[size_t(y)] = float(std::min(y, h - 1 - y)) + 0.5f;
}

bool MosaicComposer::band(int y, int rows, cv::Mat* out, QString* error) const
{
    const int width = m_mosaic.width;
    const cv::Size tile(m_cache.tileSize().width(), m_cache.tileSize().height());
    out->create(rows, width, CV_8UC3);
    std::vector<float> sum, weight;
    cv::Mat part;
    for (int s0 = 0; s0 < rows; s0 += kSlice) {
        const int n = std::min(kSlice, rows - s0);
        const int top = y + s0;
        sum.assign(size_t(n) * width * 3, 0.f);
        weight.assign(size_t(n) * width, 0.f);
        for (int id = 0; id < m_topLeft.size(); ++id) {
            if (!m_present[id])
                continue;
            const cv::Rect placed(m_topLeft[id].x(), m_topLeft[id].y(), tile.width, tile.height);
            const cv::Rect need = placed & cv::Rect(0, top, width, n);
            if (need.empty())
                continue;
            const cv::Rect inTile = need - placed.tl();
            if (!m_cache.read(id, inTile, &part)) {
                *error = QStringLiteral("Cannot read tile %1 back from the tile cache.").arg(id);
                return false;
            }
            for (int r = 0; r < inTile.height; ++r) {
                const float wy = m_rampY[size_t(inTile.y + r)];
                const uchar* src = part.ptr(r);
                const size_t row = size_t(need.y - top + r) * width + need.x;
                float* s = sum.data() + row * 3;
                float* wt = weight.data() + row;
                const float* wx = m_rampX.data() + inTile.x;
                for (int c = 0; c < inTile.width; ++c) {
                    const float w = std::min(wx[c], wy);
                    wt[c] += w;
                    s[3 * c] += w * src[3 * c];
                    s[3 * c + 1] += w * src[3 * c + 1];
                    s[3 * c + 2] += w * src[3 * c + 2];
                }
            }
        }
        for (int r = 0; r < n; ++r) {
            uchar* dst = out->ptr(s0 + r);
            const float* s = sum.data() + size_t(r) * width * 3;
            const float* wt = weight.data() + size_t(r) * width;
            for (int c = 0; c < width; ++c) {
                const float inv = wt[c] > 0.f ? 1.f / wt[c] : 0.f;
                for (int k = 0; k < 3; ++k)
                    dst[3 * c + k] = uchar(std::min(255.f, s[3 * c + k] * inv + 0.5f));
            }
        }
    }
    return true;
}
