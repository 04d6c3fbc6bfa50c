#include "sim/SlideModel.h"

#include "sim/BlankGlass.h"
#include "sim/SimNoise.h"
#include "sim/SparseCells.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kLabelEnd = 120000.0; // the frosted label covers x < 12 mm
constexpr double kCell = 120.0;        // cell pitch, 12 um
constexpr double kFibrePeriod = 300.0; // 30 um
constexpr float kLumen = 0.74f;

constexpr SlideModel::Rgb kGlass{244.f, 243.f, 246.f};
constexpr SlideModel::Rgb kOutside{52.f, 52.f, 56.f};
constexpr SlideModel::Rgb kLabel{226.f, 224.f, 212.f};
constexpr SlideModel::Rgb kStroma{233.f, 152.f, 188.f};
constexpr SlideModel::Rgb kFibre{206.f, 106.f, 158.f};
constexpr SlideModel::Rgb kNucleus{92.f, 58.f, 148.f};
constexpr SlideModel::Rgb kLumenColour{241.f, 232.f, 240.f};

SlideModel::Rgb mix(const SlideModel::Rgb& a, const SlideModel::Rgb& b, float t)
{
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

float clamp01(float v)
{
    return v < 0.f ? 0.f : (v > 1.f ? 1.f : v);
}

} // namespace

SlideModel::SlideModel(const QString& name, quint32 seed)
    : m_name(name)
    , m_salt(SimNoise::hashText(name.toUtf8(), seed))
    , m_sparse(SparseCells::isSparse(name))
    , m_tilted(name.startsWith(QLatin1String("tilted-")))
{
    quint32 counter = 0;
    auto draw = [this, &counter]() { return SimNoise::unit(SimNoise::hash(m_salt, ++counter, 77u)); };

    // Section 0 always covers the middle of the slide, so a fresh session
    // starts over tissue; the others fall anywhere right of the label.
    const int sections = 3 + static_cast<int>(draw() * 3.0f);
    for (int i = 0; i < sections; ++i) {
        Section s;
        if (i == 0) {
            s.cx = 378350.0 + (draw() - 0.5) * 40000.0;
            s.cy = 251625.0 + (draw() - 0.5) * 30000.0;
            s.rx = 80000.0 + draw() * 30000.0;
            s.ry = 60000.0 + draw() * 25000.0;
        } else {
            s.cx = 190000.0 + draw() * 500000.0;
            s.cy = 90000.0 + draw() * 320000.0;
            s.rx = 35000.0 + draw() * 50000.0;
            s.ry = 30000.0 + draw() * 40000.0;
        }
        const double a = draw() * kPi;
        s.c = std::cos(a);
        s.s = std::sin(a);
        s.nuclei = 0.25f + draw() * 0.45f;
        m_sections.append(s);
        m_marks.append({QStringLiteral("section%1").arg(i + 1), std::floor(s.cx), std::floor(s.cy)});
    }
    m_marks.append({QStringLiteral("label"), 60000.0, 251625.0});

    const double fibreAngle = draw() * kPi;
    m_fibreC = std::cos(fibreAngle);
    m_fibreS = std::sin(fibreAngle);
    m_phase1 = draw() * 2.0 * kPi;
    m_phase2 = draw() * 2.0 * kPi;
    m_tiltX = (draw() - 0.5) * 1200.0;
    m_tiltY = (draw() - 0.5) * 800.0;

    // The whole-slide picture: slightly rotated, scaled and offset. The
    // corners are rounded to pixels first; the picture is then drawn with the
    // calibration those integer corners imply.
    const double angle = (0.25 + draw() * 0.1) * kPi / 180.0;
    const double pxPerMm = 2980.0 / 75.67;
    const double ox = 28.0 + std::floor(draw() * 20.0);
    const double oy = 10.0 + std::floor(draw() * 6.0);
    m_fiducials.widthMm = 75.67;
    m_fiducials.heightMm = 50.325;
    const double cornerMm[4][2] = {{0, 0}, {75.67, 0}, {0, 50.325}, {75.67, 50.325}};
    for (int i = 0; i < 4; ++i) {
        const double ux = cornerMm[i][0] * pxPerMm;
        const double uy = cornerMm[i][1] * pxPerMm;
        const double px = ox + ux * std::cos(angle) - uy * std::sin(angle);
        const double py = oy + ux * std::sin(angle) + uy * std::cos(angle);
        m_fiducials.p[i] = QPoint(static_cast<int>(std::lround(px)), static_cast<int>(std::lround(py)));
    }
    const QPoint* p = m_fiducials.p;
    auto dist = [](const QPoint& a, const QPoint& b) {
        const qint64 dx = a.x() - b.x();
        const qint64 dy = a.y() - b.y();
        return std::sqrt(static_cast<double>(dx * dx + dy * dy));
    };
    m_scaleX = (dist(p[0], p[1]) + dist(p[2], p[3])) * 0.5;
    m_scaleY = (dist(p[0], p[2]) + dist(p[1], p[3])) * 0.5;
    m_originX = p[0].x();
    m_originY = p[0].y();
    const double top = std::atan(double(p[1].y() - p[0].y()) / double(p[1].x() - p[0].x()));
    const double bottom = std::atan(double(p[3].y() - p[2].y()) / double(p[3].x() - p[2].x()));
    const double left = std::atan(-double(p[2].x() - p[0].x()) / double(p[2].y() - p[0].y()));
    const double right = std::atan(-double(p[3].x() - p[1].x()) / double(p[3].y() - p[1].y()));
    m_angle = ((top + bottom) * 0.5 + (left + right) * 0.5) * 0.5;
}

