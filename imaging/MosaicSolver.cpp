#include "imaging/MosaicSolver.h"

#include <Eigen/SparseCholesky>
#include <Eigen/SparseCore>
#include <algorithm>
#include <numeric>
#include <opencv2/core.hpp>
#include <stdexcept>
#include <vector>

namespace {

int root(QVector<int>& parent, int i)
{
    while (parent[i] != i)
        i = parent[i] = parent[parent[i]];
    return i;
}

} // namespace

MosaicSolver::Model MosaicSolver::fit(const QVector<QPointF>& from, const QVector<QPointF>& to)
{
    Model m;
    const int n = from.size();
    if (n == 0)
        return m;
    double minX = from[0].x(), maxX = minX, minY = from[0].y(), maxY = minY;
    QPointF shift;
    for (int k = 0; k < n; ++k) {
        minX = std::min(minX, from[k].x());
        maxX = std::max(maxX, from[k].x());
        minY = std::min(minY, from[k].y());
        maxY = std::max(maxY, from[k].y());
        shift += (to[k] - from[k]) / n;
    }
    m.ax[2] = shift.x();
    m.ay[2] = shift.y();
    // a full affine map needs points spread over both axes
    if (n < 3 || maxX - minX < 1.0 || maxY - minY < 1.0)
        return m;
    cv::Mat a(n, 3, CV_64F), b(n, 2, CV_64F), x;
    for (int k = 0; k < n; ++k) {
        a.at<double>(k, 0) = from[k].x();
        a.at<double>(k, 1) = from[k].y();
        a.at<double>(k, 2) = 1.0;
        b.at<double>(k, 0) = to[k].x();
        b.at<double>(k, 1) = to[k].y();
    }
    if (!cv::solve(a, b, x, cv::DECOMP_SVD))
        return m;
    for (int c = 0; c < 3; ++c) {
        m.ax[c] = x.at<double>(c, 0);
        m.ay[c] = x.at<double>(c, 1);
    }
    return m;
}

QVector<QPointF> MosaicSolver::solve(const QVector<QPointF>& nominal, const QVector<Edge>& edges, Model* model)
{
    const int n = nominal.size();
    if (n == 0)
        return {};
    double weightSum = 0.0;
    for (const Edge& e : edges)
        weightSum += e.weight;
    // a faint pull toward a prior fixes where each group lies as a whole
    // without bending it: tiles of a group agree with their edges to within
    // a thousandth of a pixel
    const double pull = 1e-5 * (edges.isEmpty() ? 1.0 : weightSum / edges.size());

    // the normal equations of one row per edge and one per pull; x and y
    // share the matrix, so one factorisation serves both and both passes
    std::vector<Eigen::Triplet<double>> entries;
    entries.reserve(4 * size_t(edges.size()) + size_t(n));
    Eigen::MatrixX2d b = Eigen::MatrixX2d::Zero(n, 2);
    QVector<int> parent(n);
    std::iota(parent.begin(), parent.end(), 0);
    for (const Edge& e : edges) {
        const double w = e.weight;
        entries.emplace_back(e.i, e.i, w);
        entries.emplace_back(e.j, e.j, w);
        entries.emplace_back(e.i, e.j, -w);
        entries.emplace_back(e.j, e.i, -w);
        b.row(e.j) += w * Eigen::RowVector2d(e.offset.x(), e.offset.y());
        b.row(e.i) -= w * Eigen::RowVector2d(e.offset.x(), e.offset.y());
        parent[root(parent, e.i)] = root(parent, e.j);
    }
    for (int k = 0; k < n; ++k)
        entries.emplace_back(k, k, pull);
    Eigen::SparseMatrix<double> a(n, n);
    a.setFromTriplets(entries.begin(), entries.end());
    const Eigen::SimplicialLDLT<Eigen::SparseMatrix<double>> ldlt(a);
    if (ldlt.info() != Eigen::Success)
        throw std::runtime_error("the placement equations could not be solved");

    auto pass = [&](const QVector<QPointF>& prior) {
        Eigen::MatrixX2d rhs = b;
        for (int k = 0; k < n; ++k)
            rhs.row(k) += pull * Eigen::RowVector2d(prior[k].x(), prior[k].y());
        const Eigen::MatrixX2d x = ldlt.solve(rhs);
        QVector<QPointF> out(n);
        for (int k = 0; k < n; ++k)
            out[k] = QPointF(x(k, 0), x(k, 1));
        return out;
    };
    const QVector<QPointF> first = pass(nominal);

    QVector<int> size(n, 0);
    for (int k = 0; k < n; ++k)
        ++size[root(parent, k)];
    const int largest = int(std::max_element(size.begin(), size.end()) - size.begin());
    QVector<QPointF> from, to;
    if (size[largest] > 1)
        for (int k = 0; k < n; ++k)
            if (root(parent, k) == largest) {
                from.append(nominal[k]);
                to.append(first[k]);
            }
    const Model m = fit(from, to);
    if (model)
        *model = m;
    QVector<QPointF> prior(n);
    for (int k = 0; k < n; ++k)
        prior[k] = m.map(nominal[k]);
    return pass(prior);
}
