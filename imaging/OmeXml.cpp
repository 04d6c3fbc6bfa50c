#include "imaging/OmeXml.h"

#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <algorithm>
#include <cmath>

namespace {

const QString kMicron = QStringLiteral("\u00b5m");

QString num(double v)
{
    return QString::number(v, 'g', 10);
}

// Length in µm from a value and its OME unit; NaN for a unit that is not a length.
double toMicron(double v, const QString& unit)
{
    static const struct
    {
        const char* unit;
        double scale;
    } units[] = {{"\u00b5m", 1},   {"um", 1},   {"nm", 1e-3}, {"pm", 1e-6},
                 {"\u00c5", 1e-4}, {"mm", 1e3}, {"cm", 1e4},  {"m", 1e6}};
    for (const auto& u : units) {
        if (unit == QString::fromUtf8(u.unit))
            return v * u.scale;
    }
    return std::nan("");
}

bool isPositive(double v)
{
    return std::isfinite(v) && v > 0;
}

struct MapAnnotation
{
    QString nameSpace;
    const QVector<QPair<QString, QString>>* values;
};

QVector<MapAnnotation> annotationsOf(const OmeImage& im)
{
    QVector<MapAnnotation> out;
    if (!im.provenance.isEmpty())
        out.append({QStringLiteral("org.tessan/provenance"), &im.provenance});
    if (!im.annotation.isEmpty())
        out.append({im.annotationNamespace, &im.annotation});
    return out;
}

void writeImage(QXmlStreamWriter& w, const OmeImage& im, int index, int firstAnnotation)
{
    w.writeStartElement("Image");
    w.writeAttribute("ID", QStringLiteral("Image:%1").arg(index));
    if (!im.name.isEmpty())
        w.writeAttribute("Name", im.name);
    if (im.acquired.isValid())
        w.writeTextElement("AcquisitionDate", im.acquired.toUTC().toString(Qt::ISODate));
    if (!im.description.isEmpty())
        w.writeTextElement("Description", im.description);

    const int spp = std::max(1, im.samplesPerPixel);
    w.writeStartElement("Pixels");
    w.writeAttribute("ID", QStringLiteral("Pixels:%1").arg(index));
    w.writeAttribute("DimensionOrder", "XYCZT");
    w.writeAttribute("Type", im.pixelType);
    w.writeAttribute("SizeX", QString::number(std::max(1, im.sizeX)));
    w.writeAttribute("SizeY", QString::number(std::max(1, im.sizeY)));
    w.writeAttribute("SizeZ", QString::number(std::max(1, im.sizeZ)));
    const int channels = std::max(1, im.channels);
    w.writeAttribute("SizeC", QString::number(spp * channels));
    w.writeAttribute("SizeT", "1");
    const struct
    {
        const char* name;
        double value;
    } physical[] = {{"PhysicalSizeX", im.physicalSizeXUm},
                    {"PhysicalSizeY", im.physicalSizeYUm},
                    {"PhysicalSizeZ", im.physicalSizeZUm}};
    for (const auto& p : physical) {
        if (isPositive(p.value)) {
            w.writeAttribute(p.name, num(p.value));
            w.writeAttribute(QString::fromLatin1(p.name) + "Unit", kMicron);
        }
    }
    w.writeAttribute("Interleaved", "false");

    // An RGB picture is one channel of three samples; channels of their own
    // follow each other in the pages of every z.
    for (int c = 0; c < channels; ++c) {
        w.writeEmptyElement("Channel");
        w.writeAttribute("ID", QStringLiteral("Channel:%1:%2").arg(index).arg(c));
        w.writeAttribute("SamplesPerPixel", QString::number(spp));
    }

    w.writeEmptyElement("TiffData");
    w.writeAttribute("IFD", QString::number(std::max(0, im.firstIfd)));
    w.writeAttribute("PlaneCount", QString::number(std::max(1, im.sizeZ) * channels));

    for (const OmePlane& p : im.planes) {
        w.writeEmptyElement("Plane");
        w.writeAttribute("TheZ", QString::number(p.theZ));
        w.writeAttribute("TheT", QString::number(p.theT));
        w.writeAttribute("TheC", QString::number(p.theC));
        if (p.hasPosition && std::isfinite(p.xUm) && std::isfinite(p.yUm)) {
            w.writeAttribute("PositionX", num(p.xUm));
            w.writeAttribute("PositionXUnit", kMicron);
            w.writeAttribute("PositionY", num(p.yUm));
            w.writeAttribute("PositionYUnit", kMicron);
            if (std::isfinite(p.zUm)) {
                w.writeAttribute("PositionZ", num(p.zUm));
                w.writeAttribute("PositionZUnit", kMicron);
            }
        }
    }
    w.writeEndElement(); // Pixels
    for (int k = 0; k < annotationsOf(im).size(); ++k) {
        w.writeEmptyElement("AnnotationRef");
        w.writeAttribute("ID", QStringLiteral("Annotation:%1").arg(firstAnnotation + k));
    }
    w.writeEndElement(); // Image
}

// After every Image, as the schema orders the document; numbered in the
// order the images refer to them.
void writeAnnotations(QXmlStreamWriter& w, const QVector<OmeImage>& images)
{
    int id = 0;
    for (const OmeImage& im : images) {
        for (const MapAnnotation& a : annotationsOf(im)) {
            if (id == 0)
                w.writeStartElement("StructuredAnnotations");
            w.writeStartElement("MapAnnotation");
            w.writeAttribute("ID", QStringLiteral("Annotation:%1").arg(id++));
            if (!a.nameSpace.isEmpty())
                w.writeAttribute("Namespace", a.nameSpace);
            w.writeStartElement("Value");
            for (const auto& [key, value] : *a.values) {
                w.writeStartElement("M");
                w.writeAttribute("K", key);
                w.writeCharacters(value);
                w.writeEndElement();
            }
            w.writeEndElement(); // Value
            w.writeEndElement(); // MapAnnotation
        }
    }
    if (id > 0)
        w.writeEndElement(); // StructuredAnnotations
}

int intAttr(const QXmlStreamAttributes& a, const char* name, int fallback)
{
    bool ok = false;
    const int v = a.value(QLatin1String(name)).toInt(&ok);
    return ok ? v : fallback;
}

// A length attribute in µm; the unit attribute's absence means the schema default.
double lengthAttr(const QXmlStreamAttributes& a, const QString& name, const QString& defaultUnit)
{
    if (!a.hasAttribute(name))
        return std::nan("");
    bool ok = false;
    const double v = a.value(name).toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return std::nan("");
    const QString unit = a.hasAttribute(name + "Unit") ? a.value(name + "Unit").toString() : defaultUnit;
    return toMicron(v, unit);
}

} // namespace

