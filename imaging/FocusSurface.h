#pragma once

#include <QString>
#include <vector>

// The in-focus z over a region, fitted to the z an autofocus found at a few
// points: a constant for one point, a line through two or through points in a
// row, a least-squares plane for up to five, a thin-plate spline (exact at the points, with an affine part, so it
// bends where the slide bends) from six on. Positions and z in µm.
class FocusSurface
{
public:
    struct Point
    {
        double xUm = 0, yUm = 0, zUm = 0;
    };
    enum class Kind { None, Constant, Plane, ThinPlate };

    static constexpr int kMinThinPlatePoints = 6;

    FocusSurface() = default;
    // Points that are not finite are left out, and from seven points on, one
    // at a time, a point far off a plane through the others.
    static FocusSurface fit(const std::vector<Point>& points);

    Kind kind() const { return m_kind; }
    bool isValid() const { return m_kind != Kind::None; }
    // The fitted z at a point (0 for an invalid surface).
    double at(double xUm, double yUm) const;
    // The points the surface goes through, and those left out as far off.
    const std::vector<Point>& points() const { return m_points; }
    const std::vector<Point>& rejected() const { return m_rejected; }
    // "plane", "thin-plate spline", ... for messages and file metadata.
    QString kindName() const;

private:
    Kind m_kind = Kind::None;
    std::vector<Point> m_points;
    std::vector<Point> m_rejected;
    // Coordinates are centred and scaled to about one, for a well conditioned solve.
    double m_cx = 0, m_cy = 0, m_scale = 1;
    double m_a0 = 0, m_ax = 0, m_ay = 0;
    std::vector<double> m_weights;
};