double SlideModel::focalPlaneAt(double x, double y) const
{
    const double u = x / kWidthUnits;
    const double v = y / kHeightUnits;
    if (m_tilted) {
        // A slide lying crooked in its holder: about 16 µm per mm along the
        // tilt (steepest over the middle of the slide), bent by a swell of 30 µm and 10 mm period, so a few millimetres
        // differ by tens of µm and a plane misses by more than the depth of field.
        const double along = (x * 0.8 + y * 0.6) / 2000000.0;
        return 11000.0 + 5000.0 * std::sin(2.0 * kPi * along - 1.425) +
               300.0 * std::sin(2.0 * kPi * (x - 0.5 * y) / 100000.0 + m_phase1);
    }
    return 11000.0 + 1500.0 * std::sin(2.0 * kPi * u * 1.2 + m_phase1) * std::cos(2.0 * kPi * v * 1.1 + m_phase2) +
           m_tiltX * (u - 0.5) + m_tiltY * (v - 0.5);
}

SlideModel::Coarse SlideModel::coarseAt(double x, double y) const
{
    Coarse c;
    const float edge = SimNoise::value(x / 8000.0, y / 8000.0, m_salt ^ 0x11u) - 0.5f;
    float best = 0.f;
    for (const Section& s : m_sections) {
        const double dx = x - s.cx;
        const double dy = y - s.cy;
        const double u = (dx * s.c + dy * s.s) / s.rx;
        const double v = (-dx * s.s + dy * s.c) / s.ry;
        const double d = std::sqrt(u * u + v * v) + 0.3 * edge;
        const float m = clamp01(static_cast<float>((1.0 - d) * 10.0));
        if (m > best) {
            best = m;
            c.nuclei = s.nuclei;
        }
    }
    c.tissue = best;
    if (best <= 0.f)
        return c;
    c.fibrePhase = 7.0f * SimNoise::value(x / 3000.0, y / 3000.0, m_salt ^ 0x22u);
    c.gland = SimNoise::value(x / 2500.0, y / 2500.0, m_salt ^ 0x33u);
    c.nuclei *= 0.55f + 0.9f * SimNoise::value(x / 20000.0, y / 20000.0, m_salt ^ 0x44u);
    if (c.gland > kLumen - 0.05f && c.gland <= kLumen)
        c.nuclei = 0.9f; // glands are lined with dense nuclei
    return c;
}

