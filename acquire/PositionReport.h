#pragma once

#include "acquire/CoordinateTriple.h"

#include <QString>

// Reads the stage position reply of a move, a coordinate query or an
// autofocus: one status character, then "%f %f %f". The server answers '*'
// while the stage is still moving and '+' once it has arrived.
class PositionReport
{
public:
    enum class Kind { Final, Moving, Invalid };

    // Reads the first `length` bytes of `data`. For '+' and '*' the numbers
    // that can be read replace those of `coords`; the others stay as they were.
    // Any other status character, or a number that is not finite, leaves
    // `coords` untouched and reads as Invalid.
    static Kind read(const char* data, int length, CoordinateTriple& coords);
    // The first line of a reply, short enough for a message.
    static QString firstLine(const char* data, int length);
    // "f=m&x=...&y=...&z=..." in whole stage units, as every move is sent.
    static QString moveQuery(double x, double y, double z);
    // "f=m&b=y&x=...&y=...&z=...", the focus stack's move, answered once the stage is there.
    static QString stackMoveQuery(double x, double y, double z);
};
