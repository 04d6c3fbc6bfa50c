#include "views/marks/MarksGeoJson.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPolygonF>
#include <QRectF>

#include <cmath>
#include <functional>

namespace {

// No stage travels a metre; larger numbers are not positions.
constexpr int kMaxFeatures = 100000;
constexpr int kMaxPoints = 100000;

using Place = std::function<QPointF(const QPointF&)>;

QJsonArray position(const QPointF& p)
{
    return QJsonArray{p.x(), p.y()};
}

QJsonObject geometry(const Annotation& mark, const Place& place)
{
    QJsonArray points;
    for (const QPointF& p : mark.pointsMm)
        points.append(position(place(p)));
    switch (mark.shape) {
    case Annotation::Shape::Point:
        return {{QStringLiteral("type"), QStringLiteral("Point")},
                {QStringLiteral("coordinates"), position(place(mark.pointsMm.value(0)))}};
    case Annotation::Shape::Line:
        return {{QStringLiteral("type"), QStringLiteral("LineString")}, {QStringLiteral("coordinates"), points}};
    case Annotation::Shape::Rectangle:
    case Annotation::Shape::Polygon: {
        // A linear ring ends where it began and, by the right-hand rule, runs
        // counterclockwise as the numbers go (x right, y up).
        double twiceArea = 0.0;
        for (int i = 0; i < mark.pointsMm.size(); ++i) {
            const QPointF& a = mark.pointsMm[i];
            const QPointF& b = mark.pointsMm[(i + 1) % mark.pointsMm.size()];
            twiceArea += a.x() * b.y() - b.x() * a.y();
        }
        QJsonArray ring;
        for (int i = 0; i <= mark.pointsMm.size(); ++i) {
            const int k = i % mark.pointsMm.size();
            ring.append(position(
                place(mark.pointsMm[twiceArea < 0.0 ? (mark.pointsMm.size() - k) % mark.pointsMm.size() : k])));
        }
        // Not QJsonArray{ring}: some compilers take a lone element of the same
        // type as a copy, which would drop the level of the rings.
        QJsonArray rings;
        rings.append(ring);
        return {{QStringLiteral("type"), QStringLiteral("Polygon")}, {QStringLiteral("coordinates"), rings}};
    }
    }
    return {};
}

QJsonObject feature(const Annotation& mark, const Place& place)
{
    QJsonObject properties{{QStringLiteral("name"), mark.name},
                           {QStringLiteral("kind"), Annotation::kindName(mark.kind)},
                           {QStringLiteral("z_um"), mark.zMicrometres}};
    if (mark.shape == Annotation::Shape::Line)
        properties.insert(QStringLiteral("length_um"), mark.lengthMicrometres());
    if (mark.shape == Annotation::Shape::Rectangle || mark.shape == Annotation::Shape::Polygon) {
        properties.insert(QStringLiteral("area_um2"), mark.areaSquareMicrometres());
        properties.insert(QStringLiteral("perimeter_um"), mark.lengthMicrometres());
    }
    if (mark.shape == Annotation::Shape::Rectangle) {
        properties.insert(QStringLiteral("shape"), QStringLiteral("rectangle"));
        properties.insert(QStringLiteral("width_um"), mark.widthMicrometres());
        properties.insert(QStringLiteral("height_um"), mark.heightMicrometres());
    }
    return {{QStringLiteral("type"), QStringLiteral("Feature")},
            {QStringLiteral("geometry"), geometry(mark, place)},
            {QStringLiteral("properties"), properties}};
}

bool readPosition(const QJsonValue& value, double limit, QPointF* p)
{
    const QJsonArray pair = value.toArray();
    if (!value.isArray() || pair.size() < 2 || !pair[0].isDouble() || !pair[1].isDouble())
        return false;
    const double x = pair[0].toDouble();
    const double y = pair[1].toDouble();
    if (!std::isfinite(x) || !std::isfinite(y) || std::abs(x) > limit || std::abs(y) > limit)
        return false;
    *p = QPointF(x, y);
    return true;
}

bool readPositions(const QJsonValue& value, double limit, QVector<QPointF>* points)
{
    const QJsonArray list = value.toArray();
    if (!value.isArray() || list.size() > kMaxPoints)
        return false;
    for (const QJsonValue& item : list) {
        QPointF p;
        if (!readPosition(item, limit, &p))
            return false;
        points->append(p);
    }
    return true;
}

// One feature, or an error sentence about it.
QString readFeature(const QJsonValue& value, double limit, Annotation* mark)
{
    const QJsonObject object = value.toObject();
    if (object.value(QStringLiteral("type")).toString() != QLatin1String("Feature"))
        return QStringLiteral("is not a GeoJSON Feature");
    const QJsonObject geo = object.value(QStringLiteral("geometry")).toObject();
    const QJsonObject properties = object.value(QStringLiteral("properties")).toObject();
    const QString type = geo.value(QStringLiteral("type")).toString();
    const QJsonValue coordinates = geo.value(QStringLiteral("coordinates"));
    bool read = false;
    if (type == QLatin1String("Point")) {
        mark->shape = Annotation::Shape::Point;
        mark->pointsMm.resize(1);
        read = readPosition(coordinates, limit, &mark->pointsMm[0]);
    } else if (type == QLatin1String("LineString")) {
        mark->shape = Annotation::Shape::Line;
        read = readPositions(coordinates, limit, &mark->pointsMm) && mark->pointsMm.size() >= 2;
    } else if (type == QLatin1String("Polygon")) {
        const QJsonArray rings = coordinates.toArray();
        if (rings.size() > 1)
            return QStringLiteral("is a polygon with holes, which cannot be kept as a mark");
        read = rings.size() == 1 && readPositions(rings[0], limit, &mark->pointsMm) && mark->pointsMm.size() >= 4 &&
               mark->pointsMm.constFirst() == mark->pointsMm.constLast();
        if (read)
            mark->pointsMm.removeLast();
        const bool rectangle = properties.value(QStringLiteral("shape")).toString() == QLatin1String("rectangle");
        mark->shape =
            rectangle && mark->pointsMm.size() == 4 ? Annotation::Shape::Rectangle : Annotation::Shape::Polygon;
    } else {
        return type.isEmpty()
                   ? QStringLiteral("has no geometry")
                   : QStringLiteral("is a %1; only points, line strings and polygons can be marks").arg(type);
    }
    if (!read)
        return QStringLiteral("has coordinates that are not stage positions in millimetres");

    const QJsonValue kind = properties.value(QStringLiteral("kind"));
    if (kind.isUndefined() || kind.isNull())
        mark->kind = mark->shape == Annotation::Shape::Point ? Annotation::Kind::Note : Annotation::Kind::Measurement;
    else if (!Annotation::kindFromName(kind.toString(), &mark->kind))
        return QStringLiteral("is of kind \"%1\"; marks are measurements, bookmarks or notes").arg(kind.toString());
    if ((mark->kind == Annotation::Kind::Measurement) == (mark->shape == Annotation::Shape::Point))
        return mark->kind == Annotation::Kind::Measurement
                   ? QStringLiteral("is a measurement of a single point")
                   : QStringLiteral("is a bookmark or note that is not a point");
    mark->name = properties.value(QStringLiteral("name")).toString().trimmed();
    const double z = properties.value(QStringLiteral("z_um")).toDouble();
    mark->zMicrometres = std::isfinite(z) ? z : 0.0;
    return QString();
}

} // namespace

