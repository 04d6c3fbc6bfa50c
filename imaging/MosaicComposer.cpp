#include "imaging/MosaicComposer.h"

#include "imaging/TileCache.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

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

cv::Mat MosaicComposer::view(const cv::Rect2d& area, cv::Size out, cv::Mat* covered) const
{
    cv::Mat sum(out, CV_32FC3, cv::Scalar::all(0)), weight(out, CV_32FC1, cv::Scalar(0));
    if (area.width > 0 && area.height > 0)
        for (int id = 0; id < m_topLeft.size(); ++id)
            if (m_present[id])
                addToView(id, area, out, sum, weight);
    cv::Mat result;
    const cv::Mat floor = cv::max(weight, 1e-6f);
    cv::Mat spread;
    cv::cvtColor(floor, spread, cv::COLOR_GRAY2RGB);
    cv::divide(sum, spread, sum);
    sum.convertTo(result, CV_8UC3);
    cv::compare(weight, 0.f, *covered, cv::CMP_GT);
    return result;
}

void MosaicComposer::addToView(int id, const cv::Rect2d& area, cv::Size out, cv::Mat& sum, cv::Mat& weight) const
{
    const cv::Size tile(m_cache.tileSize().width(), m_cache.tileSize().height());
    const cv::Rect2d placed(m_topLeft[id].x(), m_topLeft[id].y(), tile.width, tile.height);
    const cv::Rect2d seen = (placed & area) - placed.tl();
    if (seen.empty())
        return;
    const cv::Rect part = cv::Rect(int(std::floor(seen.x)), int(std::floor(seen.y)),
                                   int(std::ceil(seen.br().x)) - int(std::floor(seen.x)),
                                   int(std::ceil(seen.br().y)) - int(std::floor(seen.y))) &
                          cv::Rect(cv::Point(), tile);
    const double sx = out.width / area.width, sy = out.height / area.height;
    const int x0 = int(std::lround((placed.x + part.x - area.x) * sx));
    const int y0 = int(std::lround((placed.y + part.y - area.y) * sy));
    const int x1 = int(std::lround((placed.x + part.br().x - area.x) * sx));
    const int y1 = int(std::lround((placed.y + part.br().y - area.y) * sy));
    const cv::Rect dest = cv::Rect(x0, y0, x1 - x0, y1 - y0) & cv::Rect(cv::Point(), out);
    if (part.empty() || dest.empty())
        return;
    cv::Mat pixels;
    if (std::max(sx, sy) <= 2.0 / TileCache::kThumbFactor) {
        const cv::Mat thumb = m_cache.thumbnail(id);
        const double f = double(thumb.cols) / tile.width;
        const cv::Rect small = cv::Rect(int(part.x * f), int(part.y * f), std::max(1, int(std::ceil(part.width * f))),
                                        std::max(1, int(std::ceil(part.height * f)))) &
                               cv::Rect(cv::Point(), thumb.size());
        if (small.empty())
            return;
        pixels = thumb(small);
    } else if (!m_cache.read(id, part, &pixels)) {
        return;
    }
    cv::Mat scaled;
    cv::resize(pixels, scaled, cv::Size(x1 - x0, y1 - y0), 0, 0, sx < 1.0 ? cv::INTER_AREA : cv::INTER_LINEAR);
    // each view pixel weighs by the distance of its tile pixel to the tile's edge
    std::vector<float> wx(size_t(dest.width)), wy(size_t(dest.height));
    for (int c = 0; c < dest.width; ++c) {
        const double tx = part.x + (dest.x + c - x0 + 0.5) / sx;
        wx[size_t(c)] = float(std::max(0.0, std::min(tx, tile.width - tx)));
    }
    for (int r = 0; r < dest.height; ++r) {
        const double ty = part.y + (dest.y + r - y0 + 0.5) / sy;
        wy[size_t(r)] = float(std::max(0.0, std::min(ty, tile.height - ty)));
    }
    for (int r = 0; r < dest.height; ++r) {
        const uchar* src = scaled.ptr(dest.y + r - y0) + 3 * (dest.x - x0);
        float* s = sum.ptr<float>(dest.y + r) + 3 * dest.x;
        float* wt = weight.ptr<float>(dest.y + r) + dest.x;
        for (int c = 0; c < dest.width; ++c) {
            const float w = std::min(wx[size_t(c)], wy[size_t(r)]);
            wt[c] += w;
            s[3 * c] += w * src[3 * c];
            s[3 * c + 1] += w * src[3 * c + 1];
            s[3 * c + 2] += w * src[3 * c + 2];
        }
    }
}

QImage MosaicComposer::preview(const TileCache& cache, const QVector<TilePlacement>& placed, int tiles,
                               const QRectF& area, QSize out)
{
    QImage img(out.expandedTo(QSize(1, 1)), QImage::Format_RGB32);
    img.fill(kBackground);
    if (area.width() <= 0.0 || area.height() <= 0.0)
        return img;
    const double sx = img.width() / area.width(), sy = img.height() / area.height();
    QPainter painter(&img);
    QVector<QPoint> topLeft(tiles);
    QVector<bool> present(tiles, false);
    for (const TilePlacement& p : placed) {
        topLeft[p.id] = p.topLeftPx.toPoint();
        present[p.id] = !p.missing;
        if (!p.missing)
            continue;
        const QRectF r(p.topLeftPx, QSizeF(cache.tileSize()));
        const QRectF target((r.x() - area.x()) * sx, (r.y() - area.y()) * sy, r.width() * sx, r.height() * sy);
        painter.fillRect(target, QBrush(kMissing, Qt::BDiagPattern));
        painter.setPen(kMissing);
        painter.drawRect(target.adjusted(0, 0, -1, -1));
    }
    const MosaicComposer composer(cache, topLeft, present, cv::Size(1, 1));
    cv::Mat covered;
    const cv::Mat rgb = composer.view(cv::Rect2d(area.x(), area.y(), area.width(), area.height()),
                                      cv::Size(img.width(), img.height()), &covered);
    cv::Mat rgba;
    cv::cvtColor(rgb, rgba, cv::COLOR_RGB2BGRA);
    cv::insertChannel(covered, rgba, 3);
    painter.drawImage(0, 0, QImage(rgba.data, rgba.cols, rgba.rows, int(rgba.step), QImage::Format_ARGB32));
    return img;
}
