#pragma once

#include "imaging/DecodedTiles.h"
#include "imaging/FlatField.h"

#include <QByteArray>
#include <QSize>
#include <QString>
#include <QTemporaryDir>
#include <QVector>
#include <memory>
#include <mutex>
#include <opencv2/core.hpp>

// The tiles of a scan on disk, each as the JPEG the camera sent (nothing is
// lost that arrived) or, for a tile that came without one, as lossless PNG,
// in a temporary folder that goes with the cache. Tiles are decoded when
// read, and the decoded ones kept up to a limit in bytes, the least recently
// used dropped first; only a small copy of every tile (an eighth of each
// side, as JPEG: a few kilobytes) stays in memory for overviews, decoded
// ones kept likewise up to a limit. With a flat field set, every tile and
// thumbnail read is corrected by it. Thread-safe.
class TileCache
{
public:
    static constexpr int kThumbFactor = 8;
    static constexpr qint64 kDecodedBytes = qint64(160) << 20;
    static constexpr qint64 kDecodedThumbBytes = qint64(32) << 20;

    explicit TileCache(qint64 decodedBytes = kDecodedBytes);

    bool open(const QString& parentDir, QSize tileSize, int count, QString* error);
    // encoded: the tile's file as it came (JPEG), kept byte for byte; rgb its
    // pixels (CV_8UC3). A tile that cannot be written is an error with the reason.
    bool store(int id, const QByteArray& encoded, const cv::Mat& rgb, QString* error);
    bool has(int id) const;
    // Rows [y, y + rows) of the tile, columns [x, x + cols), as CV_8UC3 RGB.
    bool read(int id, const cv::Rect& part, cv::Mat* out) const;
    cv::Mat thumbnail(int id) const;
    QSize tileSize() const { return m_tileSize; }
    qint64 bytesOnDisk() const;
    qint64 decodedBytes() const { return m_decoded.bytes(); }

    void setFlatField(const std::shared_ptr<const FlatField>& flat);
    std::shared_ptr<const FlatField> flatField() const;

private:
    QString fileOf(int id) const;
    cv::Mat decode(int id) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QSize m_tileSize;
    mutable std::mutex m_mutex;
    QVector<QByteArray> m_thumbs; // JPEG
    QVector<bool> m_png;
    qint64 m_bytes = 0;
    std::shared_ptr<const FlatField> m_flat;
    std::shared_ptr<const FlatField> m_thumbFlat; // m_flat at the thumbnails' size
    int m_generation = 0;                         // of the flat field: a decode under an older one is not kept
    mutable DecodedTiles m_decoded;
    mutable DecodedTiles m_decodedThumbs{kDecodedThumbBytes}; // as stored, without the flat field
};
