#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

#include <optional>

// Where a second top-level window goes so that it does not cover the first.
class WindowPlacement
{
public:
    static constexpr int gap = 8;

    // The top-left corner, frames included, for a window of outer size `size`
    // right of `main`, else left of it, top edges aligned and kept on `screen`;
    // nothing when neither side has room.
    static std::optional<QPoint> beside(const QRect& main, const QSize& size, const QRect& screen);
};
