#include "imaging/TileReader.h"

#include "imaging/StackLayout.h"
#include "imaging/TiffFile.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QPointF>
#include <algorithm>
#include <map>
#include <mutex>
#include <opencv2/imgproc.hpp>
#include <tiffio.h>
#include <vector>

namespace {

// One level of a TIFF page as libtiff describes it, and where its directory lies.
struct TiffLevel
{
    uint64_t ifdOffset = 0;
    uint32_t width = 0, height = 0, tileW = 0, tileH = 0, rowsPerStrip = 0;
    uint16_t samples = 1, bits = 8, photometric = PHOTOMETRIC_MINISBLACK, planar = PLANARCONFIG_CONTIG;
    uint16_t format = SAMPLEFORMAT_UINT;
    bool tiled = false;
    bool direct = false; // read as stored; else through libtiff's RGBA reader
    int type = CV_8UC3;
};

QString sizeText(uint32_t w, uint32_t h)
{
    return QStringLiteral("%1 x %2").arg(w).arg(h);
}

// The tags of the current directory, checked against the limits before any read.
bool readLevel(TIFF* tif, TiffLevel* l, QString* why)
{
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &l->width) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &l->height))
        return *why = QStringLiteral("an image without size"), false;
    if (l->width == 0 || l->height == 0 || l->width > uint32_t(TileReader::kMaxSide) ||
        l->height > uint32_t(TileReader::kMaxSide))
        return *why = QStringLiteral("an image of %1 pixels (%2 at most each way)")
                          .arg(sizeText(l->width, l->height))
                          .arg(TileReader::kMaxSide),
               false;
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &l->samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &l->bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &l->planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &l->format);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &l->photometric))
        l->photometric = l->samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    const bool isFloat = l->format == SAMPLEFORMAT_IEEEFP && l->bits == 32 && l->samples == 1;
    const bool isUint = l->format == SAMPLEFORMAT_UINT && (l->bits == 8 || l->bits == 16);
    if (!isFloat && !isUint)
        return *why = QStringLiteral("%1-bit samples (8 or 16-bit integers or 32-bit floats are read)").arg(l->bits),
               false;
    if (l->samples != 1 && l->samples != 3 && l->samples != 4)
        return *why = QStringLiteral("%1 samples per pixel (1, 3 or 4 are read)").arg(l->samples), false;
    l->direct = l->planar == PLANARCONFIG_CONTIG && ((l->photometric == PHOTOMETRIC_MINISBLACK && l->samples == 1) ||
                                                     (l->photometric == PHOTOMETRIC_RGB && l->samples == 3));
    if (isFloat && !l->direct)
        return *why = QStringLiteral("floats in a layout other than one grey sample"), false;
    l->type = l->direct ? CV_MAKETYPE(isFloat ? CV_32F : l->bits == 16 ? CV_16U : CV_8U, l->samples) : CV_8UC3;
    l->tiled = TIFFIsTiled(tif);
    tmsize_t chunk = 0;
    if (l->tiled) {
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &l->tileW);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &l->tileH);
        if (l->tileW == 0 || l->tileH == 0 || l->tileW % 16 || l->tileH % 16 ||
            l->tileW > uint32_t(TileReader::kMaxTileSide) || l->tileH > uint32_t(TileReader::kMaxTileSide))
            return *why = QStringLiteral("tiles of %1 pixels (multiples of 16, %2 at most)")
                              .arg(sizeText(l->tileW, l->tileH))
                              .arg(TileReader::kMaxTileSide),
                   false;
        chunk = l->direct ? TIFFTileSize(tif) : tmsize_t(l->tileW) * l->tileH * 4;
    } else {
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &l->rowsPerStrip);
        l->rowsPerStrip = std::max<uint32_t>(1, std::min(l->rowsPerStrip, l->height));
        chunk = l->direct ? TIFFStripSize(tif) : tmsize_t(l->width) * l->rowsPerStrip * 4;
        l->tileW = l->tileH = TileReader::kVirtualTile;
    }
    if (chunk <= 0 || chunk > TileReader::kMaxChunkBytes)
        return *why = QStringLiteral("strips or tiles of %1 bytes (%2 at most)")
                          .arg(chunk)
                          .arg(TileReader::kMaxChunkBytes),
               false;
    return true;
}

