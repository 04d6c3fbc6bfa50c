#pragma once

#include "sim/SimAuth.h"

#include <QString>

// A draw whose token the test server refuses when it is made from the typed
// password instead of the account's. The challenge cancels out (the scramble
// rotates bytes, which is linear in XOR), so the draw alone decides, and
// about one draw in a hundred passes.
inline quint32 refusedDraw(const QString& typed, const QString& account)
{
    quint32 draw = 1;
    while (draw < 0x7fffu && SimAuth::verify(SimAuth::token(draw, 0, typed), 0, account))
        ++draw;
    return draw;
}
