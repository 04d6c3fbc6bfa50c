#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QPair>
#include <QString>
#include <QVector>

#include <utility>

// One plane of an OME image: its indices and, when known, its stage position in µm
// (a z that is not a number is unknown and left out).
struct OmePlane
{
    int theZ = 0;
    int theC = 0;
    int theT = 0;
    bool hasPosition = false;
    double xUm = 0, yUm = 0, zUm = 0;
};

// One TiffData block: PlaneCount planes from (FirstC, FirstZ, FirstT) on, in
// the image's dimension order, lie in the pages from IFD on. -1: not given.
struct OmeTiffData
{
    int ifd = -1, planeCount = -1;
    int firstC = 0, firstZ = 0, firstT = 0;
};

// One OME image (one Pixels block). Sizes of 0 mean unknown and are not written.
struct OmeImage
{
    QString name;
    QDateTime acquired;
    // The image's Description, such as the z range behind a mosaic's one z.
    QString description;
    int sizeX = 0, sizeY = 0, sizeZ = 1;
    int samplesPerPixel = 3;
    int channels = 1; // of samplesPerPixel each, one page per channel
    QString pixelType = "uint8";
    double physicalSizeXUm = 0, physicalSizeYUm = 0, physicalSizeZUm = 0;
    int firstIfd = 0;
    QVector<OmePlane> planes;
    // Where the image came from and the settings that made it: written as a
    // key-value MapAnnotation that the image refers to.
    QVector<QPair<QString, QString>> provenance;
    // Further key-value pairs written as a MapAnnotation in this namespace
    // that the image refers to, such as the focus map a mosaic was taken with.
    QString annotationNamespace;
    QVector<QPair<QString, QString>> annotation;
    // Read only: the sizes and page layout as the Pixels block gives them.
    QString dimensionOrder;
    int sizeC = 1, sizeT = 1;
    QVector<OmeTiffData> tiffData;

    // This image's name, date, scale and first plane's position, as one plane
    // of the given size and samples starting at the file's first page.
    OmeImage singlePlane(int width, int height, int samples, const QString& type) const;
};

// OME-XML (schema 2016-06) as OME-TIFF files carry it in their first ImageDescription.
class OmeXml
{
public:
    // Lengths are written in µm with the unit spelled out: the schema's default for
    // positions is the stage's "reference frame", not µm.
    static QByteArray write(const QVector<OmeImage>& images);
    // Reads the Image/Pixels blocks of any OME-XML document, converting lengths to µm.
    // Bounded in size and count; false with a message for a malformed document.
    static bool read(const QByteArray& xml, QVector<OmeImage>* images, QString* error);
    // The images of a TIFF ImageDescription that is an OME document with at
    // least one image; false for any other description.
    static bool readDescription(const QByteArray& description, QVector<OmeImage>* images);

    static constexpr int kMaxImages = 4096;
    static constexpr int kMaxPlanes = 1 << 16;
    static constexpr int kMaxBytes = 64 << 20;
};
