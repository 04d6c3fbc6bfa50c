#pragma once

#include "imaging/OmeXml.h"

#include <QSize>
#include <QString>
#include <memory>
#include <opencv2/core.hpp>

// Reads the planes of an OME-TIFF or ImageJ z-stack or any multi-page TIFF:
// RGB or grey, 8 or 16 bit, one page per plane, or several grey channels of
// a page each. Refuses what it cannot read safely (time series, odd layouts,
// absurd sizes) with a message instead of allocating blindly.
class StackReader
{
public:
    StackReader();
    ~StackReader();
    StackReader(const StackReader&) = delete;
    StackReader& operator=(const StackReader&) = delete;

    bool open(const QString& path, QString* error);
    int planeCount() const; // z-planes
    int channelCount() const;
    QSize size() const;
    // The first OME image when the file carries OME-XML; else sizes alone.
    OmeImage meta() const;
    // CV_8UC1, CV_8UC3, CV_16UC1 or CV_16UC3, colour planes in RGB order;
    // with several channels, CV_8U or CV_16U of channelCount() channels.
    bool readPlane(int index, cv::Mat* out, QString* error);

    // What a file may declare; beyond these it is refused before anything is
    // allocated. Pixels of one page (its width x height); pages of the file
    // (also channels x z-planes x time points of its metadata); the bytes
    // libtiff may allocate at once (one strip or tile); channels fused
    // together. Tiles are further bounded by the page rounded up to 16, strip
    // and tile byte counts by the file's size, samples to 1, 3 or 4 of 8 or
    // 16 bits, time points to one.
    static constexpr qint64 kMaxPixels = qint64(1) << 28;
    static constexpr int kMaxPages = 1 << 14;
    static constexpr qint64 kMaxChunkBytes = qint64(512) << 20;
    static constexpr int kMaxChannels = 8;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
