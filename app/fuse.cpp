// tessan-fuse: the all-in-focus picture and height map of a saved z-stack.

#include "imaging/FocusFusion.h"
#include "imaging/PictureFile.h"
#include "imaging/StackReader.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <cstdio>

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

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessan-fuse"));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Fuses a z-stack (OME-TIFF or multi-page TIFF, RGB or grey, 8 or 16 bit) into one picture "
                       "that is sharp wherever some plane was, written as OME-TIFF."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("STACK"), QStringLiteral("the z-stack to fuse"));
    const QCommandLineOption output(QStringList{"o", "output"}, QStringLiteral("the all-in-focus picture to write"),
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
    if (reader.channelCount() > 1)
        return failWith(QStringLiteral("%1 holds %2 channels × %3 z-planes; one-channel stacks are fused")
                            .arg(stackPath)
                            .arg(reader.channelCount())
                            .arg(reader.planeCount()));

    const OmeImage meta = reader.meta();
    bool inMicrons = false;
    const QVector<double> z = planeHeights(meta, reader.planeCount(), &inMicrons);
    FocusFusion fusion;
    fusion.begin(reader.size());
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
    if (!PictureFile::writeOmeTiff(outPath, result.picture, out, nullptr, &error))
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
