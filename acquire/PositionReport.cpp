#include "acquire/PositionReport.h"

#include <algorithm>

#include "net/ReplyScan.h"

#include <cmath>
#include <string>

PositionReport::Kind PositionReport::read(const char* data, int length, CoordinateTriple& coords)
{
    if (!data || length <= 0)
        return Kind::Invalid;
    const char status = data[0];
    if (status != '+' && status != '*')
        return Kind::Invalid;

    // The reply is not terminated: scan a zero-terminated copy of exactly the
    // received bytes.
    const std::string text(data, static_cast<size_t>(length));
    float values[3] = {coords.x, coords.y, coords.z};
    ReplyScan::scan(text.c_str() + 1, "%f %f %f", &values[0], &values[1], &values[2]);
    // "nan" and "inf" scan as numbers, and a too large one as inf: no stage is there.
    for (float v : values)
        if (!std::isfinite(v))
            return Kind::Invalid;
    coords.x = values[0];
    coords.y = values[1];
    coords.z = values[2];
    return status == '+' ? Kind::Final : Kind::Moving;
}

QString PositionReport::firstLine(const char* data, int length)
{
    return QString::fromLatin1(data, std::min(length, 64)).section(QLatin1Char('\n'), 0, 0).trimmed();
}

QString PositionReport::moveQuery(double x, double y, double z)
{
    return QStringLiteral("f=m&x=") + QString::asprintf("%.0f", x) + QStringLiteral("&y=") +
           QString::asprintf("%.0f", y) + QStringLiteral("&z=") + QString::asprintf("%.0f", z);
}

QString PositionReport::stackMoveQuery(double x, double y, double z)
{
    return QStringLiteral("f=m&b=y&x=") + QString::asprintf("%f", x) + QStringLiteral("&y=") +
           QString::asprintf("%f", y) + QStringLiteral("&z=") + QString::asprintf("%f", z);
}
