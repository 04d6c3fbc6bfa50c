#pragma once

#include "acquire/CoordinateTriple.h"

// Counts the sampling points of a job rectangle: a square grid starting at the
// first corner, advancing by 1/density mm (truncated to whole stage units at
// every step) and stopping before the second corner's coordinate.
class JobGrid
{
public:
    // Corners in millimetres; density in samples per millimetre (1 or more).
    // The result saturates at the largest int.
    static int count(const CoordinateTriple& topLeftMm, const CoordinateTriple& bottomRightMm, int density);

    // Grid positions along one axis from start (stage units, truncated) up to
    // but not including end.
    static long long positions(double startUnits, double endUnits, double step);
};
