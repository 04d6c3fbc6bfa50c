#include "acquire/TileGrid.h"

#include <cmath>

namespace {

// Frames along one axis that cover `length` with frames of `frame` advancing
// by `step`; 0 when that exceeds `limit`.
int framesAlong(double length, double frame, double step, int limit)
{
    if (length <= frame)
        return 1;
    const double n = std::ceil((length - frame) / step - 1e-9) + 1.0;
    return n > limit ? 0 : int(n);
}

} // namespace

TileGrid TileGrid::plan(const QPointF& topLeftUm, const QPointF& bottomRightUm, const QSize& picture, double umPerPxX,
                        double umPerPxY, int overlapPercent)
{
    TileGrid grid;
    grid.picture = picture;
    grid.umPerPxX = umPerPxX;
    grid.umPerPxY = umPerPxY;
    const double width = bottomRightUm.x() - topLeftUm.x();
    const double height = bottomRightUm.y() - topLeftUm.y();
    if (!(umPerPxX > 0.0 && umPerPxY > 0.0) || !std::isfinite(umPerPxX) || !std::isfinite(umPerPxY) ||
        picture.isEmpty()) {
        grid.refusal = QStringLiteral("The microscope has not reported the scale of its pictures yet.");
        return grid;
    }
    if (!(width >= 0.0 && height >= 0.0) || !std::isfinite(width) || !std::isfinite(height)) {
        grid.refusal = QStringLiteral("Set the top left corner above and left of the bottom right corner.");
        return grid;
    }
    if (overlapPercent < 5 || overlapPercent > 50) {
        grid.refusal = QStringLiteral("The overlap must lie between 5 and 50 %.");
        return grid;
    }
    grid.frameUm = QSizeF(picture.width() * umPerPxX, picture.height() * umPerPxY);
    grid.stepUm = grid.frameUm * (1.0 - overlapPercent / 100.0);
    grid.cols = framesAlong(width, grid.frameUm.width(), grid.stepUm.width(), maxTiles);
    grid.rows = framesAlong(height, grid.frameUm.height(), grid.stepUm.height(), maxTiles);
    if (grid.cols == 0 || grid.rows == 0 || double(grid.cols) * grid.rows > maxTiles) {
        grid.refusal = QStringLiteral("The region needs more than %1 frames; mark a smaller one.").arg(maxTiles);
        grid.rows = grid.cols = 0;
        return grid;
    }
    // The frames overhang the region equally on both sides.
    const double coveredX = grid.frameUm.width() + (grid.cols - 1) * grid.stepUm.width();
    const double coveredY = grid.frameUm.height() + (grid.rows - 1) * grid.stepUm.height();
    grid.originUm = QPointF(topLeftUm.x() - (coveredX - width) / 2.0, topLeftUm.y() - (coveredY - height) / 2.0);
    return grid;
}

QPointF TileGrid::centreUm(int row, int col) const
{
    return originUm +
           QPointF(frameUm.width() / 2.0 + col * stepUm.width(), frameUm.height() / 2.0 + row * stepUm.height());
}

QVector<QPoint> TileGrid::serpentine() const
{
    QVector<QPoint> order;
    order.reserve(count());
    for (int row = 0; row < rows; ++row)
        for (int i = 0; i < cols; ++i)
            order.append(QPoint(row % 2 == 0 ? i : cols - 1 - i, row));
    return order;
}

MosaicPlan TileGrid::mosaicPlan(const QString& cacheDir) const
{
    MosaicPlan plan;
    plan.rows = rows;
    plan.cols = cols;
    plan.tileSize = picture;
    plan.umPerPxX = umPerPxX;
    plan.umPerPxY = umPerPxY;
    plan.originUm = originUm;
    plan.stepUm = stepUm;
    plan.cacheDir = cacheDir;
    return plan;
}
