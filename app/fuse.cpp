// tessan-fuse: the all-in-focus picture and height map of a saved z-stack.

#include "imaging/FocusFusion.h"
#include "imaging/PictureFile.h"
#include "imaging/StackReader.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QSaveFile>
#include <cstdio>
#include <opencv2/imgproc.hpp>

namespace {

int failWith(const QString& message)
{
    std::fprintf(stderr, "tessan-fuse: %s\n", qPrintable(message));
    return 1;
}

// z of each plane in µm: the plane positions when every plane has one, else
// the z step times the index; in plane indices when the stack gives neither.
QVector<double> planeHeights(const OmeImage& meta, int count, bool* inMicrons)
{
    QVector<double> z(count);
    int positioned = 0;
    for (const OmePlane& p : meta.planes) {
        if (p.hasPosition && p.theC == 0 && p.theT == 0 && p.theZ >= 0 && p.theZ < count) {
            z[p.theZ] = p.zUm;
            ++positioned;
        }
    }
    *inMicrons = positioned == count || meta.physicalSizeZUm > 0;
    if (positioned != count) {
        const double step = meta.physicalSizeZUm > 0 ? meta.physicalSizeZUm : 1.0;
        for (int i = 0; i < count; ++i)
            z[i] = i * step;
    }
    return z;
}

// PNG keeps the picture's own depth (16-bit PNG for 16-bit stacks); JPEG
// holds 8 bits, stretched from the picture's darkest to brightest value.
bool writePicture(const QString& path, const FusionResult& result, bool separate, const OmeImage& meta, QString* error)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    const bool png = suffix == QLatin1String("png");
    if (!png && suffix != QLatin1String("jpg") && suffix != QLatin1String("jpeg"))
        return PictureFile::writeOmeTiff(path, result.image, separate, meta, nullptr, error);
    if (result.picture.isNull())
        return *error = QStringLiteral("%1 channels need OME-TIFF; PNG and JPEG hold grey or RGB pictures")
                            .arg(result.image.channels()),
               false;
    QImage picture = result.picture;
    const cv::Mat& image = result.image;
    if (png && image.depth() == CV_16U) {
        const bool grey = image.channels() == 1;
        picture = QImage(image.cols, image.rows, grey ? QImage::Format_Grayscale16 : QImage::Format_RGBX64);
        for (int r = 0; r < image.rows; ++r) {
            cv::Mat row(1, image.cols, grey ? CV_16UC1 : CV_16UC4, picture.scanLine(r));
            if (grey)
                image.row(r).copyTo(row);
            else
                cv::cvtColor(image.row(r), row, cv::COLOR_RGB2RGBA);
        }
    }
    QSaveFile file(path);
    QImageWriter writer(&file, png ? "PNG" : "JPEG");
    writer.setQuality(png ? -1 : 95);
    if (!file.open(QIODevice::WriteOnly) || !writer.write(picture) || !file.commit())
        return *error = writer.error() != QImageWriter::UnknownError ? writer.errorString() : file.errorString(), false;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessan-fuse"));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Fuses a z-stack (OME-TIFF, ImageJ or multi-page TIFF, RGB or grey, 8 or 16 bit, or several "
                       "grey channels) into one picture that is sharp wherever some plane was, at the stack's bit "
                       "depth, written as OME-TIFF, or as PNG or JPEG by the name's suffix. Channels are fused each "
                       "on its own, the planes chosen by their sum."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("STACK"), QStringLiteral("the z-stack to fuse"));
    const QCommandLineOption output(QStringList{"o", "output"},
                                    QStringLiteral("the all-in-focus picture to write (.ome.tif, .png or .jpg)"),
                                    QStringLiteral("OUT.ome.tif"));
    const QCommandLineOption heightMap(
        QStringLiteral("height-map"),
        QStringLiteral("also write the height map (µm, or plane indices when the stack has no z scale)"),
        QStringLiteral("H.ome.tif"));
    parser.addOption(output);
    parser.addOption(heightMap);
    if (!parser.parse(app.arguments())) {
        std::fprintf(stderr, "tessan-fuse: %s\n%s", qPrintable(parser.errorText()), qPrintable(parser.helpText()));
        return 2;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.positionalArguments().size() != 1 || !parser.isSet(output)) {
        std::fprintf(stderr, "%s", qPrintable(parser.helpText()));
        return 2;
    }
    const QString stackPath = parser.positionalArguments().first();
    const QString outPath = parser.value(output);
    const QString heightPath = parser.value(heightMap);
    if (QFileInfo(heightPath).absoluteFilePath() == QFileInfo(outPath).absoluteFilePath())
        return failWith(QStringLiteral("the picture and the height map need two file names"));

    StackReader reader;
    QString error;
    if (!reader.open(stackPath, &error))
        return failWith(error);
    if (reader.planeCount() < 2)
        return failWith(QStringLiteral("%1 holds a single picture, not a z-stack").arg(stackPath));
    const bool separate = reader.channelCount() > 1;

    const OmeImage meta = reader.meta();
    bool inMicrons = false;
    const QVector<double> z = planeHeights(meta, reader.planeCount(), &inMicrons);
    FocusFusion fusion;
    fusion.begin(reader.size(), separate ? FocusFusion::Sharpness::ChannelSum : FocusFusion::Sharpness::Luminance);
    for (int i = 0; i < reader.planeCount(); ++i) {
        cv::Mat plane;
        if (!reader.readPlane(i, &plane, &error))
            return failWith(QStringLiteral("%1: %2").arg(stackPath, error));
        if (!fusion.addPlane(plane, z[i]))
            return failWith(QStringLiteral("%1: plane %2 cannot be fused").arg(stackPath).arg(i + 1));
    }
    const FusionResult result = fusion.finish();

    OmeImage out;
    out.name = meta.name;
    out.acquired = meta.acquired;
    out.physicalSizeXUm = meta.physicalSizeXUm;
    out.physicalSizeYUm = meta.physicalSizeYUm;
    OmePlane where;
    if (!meta.planes.isEmpty())
        where = meta.planes.first();
    out.planes = {where};
    if (!writePicture(outPath, result, separate, out, &error))
        return failWith(QStringLiteral("%1: %2").arg(outPath, error));
    if (!heightPath.isEmpty()) {
        OmeImage height = out;
        height.name = (meta.name.isEmpty() ? QString() : meta.name + ' ') +
                      (inMicrons ? QStringLiteral("height (µm)") : QStringLiteral("height (plane index)"));
        if (!PictureFile::writeHeightOmeTiff(heightPath, result.heightUm, height, &error)) {
            // The two files belong together: no picture without its height map.
            QFile::remove(outPath);
            return failWith(QStringLiteral("%1: %2").arg(heightPath, error));
        }
    }
    return 0;
}
