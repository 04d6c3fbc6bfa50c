#include "imaging/Overview.h"

#include "imaging/TileReader.h"

#include <opencv2/imgproc.hpp>

int Overview::factorFor(QSize size)
{
    int factor = 1;
    while ((std::max(size.width(), size.height()) + factor - 1) / factor > kLongSide)
        factor *= 2;
    return factor;
}

bool Overview::build(const TileReader& reader, int page, int factor, const std::function<bool(double)>& progress,
                     cv::Mat* out, QString* error)
{
    const QVector<TileReader::Level>& levels = reader.levels(page);
    if (levels.isEmpty() || factor < 1) {
        *error = QStringLiteral("no page %1").arg(page + 1);
        return false;
    }
    const TileReader::Level& l = levels[0];
    const int cols = (l.size.width() + l.tile.width() - 1) / l.tile.width();
    const int rows = (l.size.height() + l.tile.height() - 1) / l.tile.height();
    cv::Mat overview(cv::Size((l.size.width() + factor - 1) / factor, (l.size.height() + factor - 1) / factor),
                     reader.pixelType(page), cv::Scalar::all(0));
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < cols; ++x) {
            cv::Mat tile;
            if (!reader.readTile(page, 0, QPoint(x, y), &tile, error))
                return false;
            // The tile's part of the overview: exact while the factor divides the tile size.
            const cv::Rect at(x * l.tile.width() / factor, y * l.tile.height() / factor,
                              (tile.cols + factor - 1) / factor, (tile.rows + factor - 1) / factor);
            const cv::Rect inside = at & cv::Rect(0, 0, overview.cols, overview.rows);
            cv::Mat reduced;
            cv::resize(tile, reduced, at.size(), 0, 0, cv::INTER_AREA);
            reduced(cv::Rect(0, 0, inside.width, inside.height)).copyTo(overview(inside));
            // After every tile, so that closing the window never waits for a whole row.
            if (progress && !progress(double(y * cols + x + 1) / (double(rows) * cols))) {
                *error = QStringLiteral("cancelled");
                return false;
            }
        }
    }
    *out = overview;
    return true;
}
