#include "views/ScaleBar.h"

#include <QFontMetrics>
#include <QPainter>
#include <QRect>

#include <cmath>

ScaleBar ScaleBar::choose(double micrometresPerPixel, int pictureWidth)
{
    ScaleBar bar;
    if (!(micrometresPerPixel > 0.0) || !std::isfinite(micrometresPerPixel) || pictureWidth < 5)
        return bar;
    const double wanted = micrometresPerPixel * pictureWidth / 5.0;
    // The round length nearest to a fifth, compared on a log scale.
    const double decade = std::pow(10.0, std::floor(std::log10(wanted)));
    double best = decade;
    for (double step : {1.0, 2.0, 5.0, 10.0}) {
        const double length = step * decade;
        if (std::abs(std::log(length / wanted)) < std::abs(std::log(best / wanted)))
            best = length;
    }
    bar.micrometres = best;
    bar.pixels = int(best / micrometresPerPixel);
    bar.label = best >= 1000.0 ? QString::asprintf("%g mm", best / 1000.0) : QString::asprintf("%g µm", best);
    return bar;
}

void ScaleBar::draw(QPainter& painter, const QRect& area) const
{
    if (pixels <= 0)
        return;
    constexpr int margin = 10;
    constexpr int padding = 6;
    constexpr int thickness = 5;
    const QFontMetrics metrics(painter.font());
    const int boxWidth = std::max(pixels, metrics.horizontalAdvance(label)) + 2 * padding;
    const int boxHeight = metrics.height() + thickness + 3 * padding;
    const QRect box(area.left() + margin, area.bottom() + 1 - margin - boxHeight, boxWidth, boxHeight);
    painter.save();
    // A dark backing keeps the white bar readable on bright and dark frames alike.
    painter.fillRect(box, QColor(0, 0, 0, 140));
    painter.setPen(Qt::white);
    painter.drawText(QRect(box.left() + padding, box.top() + padding, boxWidth - 2 * padding, metrics.height()),
                     Qt::AlignLeft | Qt::AlignVCenter, label);
    painter.fillRect(QRect(box.left() + padding, box.bottom() + 1 - padding - thickness, pixels, thickness), Qt::white);
    painter.restore();
}
