#pragma once

#include <QPointF>
#include <QVector>

// Places tiles from the offsets measured between them: weighted least
// squares over all accepted edges at once, so errors do not pile up along a
// row. The equations are sparse (a tile meets at most four neighbours), so
// a solve grows about linearly with the tile count. Tiles without edges, and
// groups cut off from the largest group, are placed by a linear model fitted
// from the reported to the found positions of the largest group.
class MosaicSolver
{
public:
    struct Edge
    {
        int i = 0, j = 0;  // node indices
        QPointF offset;    // where j lies relative to i
        double weight = 1; // > 0
    };
    // x' = ax[0] x + ax[1] y + ax[2], y' likewise
    struct Model
    {
        double ax[3] = {1, 0, 0};
        double ay[3] = {0, 1, 0};
        QPointF map(QPointF p) const
        {
            return {ax[0] * p.x() + ax[1] * p.y() + ax[2], ay[0] * p.x() + ay[1] * p.y() + ay[2]};
        }
    };

    // nominal: the reported position of every node. Returns the found ones.
    static QVector<QPointF> solve(const QVector<QPointF>& nominal, const QVector<Edge>& edges, Model* model = nullptr);
    // Least-squares affine map from -> to; a shift alone when the points cannot carry more.
    static Model fit(const QVector<QPointF>& from, const QVector<QPointF>& to);
};