QByteArray MarksGeoJson::write(const QList<Annotation>& marks, const Source& source)
{
    QJsonArray features;
    const Place same = [](const QPointF& p) { return p; };
    for (const Annotation& mark : marks)
        if (!mark.pointsMm.isEmpty())
            features.append(feature(mark, same));
    const QJsonObject properties{
        {QStringLiteral("slide"), source.slide},
        {QStringLiteral("microscope"), source.microscope},
        {QStringLiteral("server"), source.server},
        {QStringLiteral("um_per_pixel"), QJsonArray{source.micrometresPerPixelX, source.micrometresPerPixelY}},
        {QStringLiteral("units"), QStringLiteral("mm")}};
    const QJsonObject collection{{QStringLiteral("type"), QStringLiteral("FeatureCollection")},
                                 {QStringLiteral("properties"), properties},
                                 {QStringLiteral("features"), features}};
    return QJsonDocument(collection).toJson(QJsonDocument::Indented);
}

bool MarksGeoJson::readFile(const QString& fileName, QByteArray* data, QString* error)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1 could not be opened: %2.").arg(fileName, file.errorString());
        return false;
    }
    if (file.size() > kMaxFileBytes) {
        *error = QStringLiteral("%1 is too large to be a marks file.").arg(fileName);
        return false;
    }
    *data = file.readAll();
    return true;
}

