#pragma once

#include <QSize>
#include <QString>
#include <QVector>

#include <functional>

// Room on disk for a region scan: where its tiles go, how much they and the
// mosaic will take, and whether the disks have it, said with the figures.
class ScanStorage
{
public:
    struct Volume
    {
        QString root;          // volumes with the same root share their free space
        qint64 freeBytes = -1; // < 0: unknown, and not held against the scan
    };
    using Probe = std::function<Volume(const QString& folder)>;
    struct Need
    {
        QString folder;
        qint64 bytes = 0;
        QString what; // "the tiles", "the mosaic"
    };

    // Tiles are kept in the user's cache folder, on disk: the temporary folder
    // may live in memory. Tile folders a crashed Tessan left there untouched
    // for a week are removed on the way.
    static QString cacheFolder();
    // A tile as the camera sends it, judged from one frame of the live video
    // (0 bytes: unknown, judged from the picture size), with room for frames
    // that compress less.
    static qint64 tileBytes(QSize picture, qint64 sampleJpegBytes);
    // A saved pyramid of this many pixels: deflated RGB plus its reduced levels.
    static qint64 mosaicBytes(QSize pixels);
    // The volume a folder lies on (QStorageInfo), or of its nearest existing parent.
    static Volume volumeOf(const QString& folder);
    // Why the needs do not fit, or empty; needs on one volume add up.
    static QString refusal(const QVector<Need>& needs, const Probe& probe = volumeOf);
    // "3.2 GB", "850 MB"
    static QString size(qint64 bytes);
};
