#include "imaging/StackFile.h"

#include "imaging/TiffFile.h"

struct StackFile::Private
{
    TiffFile tiff;
    OmeImage meta;
    int written = 0;
    bool open = false;
};

StackFile::StackFile()
    : d(new Private)
{
}

StackFile::~StackFile() = default;

bool StackFile::begin(const QString& path, const OmeImage& meta, QString* error)
{
    cancel();
    d->meta = meta;
    d->meta.samplesPerPixel = 3;
    d->meta.pixelType = QStringLiteral("uint8");
    d->meta.firstIfd = 0;
    d->meta.sizeZ = std::max(1, meta.sizeZ);
    d->meta.planes.resize(d->meta.sizeZ);
    for (int i = 0; i < d->meta.sizeZ; ++i)
        d->meta.planes[i].theZ = i;
    const double bytes = double(std::max(1, meta.sizeX)) * std::max(1, meta.sizeY) * 3 * std::max(1, meta.sizeZ);
    d->open = d->tiff.openWrite(path, bytes > 3.5e9);
    if (!d->open && error)
        *error = d->tiff.error();
    return d->open;
}

bool StackFile::addPlane(const QImage& rgb, QString* error)
{
    if (!d->open) {
        if (error)
            *error = QStringLiteral("no stack file open");
        return false;
    }
    const QImage img = rgb.convertToFormat(QImage::Format_RGB888);
    if (img.isNull())
        d->tiff.fail(QStringLiteral("empty plane"));
    else if (d->written == 0) {
        d->meta.sizeX = img.width();
        d->meta.sizeY = img.height();
    } else if (img.width() != d->meta.sizeX || img.height() != d->meta.sizeY) {
        d->tiff.fail(QStringLiteral("plane %1 is %2 x %3 pixels, the first was %4 x %5")
                         .arg(d->written + 1)
                         .arg(img.width())
                         .arg(img.height())
                         .arg(d->meta.sizeX)
                         .arg(d->meta.sizeY));
    }
    if (!d->tiff.failed()) {
        const cv::Mat view(img.height(), img.width(), CV_8UC3, const_cast<uchar*>(img.constBits()),
                           static_cast<size_t>(img.bytesPerLine()));
        // The first directory gets the document as announced; finish() corrects it
        // if the stack ends with another plane count.
        if (d->tiff.writeImage(view, d->written == 0 ? OmeXml::write({d->meta}) : QByteArray()))
            ++d->written;
    }
    if (d->tiff.failed()) {
        if (error)
            *error = d->tiff.error();
        cancel();
        return false;
    }
    return true;
}

bool StackFile::finish(QString* error)
{
    bool ok = d->open && d->written > 0;
    if (!ok)
        d->tiff.fail(QStringLiteral("the stack has no plane"));
    if (ok && d->written != d->meta.sizeZ) {
        d->meta.sizeZ = d->written;
        d->meta.planes.resize(d->written);
        for (int i = 0; i < d->written; ++i)
            d->meta.planes[i].theZ = i;
        ok = d->tiff.rewriteFirstDescription(OmeXml::write({d->meta}));
    }
    ok = ok && d->tiff.commit();
    if (!ok && error)
        *error = d->tiff.error();
    d->open = false;
    d->tiff.discard();
    return ok;
}

void StackFile::cancel()
{
    d->tiff.discard();
    d->open = false;
    d->written = 0;
}
