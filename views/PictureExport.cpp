#include "views/PictureExport.h"

#include "imaging/PictureFile.h"

#include <QImageWriter>
#include <QSaveFile>

PictureExport::Format PictureExport::formatOf(const QString& fileName, Format otherwise)
{
    const QString name = fileName.toLower();
    if (name.endsWith(QLatin1String(".jpg")) || name.endsWith(QLatin1String(".jpeg")))
        return Jpeg;
    if (name.endsWith(QLatin1String(".png")))
        return Png;
    if (name.endsWith(QLatin1String(".tif")) || name.endsWith(QLatin1String(".tiff")))
        return OmeTiff;
    return otherwise;
}

bool PictureExport::hasPictureSuffix(const QString& fileName)
{
    return formatOf(fileName, Jpeg) != Jpeg || formatOf(fileName, Png) != Png;
}

QString PictureExport::suffixOf(Format format)
{
    switch (format) {
    case Png:
        return QStringLiteral("png");
    case OmeTiff:
        return QStringLiteral("ome.tif");
    case Jpeg:
        break;
    }
    return QStringLiteral("jpg");
}

QString PictureExport::write(const QString& path, Format format, const QImage& picture, const QString& text,
                             const OmeImage& meta, const cv::Mat* heightUm)
{
    if (picture.isNull())
        return QStringLiteral("there is no picture to save");
    QString error;
    if (format == OmeTiff) {
        if (!PictureFile::writeOmeTiff(path, picture.convertToFormat(QImage::Format_RGB888), meta, heightUm, &error))
            return error.isEmpty() ? QStringLiteral("the TIFF file could not be written") : error;
        return QString();
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    QImageWriter writer(&file, format == Png ? "PNG" : "JPEG");
    if (format == Jpeg)
        writer.setQuality(jpegQuality);
    // Qt writes the text as a JPEG comment or as a PNG text chunk.
    writer.setText(textKey(), text);
    if (!writer.write(picture)) {
        file.cancelWriting();
        return writer.errorString();
    }
    if (!file.commit())
        return file.errorString();
    return QString();
}
