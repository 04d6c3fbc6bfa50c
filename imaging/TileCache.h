#pragma once

#include <QSize>
#include <QString>
#include <QTemporaryDir>
#include <QVector>
#include <memory>
#include <mutex>
#include <opencv2/core.hpp>

// The tiles of a scan on disk, one file of raw RGB rows each, in a temporary
// folder that goes with the cache; only a small copy of every tile (an
// eighth of each side) stays in memory for overviews. A stored tile never
// changes, so readers on any thread need no lock on its file.
class TileCache
{
public:
    static constexpr int kThumbFactor = 8;

    bool open(const QString& parentDir, QSize tileSize, int count, QString* error);
    bool store(int id, const cv::Mat& rgb, QString* error);
    bool has(int id) const;
    // Rows [y, y + rows) of the tile, columns [x, x + cols), as CV_8UC3 RGB.
    bool read(int id, const cv::Rect& part, cv::Mat* out) const;
    cv::Mat thumbnail(int id) const;
    QSize tileSize() const { return m_tileSize; }

private:
    QString fileOf(int id) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QSize m_tileSize;
    mutable std::mutex m_mutex;
    QVector<cv::Mat> m_thumbs;
};
