#include "views/marks/Annotation.h"

#include <QLineF>
#include <QPolygonF>

#include <cmath>

namespace {

QString micrometres(double value)
{
    return QString::number(value, 'f', 1) + QStringLiteral(" µm");
}

QString squareMicrometres(double value)
{
    // Whole square micrometres once they are many; a tenth below.
    return QString::number(value, 'f', value >= 100.0 ? 0 : 1) + QStringLiteral(" µm²");
}

} // namespace

double Annotation::lengthMicrometres() const
{
    if (shape == Shape::Point || pointsMm.size() < 2)
        return 0.0;
    double sum = 0.0;
    for (int i = 1; i < pointsMm.size(); ++i)
        sum += QLineF(pointsMm[i - 1], pointsMm[i]).length();
    if (shape != Shape::Line)
        sum += QLineF(pointsMm.constLast(), pointsMm.constFirst()).length();
    return sum * 1000.0;
}

double Annotation::areaSquareMicrometres() const
{
    if ((shape != Shape::Rectangle && shape != Shape::Polygon) || pointsMm.size() < 3)
        return 0.0;
    // The shoelace formula: exact for any simple polygon.
    double twice = 0.0;
    for (int i = 0; i < pointsMm.size(); ++i) {
        const QPointF& a = pointsMm[i];
        const QPointF& b = pointsMm[(i + 1) % pointsMm.size()];
        twice += a.x() * b.y() - b.x() * a.y();
    }
    return std::abs(twice) * 0.5 * 1.0e6;
}

double Annotation::widthMicrometres() const
{
    return QPolygonF(pointsMm).boundingRect().width() * 1000.0;
}

double Annotation::heightMicrometres() const
{
    return QPolygonF(pointsMm).boundingRect().height() * 1000.0;
}

QString Annotation::figures() const
{
    switch (shape) {
    case Shape::Point:
        return QString();
    case Shape::Line:
        return micrometres(lengthMicrometres());
    case Shape::Rectangle:
        return QString::number(widthMicrometres(), 'f', 1) + QStringLiteral(" × ") + micrometres(heightMicrometres()) +
               QStringLiteral(", ") + squareMicrometres(areaSquareMicrometres());
    case Shape::Polygon:
        return QStringLiteral("perimeter ") + micrometres(lengthMicrometres()) + QStringLiteral(", ") +
               squareMicrometres(areaSquareMicrometres());
    }
    return QString();
}

QString Annotation::kindName(Kind kind)
{
    switch (kind) {
    case Kind::Measurement:
        return QStringLiteral("measurement");
    case Kind::Bookmark:
        return QStringLiteral("bookmark");
    case Kind::Note:
        return QStringLiteral("note");
    }
    return QString();
}

bool Annotation::kindFromName(const QString& name, Kind* kind)
{
    for (Kind k : {Kind::Measurement, Kind::Bookmark, Kind::Note})
        if (name == kindName(k)) {
            *kind = k;
            return true;
        }
    return false;
}

QVector<QPointF> Annotation::rectangleCorners(const QPointF& a, const QPointF& b)
{
    return {a, QPointF(b.x(), a.y()), b, QPointF(a.x(), b.y())};
}