OmeImage OmeImage::singlePlane(int width, int height, int samples, const QString& type) const
{
    OmeImage image = *this;
    image.sizeX = width;
    image.sizeY = height;
    image.sizeZ = 1;
    image.samplesPerPixel = samples;
    image.pixelType = type;
    image.physicalSizeZUm = 0;
    image.firstIfd = 0;
    image.channels = 1;
    image.planes.resize(1);
    image.planes[0].theZ = image.planes[0].theC = image.planes[0].theT = 0;
    return image;
}

QByteArray OmeXml::write(const QVector<OmeImage>& images)
{
    QByteArray out;
    QXmlStreamWriter w(&out);
    w.setAutoFormatting(true);
    w.writeStartDocument();
    w.writeStartElement("OME");
    w.writeDefaultNamespace("http://www.openmicroscopy.org/Schemas/OME/2016-06");
    w.writeNamespace("http://www.w3.org/2001/XMLSchema-instance", "xsi");
    w.writeAttribute("http://www.w3.org/2001/XMLSchema-instance", "schemaLocation",
                     "http://www.openmicroscopy.org/Schemas/OME/2016-06 "
                     "http://www.openmicroscopy.org/Schemas/OME/2016-06/ome.xsd");
    w.writeAttribute("Creator", "Tessan");
    int annotations = 0;
    for (int i = 0; i < images.size(); ++i) {
        writeImage(w, images[i], i, annotations);
        annotations += annotationsOf(images[i]).size();
    }
    writeAnnotations(w, images);
    w.writeEndElement();
    w.writeEndDocument();
    return out;
}

