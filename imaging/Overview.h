#pragma once

#include <QSize>
#include <QString>
#include <functional>
#include <opencv2/core.hpp>

class TileReader;

// A reduced copy of a page that has no reduced levels of its own, made from
// its full-resolution tiles one at a time, so the whole picture is never in
// memory; for a worker thread.
class Overview
{
public:
    // Pages longer than this on their coarsest level get an overview.
    static constexpr int kNeededAbove = 4096;
    static constexpr int kLongSide = 2048;

    // The power of two that brings the long side within kLongSide.
    static int factorFor(QSize size);
    // Each side divided by `factor` (rounded up); after each tile, progress gets the fraction
    // done and returns false to cancel.
    static bool build(const TileReader& reader, int page, int factor, const std::function<bool(double)>& progress,
                      cv::Mat* out, QString* error);
};