bool MarksGeoJson::read(const QByteArray& data, QList<Annotation>* marks, QString* error, double limit)
{
    QJsonParseError parse;
    const QJsonDocument document = QJsonDocument::fromJson(data, &parse);
    if (parse.error != QJsonParseError::NoError) {
        *error = QStringLiteral("The file is not GeoJSON: %1 at byte %2.").arg(parse.errorString()).arg(parse.offset);
        return false;
    }
    const QJsonObject collection = document.object();
    const QJsonValue features = collection.value(QStringLiteral("features"));
    if (collection.value(QStringLiteral("type")).toString() != QLatin1String("FeatureCollection") ||
        !features.isArray()) {
        *error = QStringLiteral("The file is not a GeoJSON FeatureCollection.");
        return false;
    }
    const QJsonArray list = features.toArray();
    if (list.size() > kMaxFeatures) {
        *error =
            QStringLiteral("The file holds %1 features; at most %2 can be read.").arg(list.size()).arg(kMaxFeatures);
        return false;
    }
    QList<Annotation> read;
    for (int i = 0; i < list.size(); ++i) {
        Annotation mark;
        const QString problem = readFeature(list[i], limit, &mark);
        if (!problem.isEmpty()) {
            *error = QStringLiteral("Feature %1 %2.").arg(i + 1).arg(problem);
            return false;
        }
        if (mark.name.isEmpty())
            mark.name = Annotation::kindName(mark.kind) + QLatin1Char(' ') + QString::number(i + 1);
        read.append(mark);
    }
    *marks = read;
    return true;
}

QByteArray MarksGeoJson::writeForMosaic(const QList<Annotation>& marks, const QPointF& originMm,
                                        double micrometresPerPixel, const QSize& mosaicPixels)
{
    QJsonArray features;
    if (micrometresPerPixel > 0.0 && std::isfinite(micrometresPerPixel)) {
        const double scale = 1000.0 / micrometresPerPixel;
        const Place place = [&](const QPointF& p) { return (p - originMm) * scale; };
        const QRectF picture(QPointF(0, 0), QSizeF(mosaicPixels));
        for (const Annotation& mark : marks) {
            QPolygonF pixels;
            for (const QPointF& p : mark.pointsMm)
                pixels.append(place(p));
            const QRectF bounds = pixels.boundingRect();
            // A point has an empty box; it counts when it lies on the picture.
            if (!(mark.shape == Annotation::Shape::Point ? picture.contains(bounds.topLeft())
                                                         : picture.intersects(bounds.adjusted(0, 0, 1e-9, 1e-9))))
                continue;
            QJsonObject one = feature(mark, place);
            QJsonObject properties = one.value(QStringLiteral("properties")).toObject();
            // QuPath makes annotations, not detections, of features so marked.
            properties.insert(QStringLiteral("objectType"), QStringLiteral("annotation"));
            one.insert(QStringLiteral("properties"), properties);
            features.append(one);
        }
    }
    const QJsonObject collection{{QStringLiteral("type"), QStringLiteral("FeatureCollection")},
                                 {QStringLiteral("features"), features}};
    return QJsonDocument(collection).toJson(QJsonDocument::Indented);
}
