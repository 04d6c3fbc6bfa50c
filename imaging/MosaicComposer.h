#pragma once

#include "imaging/TileTypes.h"

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QRectF>
#include <QString>
#include <QVector>
#include <opencv2/core.hpp>

class TileCache;

// Composes the full-resolution mosaic one band at a time from the tiles that
// touch it: each tile at its placed pixel, seams feathered by the distance to
// the tile's own edge (never by pixel value: a dark pixel is not "empty").
// Places no tile covers stay black.
class MosaicComposer
{
public:
    // topLeft: by tile id, the tile's place in the mosaic; present: whether the cache has it.
    MosaicComposer(const TileCache& cache, const QVector<QPoint>& topLeft, const QVector<bool>& present,
                   cv::Size mosaic);
    // Rows [y, y + rows) of the mosaic as CV_8UC3 RGB.
    bool band(int y, int rows, cv::Mat* out, QString* error) const;
    // Mosaic pixels `area` scaled to `out` (CV_8UC3 RGB), seams blended as in
    // band(); from the thumbnails once reduced enough. covered (CV_8U) is 255
    // where a tile lies.
    cv::Mat view(const cv::Rect2d& area, cv::Size out, cv::Mat* covered) const;

    static inline const QColor kBackground{28, 28, 30};
    static inline const QColor kMissing{190, 70, 70};
    // The mosaic window's picture of mosaic pixels `area` at `out` (RGB32):
    // the tiles as view() blends them, missing tiles hatched beneath, the rest dark.
    static QImage preview(const TileCache& cache, const QVector<TilePlacement>& placed, int tiles, const QRectF& area,
                          QSize out);

private:
    // Blends one tile's visible part into the view's sums.
    void addToView(int id, const cv::Rect2d& area, cv::Size out, cv::Mat& sum, cv::Mat& weight) const;

    static constexpr int kSlice = 64; // rows blended at a time: the float buffers stay small

    const TileCache& m_cache;
    QVector<QPoint> m_topLeft;
    QVector<bool> m_present;
    cv::Size m_mosaic;
    std::vector<float> m_rampX, m_rampY; // distance to the tile's edge, per column and row
};
