#include "views/Calibration.h"

#include <QByteArray>

#include "net/ReplyScan.h"
#include <algorithm>
#include <cmath>

namespace {

// Differences in double: exact for any picture coordinate, and no int
// overflow on absurd values in a foreign file.
double difference(int a, int b)
{
    return static_cast<double>(a) - static_cast<double>(b);
}

double distance(const QPoint& a, const QPoint& b)
{
    const double dx = difference(a.x(), b.x());
    const double dy = difference(a.y(), b.y());
    return std::sqrt(dx * dx + dy * dy);
}

// A slide is a few centimetres; a size beyond a metre only turns picture
// pixels into infinite stage positions.
bool usableSize(float mm)
{
    return std::isfinite(mm) && mm > 0.0f && mm <= 1000.0f;
}

// Stage positions come from the server and from typed text: a NaN or a value
// far off the picture must not reach an int conversion, which is undefined
// outside int's range. Values inside it truncate as before.
int truncated(double v)
{
    if (std::isnan(v))
        return 0;
    return static_cast<int>(std::clamp(v, -1.0e9, 1.0e9));
}

} // namespace

Calibration::Calibration()
{
    setFailed();
}

void Calibration::setFailed()
{
    scaleX = pictureWidth;
    scaleY = pictureHeight;
    angle = 0.0;
    originX = 0.0;
    originY = 0.0;
    fallback = true;
}

void Calibration::load(const char* data, int length)
{
    const QByteArray text = data && length > 0 ? QByteArray(data, length) : QByteArray();
    int v[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 4; ++i) {
        v[2 * i] = fiducialPoints[i].x();
        v[2 * i + 1] = fiducialPoints[i].y();
    }
    float widthMm = slideWidthMm;
    float heightMm = slideHeightMm;
    const int read = ReplyScan::scan(text.constData(), "%i\n%i\n%i\n%i\n%i\n%i\n%i\n%i\n%f\n%f\n", &v[0], &v[1], &v[2],
                                     &v[3], &v[4], &v[5], &v[6], &v[7], &widthMm, &heightMm);
    for (int i = 0; i < 4; ++i)
        fiducialPoints[i] = QPoint(v[2 * i], v[2 * i + 1]);
    if (read < 10 || !usableSize(widthMm) || !usableSize(heightMm)) {
        slideWidthMm = 75.67f;
        slideHeightMm = 50.325f;
    } else {
        slideWidthMm = widthMm;
        slideHeightMm = heightMm;
    }

    const QPoint* p = fiducialPoints;
    scaleX = (distance(p[0], p[1]) + distance(p[2], p[3])) * 0.5;
    scaleY = (distance(p[0], p[2]) + distance(p[1], p[3])) * 0.5;
    originX = p[0].x();
    originY = p[0].y();
    const double top = std::atan(difference(p[1].y(), p[0].y()) / difference(p[1].x(), p[0].x()));
    const double bottom = std::atan(difference(p[3].y(), p[2].y()) / difference(p[3].x(), p[2].x()));
    const double left = std::atan(-difference(p[2].x(), p[0].x()) / difference(p[2].y(), p[0].y()));
    const double right = std::atan(-difference(p[3].x(), p[1].x()) / difference(p[3].y(), p[1].y()));
    angle = ((top + bottom) * 0.5 + (left + right) * 0.5) * 0.5;
    fallback = false;

    // Corners on top of each other (or never read) give a zero scale and an
    // undefined angle; such a file is no better than none.
    if (degenerate())
        setFailed();
}

bool Calibration::degenerate() const
{
    for (int i = 0; i < 4; ++i)
        for (int j = i + 1; j < 4; ++j)
            if (fiducialPoints[i] == fiducialPoints[j])
                return true;
    return !(std::isfinite(scaleX) && std::isfinite(scaleY) && std::isfinite(angle)) || scaleX <= 0.0 || scaleY <= 0.0;
}

QPoint Calibration::stageToPixel(const CoordinateTriple& position, int widgetWidth, int widgetHeight) const
{
    const float ux = static_cast<float>(scaleX / slideWidthMm * (position.x * 0.0001));
    const float uy = static_cast<float>(scaleY / slideHeightMm * (position.y * 0.0001));
    const int a = truncated(std::cos(-angle) * ux + std::sin(-angle) * uy);
    const int b = truncated(std::cos(-angle) * uy - std::sin(-angle) * ux);
    int px = truncated(a + originX);
    int py = truncated(b + originY);
    const int hw = widgetWidth / 2;
    const int hh = widgetHeight / 2;
    if (px < hw)
        px = hw;
    if (py < hh)
        py = hh;
    if (px > pictureWidth - hw)
        px = pictureWidth - hw;
    if (py > pictureHeight - hh)
        py = pictureHeight - hh;
    return QPoint(px, py);
}

CoordinateTriple Calibration::pixelToStage(const QPoint& pixel) const
{
    const float dx = static_cast<float>(pixel.x() - originX);
    const float dy = static_cast<float>(pixel.y() - originY);
    const float rx = static_cast<float>(std::cos(angle) * dx + std::sin(angle) * dy);
    const double ry = std::cos(angle) * dy - std::sin(angle) * dx;
    CoordinateTriple position;
    position.x = static_cast<float>(slideWidthMm / scaleX * rx * 10000);
    position.y = static_cast<float>(slideHeightMm / scaleY * ry * 10000);
    return position;
}
