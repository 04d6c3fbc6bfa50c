#include "imaging/StackReader.h"

#include "imaging/StackLayout.h"
#include "imaging/TiffFile.h"

#include <QFileInfo>
#include <map>
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
            return *why = QStringLiteral("a strip or tile of %1 bytes in a file of %2 bytes")
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
        return *why = QStringLiteral("%1 x %2 pixels (%3 at most)")
                          .arg(page->width)
                          .arg(page->height)
                          .arg(StackReader::kMaxPixels),
               false;
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
    StackLayout layout;
    std::vector<Page> pages; // of channel c and plane z at c + channels * z
    OmeImage meta;

    bool readPage(const Page& page, cv::Mat* out, QString* error);
};

StackReader::StackReader()
    : d(new Private)
{
}

StackReader::~StackReader() = default;

int StackReader::planeCount() const
{
    return d->pages.empty() ? 0 : d->layout.sizeZ;
}

int StackReader::channelCount() const
{
    return d->layout.channels;
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

    // The first page's description says how the pages form the stack: the
    // first image of an OME document, ImageJ's hyperstack keys, or nothing,
    // and then every full-resolution page is a z-plane.
    const QByteArray text = d->tiff.description();
    uint16_t samples = 1;
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    QVector<OmeImage> images;
    QString why;
    const bool ome = OmeXml::readDescription(text, &images);
    const bool imageJ = !ome && text.startsWith("ImageJ=");
    StackLayout& layout = d->layout;
    if (ome)
        d->meta = images.first();
    if ((ome && !StackLayout::fromOme(d->meta, samples, kMaxPages, &layout, &why)) ||
        (imageJ && !StackLayout::fromImageJ(text, kMaxPages, &layout, &why)))
        return fail(QStringLiteral("%1: %2").arg(path, why));
    if (layout.sizeT > 1)
        return fail(QStringLiteral("%1 holds %2; a stack of one time point is fused").arg(path, layout.describe()));
    if (layout.channels > kMaxChannels || (layout.channels > 1 && samples != 1))
        return fail(QStringLiteral("%1 holds %2 of %3 samples per pixel; up to %4 channels of one sample are fused")
                        .arg(path, layout.describe())
                        .arg(samples)
                        .arg(kMaxChannels));
    const bool described = ome || imageJ;
    const int last = described ? *std::max_element(layout.pages.begin(), layout.pages.end()) : kMaxPages;
    std::vector<bool> wanted(described ? size_t(last) + 1 : 0); // the described pages, by directory
    for (const int page : layout.pages)
        wanted[size_t(page)] = true;

    std::map<int, Page> found; // by directory
    int dir = 0;
    for (; dir <= last; ++dir) {
        if (dir >= kMaxPages)
            return fail(QStringLiteral("%1: more than %2 pages").arg(path).arg(kMaxPages));
        if (dir > 0 && !TIFFReadDirectory(tif))
            break;
        uint32_t subfile = 0;
        TIFFGetFieldDefaulted(tif, TIFFTAG_SUBFILETYPE, &subfile);
        if (described ? !wanted[size_t(dir)] : (subfile & FILETYPE_REDUCEDIMAGE) != 0)
            continue;
        Page page;
        page.directory = static_cast<tdir_t>(dir);
        if (!readPage(tif, fileSize, &page, &why))
            return fail(QStringLiteral("%1: page %2 has %3").arg(path).arg(dir + 1).arg(why));
        const Page& first = found.empty() ? page : found.begin()->second;
        if (page.width != first.width || page.height != first.height)
            return fail(QStringLiteral("%1: the planes differ in size (page %2 is %3 x %4, the first %5 x %6)")
                            .arg(path)
                            .arg(dir + 1)
                            .arg(page.width)
                            .arg(page.height)
                            .arg(first.width)
                            .arg(first.height));
        found[dir] = page;
    }
    if (d->tiff.failed())
        return fail(QStringLiteral("%1: %2").arg(path, d->tiff.error()));
    if (found.empty())
        return fail(QStringLiteral("%1: no image in the file").arg(path));
    if (described && dir <= last)
        return fail(QStringLiteral("%1: the metadata names %2 in %3 pages, the file holds %4")
                        .arg(path, layout.describe())
                        .arg(last + 1)
                        .arg(dir));
    if (described) {
        for (const int page : layout.pages)
            d->pages.push_back(found.at(page));
    } else {
        layout = StackLayout::planes(int(found.size()));
        for (const auto& entry : found)
            d->pages.push_back(entry.second);
    }
    if (!ome) {
        d->meta = OmeImage();
        d->meta.name = QFileInfo(path).completeBaseName();
        d->meta.physicalSizeZUm = layout.zStepUm;
    }
    d->meta.sizeZ = layout.sizeZ;
    d->meta.channels = layout.channels;
    d->meta.sizeX = int(d->pages[0].width);
    d->meta.sizeY = int(d->pages[0].height);
    return true;
}

