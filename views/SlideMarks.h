#pragma once

#include "acquire/CoordinateTriple.h"

#include <QVector>

// Reads the reply of the slide-marks request ("/cgi-bin/ocount?f=sl"): text
// lines "NAME X Y", the name unused, x and y in stage units. A line that does
// not supply x or y keeps the values of the previous line (0 before the
// first), so every line read gives one position. Lines longer than
// maxLineLength are skipped whole; nothing past length is read.
class SlideMarks
{
public:
    static constexpr int maxLineLength = 511;

    static QVector<CoordinateTriple> read(const char* data, int length);
};
