#include "imaging/PictureFile.h"

#include "imaging/TiffFile.h"

bool PictureFile::writeOmeTiff(const QString& path, const QImage& rgb, const OmeImage& meta, const cv::Mat* heightUm,
                               QString* error)
{
    const QImage img = rgb.convertToFormat(QImage::Format_RGB888);
    const cv::Mat view(img.height(), img.width(), CV_8UC3, const_cast<uchar*>(img.constBits()),
                       static_cast<size_t>(img.bytesPerLine()));
    return writeOmeTiff(path, img.isNull() ? cv::Mat() : view, false, meta, heightUm, error);
}

bool PictureFile::writeOmeTiff(const QString& path, const cv::Mat& picture, bool separate, const OmeImage& meta,
                               const cv::Mat* heightUm, QString* error)
{
    auto fail = [&](const QString& message) {
        if (error)
            *error = message;
        return false;
    };
    if (picture.empty() || (picture.depth() != CV_8U && picture.depth() != CV_16U))
        return fail(QStringLiteral("no picture to save"));
    if (heightUm && (heightUm->type() != CV_32FC1 || heightUm->cols != picture.cols || heightUm->rows != picture.rows))
        return fail(QStringLiteral("the height map does not match the picture"));

    const int pages = separate ? picture.channels() : 1;
    const QString type = picture.depth() == CV_16U ? QStringLiteral("uint16") : QStringLiteral("uint8");
    OmeImage image = meta.singlePlane(picture.cols, picture.rows, picture.channels() / pages, type);
    image.channels = pages;
    image.planes.resize(pages);
    for (int c = 0; c < pages; ++c) {
        image.planes[c] = image.planes[0];
        image.planes[c].theC = c;
    }
    QVector<OmeImage> images{image};
    if (heightUm) {
        OmeImage height = meta.singlePlane(picture.cols, picture.rows, 1, QStringLiteral("float"));
        height.name = meta.name.isEmpty() ? QStringLiteral("height (µm)") : meta.name + QStringLiteral(" height (µm)");
        height.firstIfd = pages;
        images.append(height);
    }

    TiffFile tiff;
    const double bytes = double(picture.total()) * (picture.elemSize() + (heightUm ? 4 : 0));
    tiff.setPixelSize(meta.physicalSizeXUm, meta.physicalSizeYUm);
    if (tiff.openWrite(path, bytes > 3.5e9)) {
        cv::Mat channel = picture;
        for (int c = 0; c < pages && !tiff.failed(); ++c) {
            if (separate)
                cv::extractChannel(picture, channel, c);
            tiff.writeImage(channel, c == 0 ? OmeXml::write(images) : QByteArray());
        }
        if (!tiff.failed() && heightUm)
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