bool StackReader::readPlane(int index, cv::Mat* out, QString* error)
{
    if (index < 0 || index >= planeCount()) {
        if (error)
            *error = QStringLiteral("no plane %1").arg(index);
        return false;
    }
    const int channels = d->layout.channels;
    if (channels == 1)
        return d->readPage(d->pages[size_t(index)], out, error);
    std::vector<cv::Mat> parts(static_cast<size_t>(channels));
    for (int c = 0; c < channels; ++c) {
        if (!d->readPage(d->pages[size_t(c + channels * index)], &parts[size_t(c)], error))
            return false;
        if (parts[size_t(c)].channels() != 1 || parts[size_t(c)].depth() != parts[0].depth()) {
            if (error)
                *error = QStringLiteral("plane %1: channel %2 is not grey like the first").arg(index + 1).arg(c + 1);
            return false;
        }
    }
    cv::merge(parts, *out);
    return true;
}

bool StackReader::Private::readPage(const Page& page, cv::Mat* out, QString* error)
{
    auto fail = [&](const QString& message) {
        if (error)
            *error = message;
        return false;
    };
    const int index = int(page.directory); // for messages
    TIFF* tif = tiff.handle();
    if (!TIFFSetDirectory(tif, page.directory))
        return fail(QStringLiteral("page %1: %2").arg(index + 1).arg(tiff.error()));
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
                return fail(QStringLiteral("page %1: an unreadable tile layout").arg(index + 1));
            std::vector<uchar> tile(static_cast<size_t>(tileBytes));
            for (uint32_t y = 0; y < page.height; y += th)
                for (uint32_t x = 0; x < page.width; x += tw) {
                    if (TIFFReadTile(tif, tile.data(), x, y, 0, 0) < 0)
                        return fail(QStringLiteral("page %1: %2").arg(index + 1).arg(tiff.error()));
                    const int cw = int(std::min(tw, page.width - x)), ch = int(std::min(th, page.height - y));
                    cv::Mat(int(th), int(tw), type, tile.data())
                        .colRange(0, cw)
                        .rowRange(0, ch)
                        .copyTo(m(cv::Rect(int(x), int(y), cw, ch)));
                }
        } else {
            if (TIFFScanlineSize(tif) != tmsize_t(m.cols * m.elemSize()))
                return fail(QStringLiteral("page %1: an unreadable strip layout").arg(index + 1));
            for (int y = 0; y < h; ++y)
                if (TIFFReadScanline(tif, m.ptr(y), uint32_t(y), 0) < 0)
                    return fail(QStringLiteral("page %1: %2").arg(index + 1).arg(tiff.error()));
        }
        *out = m;
        return true;
    }
    // Palette, YCbCr, alpha, separate planes: libtiff's RGBA reader, 8 bits.
    cv::Mat rgba(h, w, CV_8UC4);
    if (!TIFFReadRGBAImageOriented(tif, uint32_t(w), uint32_t(h), rgba.ptr<uint32_t>(), ORIENTATION_TOPLEFT, 0))
        return fail(QStringLiteral("page %1: %2").arg(index + 1).arg(tiff.error()));
    cv::Mat rgb(h, w, CV_8UC3);
    const int fromTo[] = {0, 0, 1, 1, 2, 2};
    cv::mixChannels(&rgba, 1, &rgb, 1, fromTo, 3);
    *out = rgb;
    return true;
}
