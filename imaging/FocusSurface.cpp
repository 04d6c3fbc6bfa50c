#include "imaging/FocusSurface.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>

namespace {

// The thin-plate kernel r² log r, written with r² to avoid a square root.
double kernel(double dx, double dy)
{
    const double r2 = dx * dx + dy * dy;
    return r2 > 0.0 ? 0.5 * r2 * std::log(r2) : 0.0;
}

constexpr int kMinRobustPoints = 7;     // enough that one bad point cannot tilt the plane of the others far
constexpr double kOutlierFloorUm = 5.0; // far beyond a slide's bend between neighbouring points

// The point that a plane through all the others misses by far more than such
// planes miss a typical point (the slide's own bend is shared by all): an
// autofocus that locked onto dust or a scratch instead of the section. -1
// when there is none.
int outlier(const std::vector<FocusSurface::Point>& points)
{
    const int n = int(points.size());
    if (n < kMinRobustPoints)
        return -1;
    double cx = 0, cy = 0, scale = 0;
    for (const FocusSurface::Point& p : points) {
        cx += p.xUm / n;
        cy += p.yUm / n;
    }
    for (const FocusSurface::Point& p : points)
        scale = std::max({scale, std::abs(p.xUm - cx), std::abs(p.yUm - cy)});
    if (!(scale > 0))
        return -1;
    std::vector<double> miss(size_t(n), 0.0);
    for (int left = 0; left < n; ++left) {
        Eigen::MatrixXd terms(n - 1, 3);
        Eigen::VectorXd z(n - 1);
        Eigen::RowVector3d at;
        for (int i = 0, row = 0; i < n; ++i) {
            const double u = (points[size_t(i)].xUm - cx) / scale, v = (points[size_t(i)].yUm - cy) / scale;
            const Eigen::RowVector3d t(1.0, u, v);
            if (i == left) {
                at = t;
                continue;
            }
            terms.row(row) = t;
            z(row++) = points[size_t(i)].zUm;
        }
        const auto cod = terms.completeOrthogonalDecomposition();
        if (cod.rank() < 3)
            return -1;
        miss[size_t(left)] = std::abs(points[size_t(left)].zUm - at.dot(cod.solve(z)));
    }
    const int worst = int(std::max_element(miss.begin(), miss.end()) - miss.begin());
    std::vector<double> sorted = miss;
    std::nth_element(sorted.begin(), sorted.begin() + n / 2, sorted.end());
    return miss[size_t(worst)] > std::max(kOutlierFloorUm, 4.0 * sorted[size_t(n / 2)]) ? worst : -1;
}

} // namespace

FocusSurface FocusSurface::fit(const std::vector<Point>& points)
{
    FocusSurface s;
    for (const Point& p : points)
        if (std::isfinite(p.xUm) && std::isfinite(p.yUm) && std::isfinite(p.zUm))
            s.m_points.push_back(p);
    for (int k = outlier(s.m_points); k >= 0; k = outlier(s.m_points)) {
        s.m_rejected.push_back(s.m_points[size_t(k)]);
        s.m_points.erase(s.m_points.begin() + k);
    }
    const int n = int(s.m_points.size());
    if (n == 0)
        return s;
    double spread = 0;
    for (const Point& p : s.m_points) {
        s.m_cx += p.xUm / n;
        s.m_cy += p.yUm / n;
    }
    for (const Point& p : s.m_points)
        spread = std::max({spread, std::abs(p.xUm - s.m_cx), std::abs(p.yUm - s.m_cy)});
    s.m_scale = spread > 0 ? spread : 1.0;

    Eigen::MatrixXd affine(n, 3);
    Eigen::VectorXd z(n);
    for (int i = 0; i < n; ++i) {
        const Point& p = s.m_points[size_t(i)];
        affine.row(i) << 1.0, (p.xUm - s.m_cx) / s.m_scale, (p.yUm - s.m_cy) / s.m_scale;
        z(i) = p.zUm;
    }
    // Fewer than three points, or points in a line, tilt only where they say.
    const auto cod = affine.completeOrthogonalDecomposition();
    if (n < 3 || cod.rank() < 3) {
        s.m_kind = Kind::Constant;
        s.m_a0 = z.mean();
        if (n >= 2 && cod.rank() == 2) {
            const Eigen::Vector3d a = cod.solve(z);
            s.m_kind = Kind::Plane;
            s.m_a0 = a(0), s.m_ax = a(1), s.m_ay = a(2);
        }
        return s;
    }
    if (n < kMinThinPlatePoints) {
        const Eigen::Vector3d a = cod.solve(z);
        s.m_kind = Kind::Plane;
        s.m_a0 = a(0), s.m_ax = a(1), s.m_ay = a(2);
        return s;
    }
    Eigen::MatrixXd system = Eigen::MatrixXd::Zero(n + 3, n + 3);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            system(i, j) = kernel(affine(i, 1) - affine(j, 1), affine(i, 2) - affine(j, 2));
    system.block(0, n, n, 3) = affine;
    system.block(n, 0, 3, n) = affine.transpose();
    Eigen::VectorXd rhs = Eigen::VectorXd::Zero(n + 3);
    rhs.head(n) = z;
    const Eigen::VectorXd solution = system.fullPivLu().solve(rhs);
    if (!solution.allFinite())
        return s;
    s.m_kind = Kind::ThinPlate;
    s.m_weights.assign(solution.data(), solution.data() + n);
    s.m_a0 = solution(n), s.m_ax = solution(n + 1), s.m_ay = solution(n + 2);
    return s;
}

double FocusSurface::at(double xUm, double yUm) const
{
    const double u = (xUm - m_cx) / m_scale, v = (yUm - m_cy) / m_scale;
    double z = m_a0 + m_ax * u + m_ay * v;
    for (size_t i = 0; i < m_weights.size(); ++i)
        z += m_weights[i] * kernel(u - (m_points[i].xUm - m_cx) / m_scale, v - (m_points[i].yUm - m_cy) / m_scale);
    return z;
}

QString FocusSurface::kindName() const
{
    switch (m_kind) {
    case Kind::Constant:
        return QStringLiteral("constant");
    case Kind::Plane:
        return QStringLiteral("plane");
    case Kind::ThinPlate:
        return QStringLiteral("thin-plate spline");
    case Kind::None:
        break;
    }
    return QStringLiteral("none");
}
