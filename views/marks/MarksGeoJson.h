#pragma once

#include "views/marks/Annotation.h"

#include <QByteArray>
#include <QList>
#include <QPointF>
#include <QSize>
#include <QString>

// Marks as GeoJSON (RFC 7946 structure): one FeatureCollection of points,
// line strings and polygons in stage millimetres, x to the right and y
// downwards as the stage counts, each with the properties name, kind
// (measurement, bookmark, note), z_um and its figures.
class MarksGeoJson
{
public:
    // Written as the collection's own properties.
    struct Source
    {
        QString slide;
        QString microscope;
        QString server;
        double micrometresPerPixelX = 0.0;
        double micrometresPerPixelY = 0.0;
    };

    static QByteArray write(const QList<Annotation>& marks, const Source& source);
    // All or nothing: on failure false with a sentence for the user, and
    // `marks` is left as it was. Features without a kind become notes
    // (points) or measurements.
    // Coordinates beyond `limit` either way are refused: a metre of stage
    // millimetres, or (for the pixels of a picture) its largest side.
    static constexpr double kMaxMillimetres = 1000.0;
    static bool read(const QByteArray& data, QList<Annotation>* marks, QString* error, double limit = kMaxMillimetres);
    // Far more than any marks file; a larger file is something else and is not read.
    static constexpr qint64 kMaxFileBytes = qint64(64) << 20;
    // A marks file's bytes, or false with a sentence for the user when it
    // cannot be opened or is larger than kMaxFileBytes.
    static bool readFile(const QString& fileName, QByteArray* data, QString* error);
    // The marks that reach into a mosaic, in its pixel coordinates (x right,
    // y down, from the outer top-left corner of pixel (0, 0)), for QuPath to
    // import onto that picture. originMm is the stage position of that corner.
    static QByteArray writeForMosaic(const QList<Annotation>& marks, const QPointF& originMm,
                                     double micrometresPerPixel, const QSize& mosaicPixels);
};
