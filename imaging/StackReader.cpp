#include "imaging/StackReader.h"

#include "imaging/TiffFile.h"

#include <QFileInfo>
#include <tiffio.h>
#include <vector>

namespace {

struct Page
{
    tdir_t directory = 0;
    uint32_t width = 0, height = 0;
    uint16_t samples = 1, bits = 8, photometric = PHOTOMETRIC_MINISBLACK, planar = PLANARCONFIG_CONTIG;
    uint16_t format = SAMPLEFORMAT_UINT;
};

uint32_t roundUp16(uint32_t v)
{
    return uint32_t((uint64_t(v) + 15) / 16 * 16);
}

// Tiles no larger than the page rounded up to 16 (TIFF's tile granularity)
// and no strip or tile said to hold more bytes than the file has: the sizes
// the reader allocates for follow from these.
bool checkChunks(TIFF* tif, const Page& page, qint64 fileSize, QString* why)
{
    if (TIFFIsTiled(tif)) {
        uint32_t tw = 0, th = 0;
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &th);
        if (tw == 0 || th == 0 || tw % 16 || th % 16 || tw > roundUp16(page.width) || th > roundUp16(page.height))
            return *why = QStringLiteral("tiles of %1 x %2 pixels for a page of %3 x %4")
                              .arg(tw)
                              .arg(th)
                              .arg(page.width)
                              .arg(page.height),
                   false;
    }
    // libtiff derives the number of strips and tiles from the sizes checked above
    const uint32_t chunks = TIFFIsTiled(tif) ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    for (uint32_t i = 0; i < chunks; ++i) {
        if (TIFFGetStrileByteCount(tif, i) > uint64_t(fileSize))
            return *why = QStringLiteral("a strip or tile of %1 bytes in a file of %2")
                              .arg(TIFFGetStrileByteCount(tif, i))
                              .arg(fileSize),
                   false;
    }
    return true;
}

// Tags of the current directory; false for what we do not read.
bool readPage(TIFF* tif, qint64 fileSize, Page* page, QString* why)
{
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &page->width) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &page->height))
        return *why = QStringLiteral("a page without size"), false;
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &page->samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &page->bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &page->planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &page->format);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &page->photometric))
        page->photometric = page->samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    if (page->width == 0 || page->height == 0 || qint64(page->width) * page->height > StackReader::kMaxPixels)
        return *why = QStringLiteral("a page of %1 x %2 pixels").arg(page->width).arg(page->height), false;
    if (page->format != SAMPLEFORMAT_UINT || (page->bits != 8 && page->bits != 16))
        return *why = QStringLiteral("%1-bit samples (8 or 16-bit integers are read)").arg(page->bits), false;
    if (page->samples != 1 && page->samples != 3 && page->samples != 4)
        return *why = QStringLiteral("%1 samples per pixel").arg(page->samples), false;
    return checkChunks(tif, *page, fileSize, why);
}

} // namespace

struct StackReader::Private
{
    TiffFile tiff;
    std::vector<Page> pages;
    OmeImage meta;
};

StackReader::StackReader()
    : d(new Private)
{
}

StackReader::~StackReader() = default;

int StackReader::planeCount() const
{
    return static_cast<int>(d->pages.size());
}

QSize StackReader::size() const
{
    return d->pages.empty() ? QSize() : QSize(int(d->pages[0].width), int(d->pages[0].height));
}

OmeImage StackReader::meta() const
{
    return d->meta;
}

bool StackReader::open(const QString& path, QString* error)
{
    d.reset(new Private);
    auto fail = [&](const QString& message) {
        if (error)
            *error = message;
        d.reset(new Private);
        return false;
    };
    if (!QFileInfo(path).isFile())
        return fail(QStringLiteral("%1: no such file").arg(path));
    if (!QFileInfo(path).isReadable())
        return fail(QStringLiteral("%1: not readable").arg(path));
    const qint64 fileSize = QFileInfo(path).size();
    if (!d->tiff.openRead(path, kMaxChunkBytes))
        return fail(QStringLiteral("%1: %2").arg(path, d->tiff.error()));
    TIFF* tif = d->tiff.handle();

    // The first image of an OME document names the pages of the stack;
    // without one, every full-resolution page is a plane.
    char* description = nullptr;
    QVector<OmeImage> images;
    if (TIFFGetField(tif, TIFFTAG_IMAGEDESCRIPTION, &description) && description &&
        QByteArray::fromRawData(description, qstrnlen(description, 4096)).contains("<OME") &&
        OmeXml::read(QByteArray(description), &images, nullptr) && !images.isEmpty())
        d->meta = images.first();
    const bool ome = !images.isEmpty();
    if (ome && d->meta.pagesPerZ != 1)
        return fail(
            QStringLiteral("%1: several channels or time points; only one-channel z-stacks are read").arg(path));
    const int first = ome ? d->meta.firstIfd : 0;
    const int wanted = ome ? d->meta.sizeZ : kMaxPages;

    QString why;
    for (int dir = 0; d->pages.size() < size_t(wanted); ++dir) {
        if (dir >= kMaxPages)
            return fail(QStringLiteral("%1: more than %2 pages").arg(path).arg(kMaxPages));
        if (dir > 0 && !TIFFReadDirectory(tif))
            break;
        if (dir < first)
            continue;
        uint32_t subfile = 0;
        TIFFGetFieldDefaulted(tif, TIFFTAG_SUBFILETYPE, &subfile);
        if (!ome && (subfile & FILETYPE_REDUCEDIMAGE))
            continue;
        Page page;
        page.directory = static_cast<tdir_t>(dir);
        if (!readPage(tif, fileSize, &page, &why))
            return fail(QStringLiteral("%1: page %2 has %3").arg(path).arg(dir + 1).arg(why));
        if (!d->pages.empty() && (page.width != d->pages[0].width || page.height != d->pages[0].height))
            return fail(QStringLiteral("%1: the planes differ in size (page %2 is %3 x %4, the first %5 x %6)")
                            .arg(path)
                            .arg(dir + 1)
                            .arg(page.width)
                            .arg(page.height)
                            .arg(d->pages[0].width)
                            .arg(d->pages[0].height));
        d->pages.push_back(page);
    }
    if (d->tiff.failed())
        return fail(QStringLiteral("%1: %2").arg(path, d->tiff.error()));
    if (d->pages.empty())
        return fail(QStringLiteral("%1: no image in the file").arg(path));
    if (ome && d->pages.size() != size_t(d->meta.sizeZ))
        return fail(QStringLiteral("%1: the OME metadata names %2 planes, the file holds %3")
                        .arg(path)
                        .arg(d->meta.sizeZ)
                        .arg(d->pages.size()));
    if (!ome) {
        d->meta = OmeImage();
        d->meta.name = QFileInfo(path).completeBaseName();
        d->meta.sizeZ = planeCount();
    }
    d->meta.sizeX = int(d->pages[0].width);
    d->meta.sizeY = int(d->pages[0].height);
    return true;
}