bool OmeXml::read(const QByteArray& xml, QVector<OmeImage>* images, QString* error)
{
    images->clear();
    auto fail = [&](const QString& message) {
        images->clear();
        if (error)
            *error = message;
        return false;
    };
    if (xml.size() > kMaxBytes)
        return fail(QStringLiteral("OME-XML document too large"));

    QXmlStreamReader r(xml);
    int planes = 0;
    bool sawOme = false;
    OmeImage* current = nullptr;
    while (!r.atEnd()) {
        r.readNext();
        if (!r.isStartElement())
            continue;
        const QStringView name = r.name();
        const QXmlStreamAttributes a = r.attributes();
        if (name == QLatin1String("OME")) {
            sawOme = true;
        } else if (name == QLatin1String("Image")) {
            if (images->size() >= kMaxImages)
                return fail(QStringLiteral("OME-XML: too many images"));
            images->append(OmeImage());
            current = &images->last();
            current->name = a.value(QLatin1String("Name")).toString();
        } else if (!current) {
            continue;
        } else if (name == QLatin1String("AcquisitionDate")) {
            current->acquired = QDateTime::fromString(r.readElementText(), Qt::ISODate);
        } else if (name == QLatin1String("Pixels")) {
            current->sizeX = intAttr(a, "SizeX", 0);
            current->sizeY = intAttr(a, "SizeY", 0);
            current->sizeZ = intAttr(a, "SizeZ", 1);
            current->samplesPerPixel = current->sizeC = intAttr(a, "SizeC", 1);
            current->sizeT = intAttr(a, "SizeT", 1);
            current->dimensionOrder = a.value(QLatin1String("DimensionOrder")).toString();
            current->pixelType = a.value(QLatin1String("Type")).toString();
            const double px = lengthAttr(a, "PhysicalSizeX", kMicron);
            const double py = lengthAttr(a, "PhysicalSizeY", kMicron);
            const double pz = lengthAttr(a, "PhysicalSizeZ", kMicron);
            current->physicalSizeXUm = isPositive(px) ? px : 0;
            current->physicalSizeYUm = isPositive(py) ? py : 0;
            current->physicalSizeZUm = isPositive(pz) ? pz : 0;
        } else if (name == QLatin1String("Channel")) {
            const int spp = intAttr(a, "SamplesPerPixel", 0);
            if (spp > 0)
                current->samplesPerPixel = spp;
        } else if (name == QLatin1String("TiffData")) {
            if (++planes > kMaxPlanes)
                return fail(QStringLiteral("OME-XML: too many planes"));
            current->tiffData.append({intAttr(a, "IFD", -1), intAttr(a, "PlaneCount", -1), intAttr(a, "FirstC", 0),
                                      intAttr(a, "FirstZ", 0), intAttr(a, "FirstT", 0)});
        } else if (name == QLatin1String("Plane")) {
            if (++planes > kMaxPlanes)
                return fail(QStringLiteral("OME-XML: too many planes"));
            OmePlane p;
            p.theZ = intAttr(a, "TheZ", 0);
            p.theC = intAttr(a, "TheC", 0);
            p.theT = intAttr(a, "TheT", 0);
            // Positions default to the stage's own frame, which is not a length we can use.
            const QString frame = QStringLiteral("reference frame");
            p.xUm = lengthAttr(a, "PositionX", frame);
            p.yUm = lengthAttr(a, "PositionY", frame);
            p.zUm = lengthAttr(a, "PositionZ", frame);
            p.hasPosition = std::isfinite(p.zUm);
            if (!std::isfinite(p.xUm))
                p.xUm = 0;
            if (!std::isfinite(p.yUm))
                p.yUm = 0;
            if (!p.hasPosition)
                p.zUm = 0;
            current->planes.append(p);
        }
    }
    if (r.hasError())
        return fail(QStringLiteral("OME-XML: %1 (line %2)").arg(r.errorString()).arg(r.lineNumber()));
    if (!sawOme)
        return fail(QStringLiteral("not an OME-XML document"));
    return true;
}

bool OmeXml::readDescription(const QByteArray& description, QVector<OmeImage>* images)
{
    return description.left(4096).contains("<OME") && read(description, images, nullptr) && !images->isEmpty();
}