// A reduced level rounds each side of the one above up or down to half.
bool halves(uint32_t above, uint32_t below)
{
    return below == above / 2 || below == (above + 1) / 2;
}

cv::Mat cropped(const cv::Mat& m, int w, int h)
{
    // A whole tile is handed on as read: a copy costs as much as a fast decode.
    if (w >= m.cols && h >= m.rows)
        return m;
    return m(cv::Rect(0, 0, std::min(w, m.cols), std::min(h, m.rows))).clone();
}

} // namespace

struct TileReader::Private
{
    struct Page
    {
        tdir_t dir = 0;
        QVector<TiffLevel> tiff;
        QVector<Level> levels;
    };

    QString path;
    qint64 fileSize = 0;
    std::vector<Page> pages;
    QVector<int> planePages; // the page of channel c and plane z at [c + channels * z]
    int channels = 1, planes = 0, height = -1;
    OmeImage meta;
    QString comment;
    std::vector<cv::Mat> picture; // a PNG or JPEG, all its levels

    // libtiff handles are not shared between threads: each read borrows one.
    mutable std::mutex poolMutex;
    mutable std::vector<std::unique_ptr<TiffFile>> pool;

    bool openTiff(QString* why);
    bool openPicture(QString* why);
    bool readPageLevels(TIFF* tif, tdir_t dir, Page* page, QString* why);
    // A handle, one already on the directory at `ifdOffset` when there is one.
    std::unique_ptr<TiffFile> borrow(uint64_t ifdOffset, QString* error) const;
    void giveBack(std::unique_ptr<TiffFile> tiff) const;
    bool readTiffTile(TIFF* tif, const TiffLevel& l, QPoint tile, cv::Mat* out, QString* why) const;
};

TileReader::TileReader()
    : d(new Private)
{
}

TileReader::~TileReader() = default;

int TileReader::planeCount() const
{
    return d->planes;
}

int TileReader::channelCount() const
{
    return d->channels;
}

int TileReader::pageOf(int channel, int plane) const
{
    const int i = channel + d->channels * plane;
    return channel < 0 || channel >= d->channels || i < 0 || i >= d->planePages.size() ? -1 : d->planePages[i];
}

int TileReader::heightPage() const
{
    return d->height;
}

const QVector<TileReader::Level>& TileReader::levels(int page) const
{
    static const QVector<Level> none;
    return page < 0 || size_t(page) >= d->pages.size() ? none : d->pages[size_t(page)].levels;
}

int TileReader::pixelType(int page) const
{
    if (!d->picture.empty())
        return d->picture[0].type();
    return page < 0 || size_t(page) >= d->pages.size() ? CV_8UC3 : d->pages[size_t(page)].tiff[0].type;
}

const OmeImage& TileReader::meta() const
{
    return d->meta;
}

const QString& TileReader::comment() const
{
    return d->comment;
}

bool TileReader::hasStagePosition() const
{
    return !d->meta.planes.isEmpty() && d->meta.planes[0].hasPosition;
}

QPointF TileReader::stagePositionUm() const
{
    return hasStagePosition() ? QPointF(d->meta.planes[0].xUm, d->meta.planes[0].yUm) : QPointF();
}

bool TileReader::open(const QString& path, QString* error)
{
    d.reset(new Private);
    const QFileInfo info(path);
    QString why;
    QFile file(path);
    if (!info.isFile())
        why = QStringLiteral("no such file");
    else if (!file.open(QIODevice::ReadOnly))
        why = QStringLiteral("not readable (%1)").arg(file.errorString());
    if (why.isEmpty()) {
        d->path = path;
        d->fileSize = info.size();
        const QByteArray magic = file.read(4);
        const bool tiff = magic == QByteArray("II*\0", 4) || magic == QByteArray("MM\0*", 4) ||
                          magic == QByteArray("II+\0", 4) || magic == QByteArray("MM\0+", 4);
        if (tiff ? d->openTiff(&why) : d->openPicture(&why)) {
            if (d->meta.name.isEmpty())
                d->meta.name = info.completeBaseName();
            return true;
        }
    }
    if (error)
        *error = why;
    d.reset(new Private);
    return false;
}

