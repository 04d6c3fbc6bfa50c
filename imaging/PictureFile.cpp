#include "imaging/PictureFile.h"

#include "imaging/TiffFile.h"

bool PictureFile::writeOmeTiff(const QString& path, const QImage& rgb, const OmeImage& meta, const cv::Mat* heightUm,
                               QString* error)
{
    auto fail = [&](const QString& message) {
        if (error)
            *error = message;
        return false;
    };
    const QImage img = rgb.convertToFormat(QImage::Format_RGB888);
    if (img.isNull())
        return fail(QStringLiteral("no picture to save"));
    if (heightUm && (heightUm->type() != CV_32FC1 || heightUm->cols != img.width() || heightUm->rows != img.height()))
        return fail(QStringLiteral("the height map does not match the picture"));

    const OmeImage picture = meta.singlePlane(img.width(), img.height(), 3, QStringLiteral("uint8"));
    QVector<OmeImage> images{picture};
    if (heightUm) {
        OmeImage height = picture;
        height.name = meta.name.isEmpty() ? QStringLiteral("height (µm)") : meta.name + QStringLiteral(" height (µm)");
        height.samplesPerPixel = 1;
        height.pixelType = QStringLiteral("float");
        height.firstIfd = 1;
        images.append(height);
    }

    TiffFile tiff;
    const double bytes = double(img.width()) * img.height() * (heightUm ? 7 : 3);
    tiff.setPixelSize(meta.physicalSizeXUm, meta.physicalSizeYUm);
    if (tiff.openWrite(path, bytes > 3.5e9)) {
        const cv::Mat view(img.height(), img.width(), CV_8UC3, const_cast<uchar*>(img.constBits()),
                           static_cast<size_t>(img.bytesPerLine()));
        if (tiff.writeImage(view, OmeXml::write(images)) && heightUm)
            tiff.writeImage(*heightUm, QByteArray());
        tiff.commit();
    }
    return tiff.failed() ? fail(tiff.error()) : true;
}

bool PictureFile::writeHeightOmeTiff(const QString& path, const cv::Mat& height, const OmeImage& meta, QString* error)
{
    if (height.type() != CV_32FC1 || height.empty()) {
        if (error)
            *error = QStringLiteral("no height map to save");
        return false;
    }
    const OmeImage image = meta.singlePlane(height.cols, height.rows, 1, QStringLiteral("float"));
    TiffFile tiff;
    tiff.setPixelSize(meta.physicalSizeXUm, meta.physicalSizeYUm);
    if (tiff.openWrite(path, false) && tiff.writeImage(height, OmeXml::write({image})))
        tiff.commit();
    if (tiff.failed() && error)
        *error = tiff.error();
    return !tiff.failed();
}
