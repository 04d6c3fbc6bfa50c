#pragma once

#include "sim/SlideModel.h"

// A slide of loose cells (slides named cells-*): flat-coloured round cells
// without inner structure on pale, clean glass, in clusters with wide empty
// glass between them, so many frames hold little or nothing to register.
class SparseCells
{
public:
    static bool isSparse(const QString& slideName);
    // Colour at a stage point of the cell area (right of the label).
    static SlideModel::Rgb colourAt(double x, double y, quint32 salt, double footprint);
    // Whether a cell covers the point (truth for tests).
    static bool onCell(double x, double y, quint32 salt);
};