bool TileReader::Private::openPicture(QString* why)
{
    QImageReader reader(path);
    if (!reader.canRead())
        return *why = QStringLiteral("not a picture that can be read (TIFF, PNG or JPEG)"), false;
    const QSize size = reader.size();
    if (size.isEmpty() || qint64(size.width()) * size.height() > kMaxPicturePixels)
        return *why = QStringLiteral("a picture of %1 x %2 pixels (%3 at most)")
                          .arg(size.width())
                          .arg(size.height())
                          .arg(kMaxPicturePixels),
               false;
    for (const QString& key : reader.textKeys())
        comment += (comment.isEmpty() ? QString() : QStringLiteral("\n")) + reader.text(key);
    QImage image = reader.read();
    if (image.isNull())
        return *why = reader.errorString(), false;
    const bool grey = image.isGrayscale();
    image = image.convertToFormat(grey ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    picture.push_back(
        cv::Mat(image.height(), image.width(), grey ? CV_8UC1 : CV_8UC3, image.bits(), size_t(image.bytesPerLine()))
            .clone());
    // Levels as a pyramid file has them, so the view treats both alike.
    while (std::max(picture.back().cols, picture.back().rows) > 1024) {
        cv::Mat half;
        cv::resize(picture.back(), half, cv::Size((picture.back().cols + 1) / 2, (picture.back().rows + 1) / 2), 0, 0,
                   cv::INTER_AREA);
        picture.push_back(half);
    }
    Page page;
    for (const cv::Mat& m : picture)
        page.levels.append({QSize(m.cols, m.rows), QSize(kVirtualTile, kVirtualTile)});
    pages.push_back(page);
    planePages = {0};
    planes = 1;
    meta.sizeX = size.width();
    meta.sizeY = size.height();
    return true;
}

bool TileReader::Private::readPageLevels(TIFF* tif, tdir_t dir, Page* page, QString* why)
{
    page->dir = dir;
    TiffLevel top;
    if (!readLevel(tif, &top, why))
        return false;
    top.ifdOffset = TIFFCurrentDirOffset(tif);
    page->tiff.append(top);
    uint16_t count = 0;
    uint64_t* offsets = nullptr;
    std::vector<uint64_t> subs;
    if (TIFFGetField(tif, TIFFTAG_SUBIFD, &count, &offsets) && offsets)
        subs.assign(offsets, offsets + count);
    if (subs.size() > size_t(kMaxLevels))
        return *why = QStringLiteral("%1 reduced levels (%2 at most)").arg(subs.size()).arg(kMaxLevels), false;
    for (const uint64_t offset : subs) {
        if (offset == 0 || offset >= uint64_t(fileSize) || !TIFFSetSubDirectory(tif, offset))
            return *why = QStringLiteral("a reduced level that cannot be read"), false;
        TiffLevel l;
        if (!readLevel(tif, &l, why))
            return *why = QStringLiteral("reduced level %1: %2").arg(page->tiff.size()).arg(*why), false;
        l.ifdOffset = offset;
        page->tiff.append(l);
    }
    if (!subs.empty() && !TIFFSetDirectory(tif, dir))
        return *why = QStringLiteral("page %1 cannot be read again").arg(dir + 1), false;
    return true;
}

bool TileReader::Private::openTiff(QString* why)
{
    auto first = std::make_unique<TiffFile>();
    if (!first->openRead(path, kMaxChunkBytes))
        return *why = first->error(), false;
    TIFF* tif = first->handle();
    const QByteArray text = first->description();
    uint16_t samples = 1;
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    QVector<OmeImage> images;
    const bool ome = OmeXml::readDescription(text, &images);
    const bool imageJ = !ome && text.startsWith("ImageJ=");
    StackLayout layout, heightLayout;
    const bool heightAlone = ome && images[0].pixelType == QLatin1String("float");
    const bool heightBeside = ome && !heightAlone && images.size() > 1 && images[1].pixelType == QLatin1String("float");
    if (ome && !StackLayout::fromOme(images[0], heightAlone ? 1 : samples, kMaxPages, &layout, why))
        return false;
    if (heightBeside && !StackLayout::fromOme(images[1], 1, kMaxPages, &heightLayout, why))
        return false;
    if (imageJ && !StackLayout::fromImageJ(text, kMaxPages, &layout, why))
        return false;
    if (ome)
        meta = images[0];
    else if (!text.isEmpty() && !imageJ)
        comment = QString::fromUtf8(text);

    // The directories the layout names, or every full-resolution page; a
    // reduced page right after one (pyramids without SubIFDs) is its next level.
    QVector<int> wanted = layout.pages;
    if (heightBeside)
        wanted.append(heightLayout.pages.value(0));
    const bool described = ome || imageJ;
    if (described && wanted.isEmpty())
        return *why = QStringLiteral("metadata that names no page"), false;
    const int last = described ? *std::max_element(wanted.begin(), wanted.end()) : kMaxPages - 1;
    std::map<int, int> pageOfDir;
    for (int dir = 0; dir <= last; ++dir) {
        if (dir > 0 && !TIFFReadDirectory(tif))
            break;
        if (dir == kMaxPages - 1 && !described && !TIFFLastDirectory(tif))
            return *why = QStringLiteral("more than %1 pages").arg(kMaxPages), false;
        uint32_t subfile = 0;
        TIFFGetFieldDefaulted(tif, TIFFTAG_SUBFILETYPE, &subfile);
        const bool reduced = (subfile & FILETYPE_REDUCEDIMAGE) != 0;
        if (described ? !wanted.contains(dir) : reduced) {
            if (!described && reduced && !pages.empty() && pages.back().tiff.size() < kMaxLevels) {
                TiffLevel l;
                if (!readLevel(tif, &l, why))
                    return *why = QStringLiteral("page %1 has %2").arg(dir + 1).arg(*why), false;
                l.ifdOffset = TIFFCurrentDirOffset(tif);
                pages.back().tiff.append(l);
            }
            continue;
        }
        Page page;
        if (!readPageLevels(tif, tdir_t(dir), &page, why))
            return *why = QStringLiteral("page %1 has %2").arg(dir + 1).arg(*why), false;
        pageOfDir[dir] = int(pages.size());
        pages.push_back(page);
    }
    if (first->failed())
        return *why = first->error(), false;
    for (const int dir : wanted)
        if (!pageOfDir.count(dir))
            return *why = QStringLiteral("the metadata names page %1, the file holds fewer").arg(dir + 1), false;
    if (pages.empty())
        return *why = QStringLiteral("no image in the file"), false;

    for (Page& page : pages) {
        const TiffLevel& top = page.tiff[0];
        for (int i = 0; i < page.tiff.size(); ++i) {
            const TiffLevel& l = page.tiff[i];
            if (i > 0 && (!halves(page.tiff[i - 1].width, l.width) || !halves(page.tiff[i - 1].height, l.height)))
                return *why = QStringLiteral("page %1: level %2 is %3 pixels, not half of %4")
                                  .arg(page.dir + 1)
                                  .arg(i + 1)
                                  .arg(sizeText(l.width, l.height),
                                       sizeText(page.tiff[i - 1].width, page.tiff[i - 1].height)),
                       false;
            if (l.type != top.type)
                return *why = QStringLiteral("page %1: level %2 has other samples than the first")
                                  .arg(page.dir + 1)
                                  .arg(i + 1),
                       false;
            page.levels.append({QSize(int(l.width), int(l.height)), QSize(int(l.tileW), int(l.tileH))});
        }
    }
    if (described) {
        for (const int dir : layout.pages)
            planePages.append(pageOfDir[dir]);
        channels = layout.channels;
        planes = heightAlone ? 0 : layout.sizeZ;
        if (heightAlone)
            height = planePages.value(0), planePages.clear(), channels = 1;
        if (heightBeside)
            height = pageOfDir[heightLayout.pages.value(0)];
    } else {
        for (size_t i = 0; i < pages.size(); ++i)
            planePages.append(int(i));
        planes = planePages.size();
        if (pages[0].tiff[0].type == CV_32FC1 && planes == 1)
            height = 0, planes = 0, planePages.clear();
    }
    const TiffLevel& top = pages[size_t(height >= 0 && planes == 0 ? height : planePages[0])].tiff[0];
    for (const int p : planePages) {
        const TiffLevel& l = pages[size_t(p)].tiff[0];
        if (l.width != top.width || l.height != top.height || l.type != top.type)
            return *why = QStringLiteral("the planes differ (page %1 is %2 pixels, the first %3)")
                              .arg(pages[size_t(p)].dir + 1)
                              .arg(sizeText(l.width, l.height), sizeText(top.width, top.height)),
                   false;
    }
    if (height >= 0 && QSize(int(pages[size_t(height)].tiff[0].width), int(pages[size_t(height)].tiff[0].height)) !=
                           QSize(int(top.width), int(top.height)))
        return *why = QStringLiteral("the height map differs in size from the picture"), false;
    if (ome && (meta.sizeX != int(top.width) || meta.sizeY != int(top.height)))
        return *why = QStringLiteral("the OME-XML says %1 x %2 pixels, the file holds %3")
                          .arg(meta.sizeX)
                          .arg(meta.sizeY)
                          .arg(sizeText(top.width, top.height)),
               false;
    meta.sizeX = int(top.width);
    meta.sizeY = int(top.height);
    meta.sizeZ = std::max(1, planes);
    meta.channels = channels;
    if (!ome) {
        // The resolution tags give the scale when there is no OME-XML.
        float xres = 0, yres = 0;
        uint16_t unit = RESUNIT_NONE;
        TIFFSetDirectory(tif, 0);
        TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
        const double per = unit == RESUNIT_CENTIMETER ? 1e4 : unit == RESUNIT_INCH ? 25400.0 : 0.0;
        if (per > 0 && TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xres) && TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yres) &&
            xres > 0 && yres > 0) {
            meta.physicalSizeXUm = per / xres;
            meta.physicalSizeYUm = per / yres;
        }
    }
    if (first->failed())
        return *why = first->error(), false;
    pool.push_back(std::move(first));
    return true;
}

