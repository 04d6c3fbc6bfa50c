#include "imaging/StackFile.h"

#include "imaging/TiffFile.h"

#include <atomic>
#include <mutex>

struct StackFile::Private
{
    TiffFile tiff;
    OmeImage meta;
    int written = 0;
    bool open = false;
    // cancel() may come from another thread while a plane is being written:
    // then the writing call removes the file when it ends.
    std::mutex busy;
    std::atomic<bool> cancelled{false};

    void discard()
    {
        tiff.discard();
        open = false;
        written = 0;
    }
    bool refuse(QString* error)
    {
        if (open && !cancelled)
            return false;
        if (error)
            *error = cancelled ? QStringLiteral("cancelled") : QStringLiteral("no stack file open");
        discard();
        return true;
    }
};

StackFile::StackFile()
    : d(new Private)
{
}

StackFile::~StackFile() = default;

bool StackFile::begin(const QString& path, const OmeImage& meta, QString* error)
{
    const std::lock_guard<std::mutex> lock(d->busy);
    d->discard();
    d->cancelled = false;
    d->meta = meta;
    d->meta.samplesPerPixel = 3;
    d->meta.pixelType = QStringLiteral("uint8");
    d->meta.firstIfd = 0;
    d->meta.sizeZ = std::max(1, meta.sizeZ);
    d->meta.planes.resize(d->meta.sizeZ);
    for (int i = 0; i < d->meta.sizeZ; ++i)
        d->meta.planes[i].theZ = i;
    const double bytes = double(std::max(1, meta.sizeX)) * std::max(1, meta.sizeY) * 3 * std::max(1, meta.sizeZ);
    d->tiff.setPixelSize(meta.physicalSizeXUm, meta.physicalSizeYUm);
    d->open = d->tiff.openWrite(path, bytes > 3.5e9);
    if (!d->open && error)
        *error = d->tiff.error();
    return d->open;
}

bool StackFile::addPlane(const QImage& rgb, QString* error)
{
    const std::lock_guard<std::mutex> lock(d->busy);
    if (d->refuse(error))
        return false;
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
        d->discard();
        return false;
    }
    return !d->refuse(error);
}

bool StackFile::finish(QString* error)
{
    const std::lock_guard<std::mutex> lock(d->busy);
    if (d->refuse(error))
        return false;
    bool ok = d->written > 0;
    if (!ok)
        d->tiff.fail(QStringLiteral("the stack has no plane"));
    if (ok && d->written != d->meta.sizeZ) {
        d->meta.sizeZ = d->written;
        d->meta.planes.resize(d->written);
        for (int i = 0; i < d->written; ++i)
            d->meta.planes[i].theZ = i;
        ok = d->tiff.rewriteFirstDescription(OmeXml::write({d->meta}));
    }
    if (ok && d->cancelled)
        return !d->refuse(error);
    ok = ok && d->tiff.commit();
    if (!ok && error)
        *error = d->tiff.error();
    d->discard();
    return ok;
}

void StackFile::cancel()
{
    d->cancelled = true;
    std::unique_lock<std::mutex> lock(d->busy, std::try_to_lock);
    if (lock.owns_lock())
        d->discard();
}
