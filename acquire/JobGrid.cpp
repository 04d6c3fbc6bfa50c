#include "acquire/JobGrid.h"

#include <climits>
#include <cmath>

namespace {
// Beyond this many positions the axis is counted arithmetically, so a typed
// coordinate of 1e9 mm cannot hang the window.
constexpr long long simulateLimit = 1000000;
} // namespace

long long JobGrid::positions(double startUnits, double endUnits, double step)
{
    if (!std::isfinite(startUnits) || !std::isfinite(endUnits) || !(step >= 1.0))
        return 0;
    double pos = std::trunc(startUnits);
    if (!(pos < endUnits))
        return 0;

    long long n = 0;
    while (pos < endUnits) {
        if (n == simulateLimit) {
            // Far from zero every step adds the same whole number of units
            // (its floor above zero, its ceiling below).
            const double increment = pos >= 0.0 ? std::floor(step) : std::ceil(step);
            return n + static_cast<long long>(std::ceil((endUnits - pos) / increment));
        }
        ++n;
        pos = std::trunc(pos + step);
    }
    return n;
}

int JobGrid::count(const CoordinateTriple& topLeftMm, const CoordinateTriple& bottomRightMm, int density)
{
    if (density < 1)
        return 0;
    const double step = 10000.0 / density;
    // Single-precision products: a typed 12.1 mm ends at exactly 121000 units,
    // so the grid stops before it as the user expects.
    const long long columns = positions(topLeftMm.x * 10000.0f, bottomRightMm.x * 10000.0f, step);
    const long long rows = positions(topLeftMm.y * 10000.0f, bottomRightMm.y * 10000.0f, step);
    if (columns == 0 || rows == 0)
        return 0;
    if (columns > INT_MAX / rows)
        return INT_MAX;
    return static_cast<int>(columns * rows);
}