std::unique_ptr<TiffFile> TileReader::Private::borrow(uint64_t ifdOffset, QString* error) const
{
    {
        std::lock_guard<std::mutex> lock(poolMutex);
        if (!pool.empty()) {
            // Moving a handle to another level reads that level's directory and tile tables again.
            auto at = std::find_if(pool.begin(), pool.end(), [ifdOffset](const std::unique_ptr<TiffFile>& t) {
                return TIFFCurrentDirOffset(t->handle()) == ifdOffset;
            });
            if (at == pool.end())
                at = pool.end() - 1;
            auto tiff = std::move(*at);
            pool.erase(at);
            return tiff;
        }
    }
    auto tiff = std::make_unique<TiffFile>();
    if (!tiff->openRead(path, kMaxChunkBytes)) {
        *error = tiff->error();
        return nullptr;
    }
    return tiff;
}

void TileReader::Private::giveBack(std::unique_ptr<TiffFile> tiff) const
{
    // A handle that failed keeps its message: the next read gets a fresh one.
    if (tiff->failed())
        return;
    std::lock_guard<std::mutex> lock(poolMutex);
    pool.push_back(std::move(tiff));
}

bool TileReader::readTile(int page, int level, QPoint tile, cv::Mat* out, QString* error) const
{
    const QVector<Level>& ls = levels(page);
    QString why;
    if (level < 0 || level >= ls.size())
        why = QStringLiteral("no level %1").arg(level + 1);
    const Level l = ls.value(level);
    const QRect rect = why.isEmpty() ? QRect(QPoint(tile.x() * l.tile.width(), tile.y() * l.tile.height()), l.tile)
                                           .intersected(QRect(QPoint(0, 0), l.size))
                                     : QRect();
    if (why.isEmpty() && (tile.x() < 0 || tile.y() < 0 || rect.isEmpty()))
        why = QStringLiteral("no tile %1, %2").arg(tile.x()).arg(tile.y());
    if (why.isEmpty() && !d->picture.empty()) {
        *out = d->picture[size_t(level)](cv::Rect(rect.x(), rect.y(), rect.width(), rect.height())).clone();
        return true;
    }
    const TiffLevel* tl = why.isEmpty() ? &d->pages[size_t(page)].tiff[level] : nullptr;
    std::unique_ptr<TiffFile> tiff = tl ? d->borrow(tl->ifdOffset, &why) : nullptr;
    if (tiff) {
        TIFF* tif = tiff->handle();
        // Reading a directory again costs its tile tables: a handle stays where it was.
        const bool placed = TIFFCurrentDirOffset(tif) == tl->ifdOffset || TIFFSetSubDirectory(tif, tl->ifdOffset);
        if (placed && d->readTiffTile(tif, *tl, tile, out, &why) && !tiff->failed()) {
            d->giveBack(std::move(tiff));
            return true;
        }
        why = tiff->failed() ? tiff->error() : why.isEmpty() ? QStringLiteral("a tile that cannot be read") : why;
    }
    if (error)
        *error = why;
    return false;
}

