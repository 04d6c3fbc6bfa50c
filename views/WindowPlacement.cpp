#include "views/WindowPlacement.h"

#include <algorithm>

std::optional<QPoint> WindowPlacement::beside(const QRect& main, const QSize& size, const QRect& screen)
{
    if (size.height() > screen.height())
        return std::nullopt;
    // The top edge follows the main window unless that would leave the screen.
    const int top = std::clamp(main.top(), screen.top(), screen.bottom() + 1 - size.height());
    const int right = main.right() + 1 + gap;
    if (right + size.width() <= screen.right() + 1)
        return QPoint(right, top);
    const int left = main.left() - gap - size.width();
    if (left >= screen.left())
        return QPoint(left, top);
    return std::nullopt;
}