bool StackReader::readPlane(int index, cv::Mat* out, QString* error)
{
    auto fail = [&](const QString& message) {
        if (error)
            *error = message;
        return false;
    };
    if (index < 0 || index >= planeCount())
        return fail(QStringLiteral("no plane %1").arg(index));
    const Page& page = d->pages[size_t(index)];
    TIFF* tif = d->tiff.handle();
    if (!TIFFSetDirectory(tif, page.directory))
        return fail(QStringLiteral("plane %1: %2").arg(index + 1).arg(d->tiff.error()));
    const int w = int(page.width), h = int(page.height);
    const bool direct = page.planar == PLANARCONFIG_CONTIG && page.samples != 4 &&
                        (page.photometric == PHOTOMETRIC_MINISBLACK || page.photometric == PHOTOMETRIC_RGB) &&
                        (page.photometric == PHOTOMETRIC_RGB) == (page.samples == 3);
    if (direct) {
        const int type = CV_MAKETYPE(page.bits == 16 ? CV_16U : CV_8U, page.samples);
        cv::Mat m(h, w, type);
        if (TIFFIsTiled(tif)) {
            uint32_t tw = 0, th = 0;
            TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw);
            TIFFGetField(tif, TIFFTAG_TILELENGTH, &th);
            const tmsize_t tileBytes = TIFFTileSize(tif);
            if (tw == 0 || th == 0 || tileBytes != tmsize_t(tw) * th * tmsize_t(m.elemSize()))
                return fail(QStringLiteral("plane %1: an unreadable tile layout").arg(index + 1));
            std::vector<uchar> tile(static_cast<size_t>(tileBytes));
            for (uint32_t y = 0; y < page.height; y += th)
                for (uint32_t x = 0; x < page.width; x += tw) {
                    if (TIFFReadTile(tif, tile.data(), x, y, 0, 0) < 0)
                        return fail(QStringLiteral("plane %1: %2").arg(index + 1).arg(d->tiff.error()));
                    const int cw = int(std::min(tw, page.width - x)), ch = int(std::min(th, page.height - y));
                    cv::Mat(int(th), int(tw), type, tile.data())
                        .colRange(0, cw)
                        .rowRange(0, ch)
                        .copyTo(m(cv::Rect(int(x), int(y), cw, ch)));
                }
        } else {
            if (TIFFScanlineSize(tif) != tmsize_t(m.cols * m.elemSize()))
                return fail(QStringLiteral("plane %1: an unreadable strip layout").arg(index + 1));
            for (int y = 0; y < h; ++y)
                if (TIFFReadScanline(tif, m.ptr(y), uint32_t(y), 0) < 0)
                    return fail(QStringLiteral("plane %1: %2").arg(index + 1).arg(d->tiff.error()));
        }
        *out = m;
        return true;
    }
    // Palette, YCbCr, alpha, separate planes: libtiff's RGBA reader, 8 bits.
    cv::Mat rgba(h, w, CV_8UC4);
    if (!TIFFReadRGBAImageOriented(tif, uint32_t(w), uint32_t(h), rgba.ptr<uint32_t>(), ORIENTATION_TOPLEFT, 0))
        return fail(QStringLiteral("plane %1: %2").arg(index + 1).arg(d->tiff.error()));
    cv::Mat rgb(h, w, CV_8UC3);
    const int fromTo[] = {0, 0, 1, 1, 2, 2};
    cv::mixChannels(&rgba, 1, &rgb, 1, fromTo, 3);
    *out = rgb;
    return true;
}
