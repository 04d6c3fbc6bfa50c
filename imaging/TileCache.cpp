#include "imaging/TileCache.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QSaveFile>
#include <opencv2/imgproc.hpp>

namespace {

QSize jpegSize(const QByteArray& bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return QImageReader(&buffer, "JPEG").size();
}

} // namespace

TileCache::TileCache(qint64 decodedBytes)
    : m_decoded(decodedBytes)
{
}

bool TileCache::open(const QString& parentDir, QSize tileSize, int count, QString* error)
{
    const QString parent = parentDir.isEmpty() ? QDir::tempPath() : parentDir;
    auto dir = std::make_unique<QTemporaryDir>(QDir(parent).filePath(QStringLiteral("tessan-tiles-XXXXXX")));
    if (!dir->isValid()) {
        *error = QStringLiteral("Cannot make a folder for the tiles in %1: %2").arg(parent, dir->errorString());
        return false;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_dir = std::move(dir);
    m_tileSize = tileSize;
    m_thumbs = QVector<QByteArray>(count);
    m_decodedThumbs.clear();
    m_png = QVector<bool>(count, false);
    m_bytes = 0;
    m_decoded.clear();
    return true;
}

QString TileCache::fileOf(int id) const
{
    return m_dir->filePath(QStringLiteral("tile-%1").arg(id));
}

bool TileCache::store(int id, const QByteArray& encoded, const cv::Mat& rgb, QString* error)
{
    if (id < 0 || id >= m_thumbs.size() || rgb.type() != CV_8UC3 || rgb.cols != m_tileSize.width() ||
        rgb.rows != m_tileSize.height()) {
        *error = QStringLiteral("Tile %1 does not fit the scan.").arg(id);
        return false;
    }
    // bytes that would not decode to this tile are not kept in its place: its pixels are
    const bool png = encoded.isEmpty() || jpegSize(encoded) != m_tileSize;
    QByteArray bytes = png ? QByteArray() : encoded;
    if (png) {
        // a fast PNG level: lossless, and a tile is written once
        const QImage view(rgb.data, rgb.cols, rgb.rows, int(rgb.step), QImage::Format_RGB888);
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        view.save(&buffer, "PNG", 90);
    }
    // QSaveFile reports a full disk at commit, where a plain close would not
    QSaveFile file(fileOf(id));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        *error = QStringLiteral("Cannot write tile %1 to %2: %3")
                     .arg(id)
                     .arg(QDir::toNativeSeparators(m_dir->path()), file.errorString());
        return false;
    }
    cv::Mat thumb;
    cv::resize(rgb, thumb, cv::Size(std::max(1, rgb.cols / kThumbFactor), std::max(1, rgb.rows / kThumbFactor)), 0, 0,
               cv::INTER_AREA);
    QByteArray small;
    QBuffer into(&small);
    into.open(QIODevice::WriteOnly);
    QImage(thumb.data, thumb.cols, thumb.rows, int(thumb.step), QImage::Format_RGB888).save(&into, "JPEG", 90);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_thumbs[id] = small;
    m_png[id] = png;
    m_bytes += bytes.size();
    return true;
}

bool TileCache::has(int id) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return id >= 0 && id < m_thumbs.size() && !m_thumbs[id].isEmpty();
}

cv::Mat TileCache::decode(int id) const
{
    cv::Mat tile = m_decoded.find(id);
    if (!tile.empty())
        return tile;
    std::shared_ptr<const FlatField> flat;
    int generation = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        flat = m_flat;
        generation = m_generation;
    }
    QFile file(fileOf(id));
    QImage image;
    if (!file.open(QIODevice::ReadOnly) || !image.loadFromData(file.readAll(), m_png.value(id) ? "PNG" : "JPEG") ||
        image.size() != m_tileSize)
        return cv::Mat();
    image = image.convertToFormat(QImage::Format_RGB888);
    cv::Mat(image.height(), image.width(), CV_8UC3, image.bits(), size_t(image.bytesPerLine())).copyTo(tile);
    if (flat && flat->size() == tile.size())
        flat->apply(tile, cv::Rect(cv::Point(), tile.size()));
    std::lock_guard<std::mutex> lock(m_mutex);
    if (generation == m_generation)
        m_decoded.insert(id, tile);
    return tile;
}

bool TileCache::read(int id, const cv::Rect& part, cv::Mat* out) const
{
    const cv::Rect whole(0, 0, m_tileSize.width(), m_tileSize.height());
    if (!has(id) || (part & whole) != part || part.empty())
        return false;
    const cv::Mat tile = decode(id);
    if (tile.empty())
        return false;
    tile(part).copyTo(*out);
    return true;
}

cv::Mat TileCache::thumbnail(int id) const
{
    QByteArray small;
    std::shared_ptr<const FlatField> flat;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (id < 0 || id >= m_thumbs.size())
            return cv::Mat();
        small = m_thumbs[id];
        flat = m_thumbFlat;
    }
    cv::Mat thumb = m_decodedThumbs.find(id);
    if (thumb.empty()) {
        QImage image;
        if (!image.loadFromData(small, "JPEG"))
            return cv::Mat();
        image = image.convertToFormat(QImage::Format_RGB888);
        cv::Mat(image.height(), image.width(), CV_8UC3, image.bits(), size_t(image.bytesPerLine())).copyTo(thumb);
        m_decodedThumbs.insert(id, thumb);
    }
    if (!flat)
        return thumb;
    thumb = thumb.clone();
    flat->apply(thumb, cv::Rect(cv::Point(), thumb.size()));
    return thumb;
}

qint64 TileCache::bytesOnDisk() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bytes;
}

void TileCache::setFlatField(const std::shared_ptr<const FlatField>& flat)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_flat =
        flat && flat->isValid() && flat->size() == cv::Size(m_tileSize.width(), m_tileSize.height()) ? flat : nullptr;
    // thumbnails are corrected by the profile at their size, made once
    m_thumbFlat.reset();
    if (m_flat) {
        const cv::Size small(std::max(1, m_tileSize.width() / kThumbFactor),
                             std::max(1, m_tileSize.height() / kThumbFactor));
        cv::Mat gain, dark;
        cv::resize(m_flat->gain(), gain, small, 0, 0, cv::INTER_AREA);
        if (m_flat->hasDark())
            cv::resize(m_flat->dark(), dark, small, 0, 0, cv::INTER_AREA);
        m_thumbFlat = std::make_shared<const FlatField>(gain, dark);
    }
    // what was decoded before carries the old correction
    ++m_generation;
    m_decoded.clear();
}

std::shared_ptr<const FlatField> TileCache::flatField() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_flat;
}