SlideModel::Rgb SlideModel::colourAt(double x, double y, const Coarse& c, double footprint) const
{
    if (x < 0.0 || y < 0.0 || x > kWidthUnits || y > kHeightUnits)
        return kOutside;
    if (BlankGlass::contains(x, y))
        return kGlass;
    // faint mottling of glass and label, a few um across: even an empty
    // field has some structure for the focus search
    float mottle = 0.f;
    if (footprint < 100.0)
        mottle = 12.f * (SimNoise::value(x / 30.0, y / 30.0, m_salt ^ 0x77u) - 0.5f) +
                 18.f * (SimNoise::value(x / 300.0, y / 300.0, m_salt ^ 0x88u) - 0.5f);
    if (x < kLabelEnd) {
        // a printed bar code on the frosted label
        if (x > 20000.0 && x < 100000.0 && y > 160000.0 && y < 340000.0) {
            const quint32 bar = SimNoise::hash(static_cast<quint32>(x / 2500.0), 5u, m_salt);
            if ((bar & 3u) == 0u)
                return {40.f, 40.f, 44.f};
        }
        return {kLabel.r + mottle, kLabel.g + mottle, kLabel.b + mottle};
    }
    if (m_sparse)
        return SparseCells::colourAt(x, y, m_salt, footprint);

    Rgb glass{kGlass.r + mottle, kGlass.g + mottle, std::min(255.f, kGlass.b + mottle)};
    if (footprint < 200.0) {
        // sparse dust on the glass, a few um across
        const double cell = 400.0;
        const auto ix = static_cast<quint32>(x / cell);
        const auto iy = static_cast<quint32>(y / cell);
        const quint32 h = SimNoise::hash(ix, iy, m_salt ^ 0x55u);
        if ((h & 0xFFu) < 4u) {
            const double cx = (ix + 0.3 + 0.4 * SimNoise::unit(h * 31u)) * cell;
            const double cy = (iy + 0.3 + 0.4 * SimNoise::unit(h * 17u)) * cell;
            const double r = 12.0 + (h >> 28) * 2.0;
            const double d = std::hypot(x - cx, y - cy);
            const float k = clamp01(static_cast<float>((r - d) / std::max(4.0, footprint) + 0.5));
            glass = mix(glass, {120.f, 112.f, 104.f}, 0.8f * k);
        }
    }
    if (c.tissue <= 0.f)
        return glass;

    Rgb col;
    if (c.gland > kLumen) {
        col = {kLumenColour.r + mottle, kLumenColour.g + mottle, kLumenColour.b + mottle};
    } else {
        float fibre = 0.5f;
        if (footprint < 150.0) {
            const double along = (x * m_fibreC + y * m_fibreS) / kFibrePeriod;
            fibre = 0.5f + 0.5f * static_cast<float>(std::sin(2.0 * kPi * along + c.fibrePhase));
        }
        col = mix(kStroma, kFibre, 0.6f * fibre);
        if (footprint < 60.0) {
            const auto ix = static_cast<quint32>(x / kCell);
            const auto iy = static_cast<quint32>(y / kCell);
            const quint32 h = SimNoise::hash(ix, iy, m_salt ^ 0x66u);
            if (SimNoise::unit(h) < c.nuclei) {
                const double r = 24.0 + ((h >> 4) & 15u);
                const double room = kCell * 0.5 - r - 2.0;
                const double cx = (ix + 0.5) * kCell + (SimNoise::unit(h * 2654435761u) - 0.5) * 2.0 * room;
                const double cy = (iy + 0.5) * kCell + (SimNoise::unit(h * 40503u) - 0.5) * 2.0 * room;
                const double d = std::hypot(x - cx, y - cy);
                const float k = clamp01(static_cast<float>((r - d) / std::max(6.0, footprint) + 0.5));
                col = mix(col, kNucleus, 0.92f * k);
            }
        } else {
            // nuclei averaged over the pixel
            col = mix(col, kNucleus, 0.92f * 0.2f * c.nuclei);
        }
    }
    return mix(glass, col, c.tissue);
}

double SlideModel::tissueShare(double x, double y, double w, double h) const
{
    constexpr double step = 20.0;
    int shown = 0, samples = 0;
    for (double v = y - h / 2; v < y + h / 2; v += step)
        for (double u = x - w / 2; u < x + w / 2; u += step) {
            ++samples;
            if (u < kLabelEnd || BlankGlass::contains(u, v))
                continue;
            if (m_sparse ? SparseCells::onCell(u, v, m_salt) : coarseAt(u, v).tissue > 0.5f)
                ++shown;
        }
    return samples ? double(shown) / samples : 0.0;
}

void SlideModel::wholePixelToStage(double px, double py, double* x, double* y) const
{
    const double dx = px - m_originX;
    const double dy = py - m_originY;
    const double ux = dx * std::cos(m_angle) + dy * std::sin(m_angle);
    const double uy = -dx * std::sin(m_angle) + dy * std::cos(m_angle);
    *x = ux / (m_scaleX / m_fiducials.widthMm) * 10000.0;
    *y = uy / (m_scaleY / m_fiducials.heightMm) * 10000.0;
}

void SlideModel::stageToWholePixel(double x, double y, double* px, double* py) const
{
    const double ux = m_scaleX / m_fiducials.widthMm * (x * 0.0001);
    const double uy = m_scaleY / m_fiducials.heightMm * (y * 0.0001);
    *px = ux * std::cos(m_angle) - uy * std::sin(m_angle) + m_originX;
    *py = ux * std::sin(m_angle) + uy * std::cos(m_angle) + m_originY;
}
