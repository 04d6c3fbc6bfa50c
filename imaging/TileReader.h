#pragma once

#include "imaging/OmeXml.h"

#include <QPoint>
#include <QPointF>
#include <QSize>
#include <QString>
#include <QVector>
#include <memory>
#include <opencv2/core.hpp>

// Reads a picture file in tiles, for viewing at any size: pyramidal TIFF and
// OME-TIFF (reduced levels as SubIFDs), z-stacks and channels on pages of
// their own, a float height map beside the picture, plain TIFF, PNG and JPEG.
// Every size the file declares is checked against the file's size and the
// limits below before anything is allocated; what cannot be read safely is
// refused with a message. After open(), readTile() may be called from any
// number of threads at once.
class TileReader
{
public:
    struct Level
    {
        QSize size;
        QSize tile; // strips and pictures are cut into tiles of kVirtualTile
    };

    TileReader();
    ~TileReader();
    TileReader(const TileReader&) = delete;
    TileReader& operator=(const TileReader&) = delete;

    bool open(const QString& path, QString* error);

    int planeCount() const; // z-planes of the picture; 0 for a height map alone
    int channelCount() const;
    // The page of channel c at plane z, and the height map's page (-1: none).
    int pageOf(int channel, int plane) const;
    int heightPage() const;
    // Levels of a page, the full resolution first, each about half the one above.
    const QVector<Level>& levels(int page) const;
    // CV_8UC1, CV_8UC3, CV_16UC1, CV_16UC3 or CV_32FC1 (heights in µm).
    int pixelType(int page) const;
    // The OME image of the picture (sizes filled in when the file has none).
    const OmeImage& meta() const;
    // The text a plain TIFF, PNG or JPEG carries (Tessan's picture comment).
    const QString& comment() const;
    // The stage position of the top-left pixel, in µm, when the file gives it.
    bool hasStagePosition() const;
    QPointF stagePositionUm() const;

    // Tile `tile` (column, row) of a level, cropped at the picture's edge.
    bool readTile(int page, int level, QPoint tile, cv::Mat* out, QString* error) const;

    // Beyond these a file is refused. Each side of a level; tile sides (also
    // a multiple of 16); bytes of one strip or tile; pages of the file;
    // reduced levels of a page; pixels of a PNG or JPEG, which Qt decodes
    // only whole (32 M: about 130 MB with its levels, half the tile cache).
    static constexpr int kMaxSide = 1 << 20;
    static constexpr int kMaxTileSide = 4096;
    static constexpr qint64 kMaxChunkBytes = qint64(256) << 20;
    static constexpr int kMaxPages = 1 << 14;
    static constexpr int kMaxLevels = 24;
    static constexpr qint64 kMaxPicturePixels = qint64(1) << 25;
    static constexpr int kVirtualTile = 512;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
