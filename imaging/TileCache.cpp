#include "imaging/TileCache.h"

#include <QDir>
#include <QFile>
#include <opencv2/imgproc.hpp>

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
    m_thumbs = QVector<cv::Mat>(count);
    return true;
}

QString TileCache::fileOf(int id) const
{
    return m_dir->filePath(QStringLiteral("tile-%1.rgb").arg(id));
}

bool TileCache::store(int id, const cv::Mat& rgb, QString* error)
{
    if (id < 0 || id >= m_thumbs.size() || rgb.type() != CV_8UC3 || rgb.cols != m_tileSize.width() ||
        rgb.rows != m_tileSize.height()) {
        *error = QStringLiteral("Tile %1 does not fit the scan.").arg(id);
        return false;
    }
    QFile file(fileOf(id));
    bool ok = file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    const qint64 rowBytes = qint64(rgb.cols) * 3;
    if (ok && rgb.isContinuous())
        ok = file.write(reinterpret_cast<const char*>(rgb.data), rowBytes * rgb.rows) == rowBytes * rgb.rows;
    else
        for (int y = 0; ok && y < rgb.rows; ++y)
            ok = file.write(reinterpret_cast<const char*>(rgb.ptr(y)), rowBytes) == rowBytes;
    if (!ok) {
        *error = QStringLiteral("Cannot write tile %1 to %2: %3").arg(id).arg(file.fileName(), file.errorString());
        file.remove();
        return false;
    }
    file.close();
    cv::Mat thumb;
    cv::resize(rgb, thumb, cv::Size(std::max(1, rgb.cols / kThumbFactor), std::max(1, rgb.rows / kThumbFactor)), 0, 0,
               cv::INTER_AREA);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_thumbs[id] = thumb;
    return true;
}

bool TileCache::has(int id) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return id >= 0 && id < m_thumbs.size() && !m_thumbs[id].empty();
}

bool TileCache::read(int id, const cv::Rect& part, cv::Mat* out) const
{
    const cv::Rect whole(0, 0, m_tileSize.width(), m_tileSize.height());
    if (!has(id) || (part & whole) != part || part.empty())
        return false;
    QFile file(fileOf(id));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    out->create(part.height, part.width, CV_8UC3);
    const qint64 rowBytes = qint64(whole.width) * 3;
    const qint64 partBytes = qint64(part.width) * 3;
    if (part.width == whole.width) {
        const qint64 bytes = rowBytes * part.height;
        return file.seek(rowBytes * part.y) && file.read(reinterpret_cast<char*>(out->data), bytes) == bytes;
    }
    for (int y = 0; y < part.height; ++y) {
        if (!file.seek(rowBytes * (part.y + y) + qint64(part.x) * 3) ||
            file.read(reinterpret_cast<char*>(out->ptr(y)), partBytes) != partBytes)
            return false;
    }
    return true;
}

cv::Mat TileCache::thumbnail(int id) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return id >= 0 && id < m_thumbs.size() ? m_thumbs[id] : cv::Mat();
}
