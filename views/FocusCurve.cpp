#include "views/FocusCurve.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

FocusCurve::FocusCurve(QWidget* parent, const char* name)
    : QWidget(parent)
{
    if (name)
        setObjectName(QString::fromLatin1(name));
}

void FocusCurve::setCurve(const QVector<double>& z, const QVector<double>& sharpness, int sharpest)
{
    const int n = int(std::min(z.size(), sharpness.size()));
    zs = z.mid(0, n);
    values = sharpness.mid(0, n);
    sharpestIndex = sharpest < n ? sharpest : -1;
    if (markedIndex >= n)
        markedIndex = n - 1;
    update();
}

void FocusCurve::setMarked(int index)
{
    if (index < 0 || index >= values.size())
        return;
    markedIndex = index;
    update();
}

void FocusCurve::paintEvent(QPaintEvent*)
{
    if (values.isEmpty())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF plot = QRectF(rect()).adjusted(4, 4, -4, -4);
    const double lowZ = *std::min_element(zs.cbegin(), zs.cend());
    const double zSpan = *std::max_element(zs.cbegin(), zs.cend()) - lowZ;
    const double high = *std::max_element(values.cbegin(), values.cend());
    // Sharpness is drawn from zero, so a stack that barely varies looks flat.
    auto at = [&](int i) {
        const double fx =
            zSpan > 0.0 ? (zs[i] - lowZ) / zSpan : (values.size() > 1 ? double(i) / (values.size() - 1) : 0.5);
        const double fy = high > 0.0 ? values[i] / high : 0.0;
        return QPointF(plot.left() + fx * plot.width(), plot.bottom() - fy * plot.height());
    };

    painter.setPen(QPen(palette().color(QPalette::Mid), 1));
    painter.drawLine(plot.bottomLeft(), plot.bottomRight());
    if (markedIndex >= 0) {
        const double x = at(markedIndex).x();
        painter.setPen(QPen(QColor(40, 110, 220), 1.5));
        painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
    }
    QPainterPath path(at(0));
    for (int i = 1; i < values.size(); ++i)
        path.lineTo(at(i));
    painter.setPen(QPen(palette().color(QPalette::WindowText), 1.5));
    painter.drawPath(path);
    if (sharpestIndex >= 0) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(220, 40, 40));
        painter.drawEllipse(at(sharpestIndex), 3.5, 3.5);
    }
}
