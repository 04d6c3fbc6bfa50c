#pragma once

#include <QPointF>
#include <QString>
#include <QVector>

// A mark the user keeps on the slide: a measurement, a bookmarked position or
// a labelled point. Points are stage positions in millimetres, so a mark stays
// on the tissue wherever the stage goes.
class Annotation
{
public:
    enum class Kind { Measurement, Bookmark, Note };
    // A rectangle keeps its four corners in order; a polygon is not closed.
    enum class Shape { Point, Line, Rectangle, Polygon };

    Kind kind = Kind::Note;
    Shape shape = Shape::Point;
    QString name;
    QVector<QPointF> pointsMm;
    // Focus position where the mark was made.
    double zMicrometres = 0.0;
    // Given by the store; stays with the mark while it lives.
    int id = 0;

    // A line's length, a polygon's or rectangle's perimeter; 0 for a point.
    double lengthMicrometres() const;
    // Enclosed area of a rectangle or polygon; 0 otherwise.
    double areaSquareMicrometres() const;
    double widthMicrometres() const;
    double heightMicrometres() const;
    // The figures as shown beside the shape, e.g. "100.0 µm" or "50.0 × 25.0 µm, 1250 µm²".
    QString figures() const;

    static QString kindName(Kind kind);
    // False for anything but "measurement", "bookmark" and "note".
    static bool kindFromName(const QString& name, Kind* kind);
    // A rectangle from two opposite corners.
    static QVector<QPointF> rectangleCorners(const QPointF& a, const QPointF& b);
};