bool TileReader::Private::readTiffTile(TIFF* tif, const TiffLevel& l, QPoint tile, cv::Mat* out, QString* why) const
{
    // libtiff allocates what a strip or tile says it holds: no more than the file has.
    auto fits = [&](uint32_t index) {
        const uint64_t bytes = TIFFGetStrileByteCount(tif, index);
        if (bytes > uint64_t(fileSize))
            *why = QStringLiteral("a strip or tile of %1 bytes in a file of %2 bytes").arg(bytes).arg(fileSize);
        return bytes <= uint64_t(fileSize);
    };
    const uint32_t x0 = uint32_t(tile.x()) * l.tileW, y0 = uint32_t(tile.y()) * l.tileH;
    const int w = int(std::min(l.tileW, l.width - x0)), h = int(std::min(l.tileH, l.height - y0));
    if (l.tiled) {
        const uint32_t index = TIFFComputeTile(tif, x0, y0, 0, 0);
        if (!fits(index))
            return false;
        if (!l.direct) {
            cv::Mat abgr(int(l.tileH), int(l.tileW), CV_8UC4);
            if (!TIFFReadRGBATile(tif, x0, y0, abgr.ptr<uint32_t>()))
                return false;
            cv::flip(abgr, abgr, 0); // libtiff's raster starts at the bottom
            cv::cvtColor(cropped(abgr, w, h), *out, cv::COLOR_RGBA2RGB);
            return true;
        }
        cv::Mat m(int(l.tileH), int(l.tileW), l.type);
        if (TIFFTileSize(tif) != tmsize_t(m.total() * m.elemSize()))
            return false;
        if (TIFFReadEncodedTile(tif, index, m.data, tmsize_t(m.total() * m.elemSize())) < 0)
            return false;
        *out = cropped(m, w, h);
        return true;
    }
    // Strips: the rows of the tile from the strips that hold them.
    cv::Mat m(h, w, l.type);
    const uint32_t rps = l.rowsPerStrip;
    cv::Mat strip(int(rps), int(l.width), l.direct ? l.type : CV_8UC4);
    if (l.direct && TIFFScanlineSize(tif) != tmsize_t(strip.cols * strip.elemSize()))
        return false;
    for (uint32_t s = y0 / rps; s * rps < y0 + uint32_t(h); ++s) {
        if (!fits(s))
            return false;
        const int rows = int(std::min(rps, l.height - s * rps));
        if (l.direct) {
            if (TIFFReadEncodedStrip(tif, s, strip.data, tmsize_t(strip.total() * strip.elemSize())) < 0)
                return false;
        } else {
            if (!TIFFReadRGBAStrip(tif, s * rps, strip.ptr<uint32_t>()))
                return false;
            cv::flip(strip.rowRange(0, rows), strip.rowRange(0, rows), 0);
        }
        const int from = int(std::max(y0, s * rps)), to = int(std::min(y0 + uint32_t(h), s * rps + uint32_t(rows)));
        const cv::Mat part = strip(cv::Rect(int(x0), from - int(s * rps), w, to - from));
        if (l.direct)
            part.copyTo(m.rowRange(from - int(y0), to - int(y0)));
        else
            cv::cvtColor(part, m.rowRange(from - int(y0), to - int(y0)), cv::COLOR_RGBA2RGB);
    }
    *out = m;
    return true;
}
