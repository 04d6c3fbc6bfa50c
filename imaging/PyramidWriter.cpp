#include "imaging/PyramidWriter.h"

#include "imaging/OmeXml.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <opencv2/imgproc.hpp>
#include <tiffio.h>

namespace {

// Beyond this the offsets of a classic TIFF may overflow: compressed tiles
// can come out a little larger than the pixels they hold.
constexpr double kClassicLimit = 3.5e9;

// One libtiff handle with its own error handler: the first error is kept and ends the job.
struct TiffFile
{
    TIFF* tif = nullptr;
    QString error;

    static int onError(TIFF*, void* user, const char* module, const char* fmt, va_list ap)
    {
        auto* self = static_cast<TiffFile*>(user);
        if (self->error.isEmpty()) {
            char text[512];
            std::vsnprintf(text, sizeof text, fmt, ap);
            self->error =
                QString::fromUtf8(module ? module : "libtiff") + QStringLiteral(": ") + QString::fromUtf8(text);
        }
        return 1;
    }
    static int onWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

    bool open(const QString& path, const char* mode)
    {
        TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
        TIFFOpenOptionsSetErrorHandlerExtR(options, onError, this);
        TIFFOpenOptionsSetWarningHandlerExtR(options, onWarning, this);
        tif = TIFFOpenExt(QFile::encodeName(path).constData(), mode, options);
        TIFFOpenOptionsFree(options);
        if (!tif && error.isEmpty())
            error = QStringLiteral("Cannot open %1.").arg(path);
        return tif != nullptr;
    }
    ~TiffFile()
    {
        if (tif)
            TIFFClose(tif);
    }
};

// One level of the pyramid while the picture streams through: a strip one
// tile high fills up, is written as a row of tiles and, halved, feeds the
// level below.
struct Level
{
    QSize size;
    TiffFile file;
    cv::Mat strip;
    int filled = 0;
    int tileRow = 0;
    bool temporary = false;
    QString path;
};

double rawBytes(const QVector<QSize>& sizes)
{
    double sum = 0.0;
    for (const QSize& s : sizes)
        sum += double(s.width()) * s.height() * 3.0;
    return sum;
}

} // namespace

struct PyramidWriter::Run
{
    PyramidWriter* self = nullptr;
    std::vector<std::unique_ptr<Level>> levels;
    std::vector<uchar> tileBuffer;
    QString error;

    bool failed(const QString& message)
    {
        if (error.isEmpty())
            error = message;
        return false;
    }
    bool cancelled() const { return self->m_cancel && self->m_cancel->load(); }

    bool setup(TIFF* tif, QSize size, bool compressed, bool reduced)
    {
        const bool jpeg = compressed && self->m_compression == Compression::Jpeg;
        bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(size.width())) &&
                  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(size.height())) &&
                  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8) && TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3) &&
                  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
                  TIFFSetField(tif, TIFFTAG_TILEWIDTH, kTile) && TIFFSetField(tif, TIFFTAG_TILELENGTH, kTile);
        if (reduced)
            ok = ok && TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_REDUCEDIMAGE);
        if (jpeg) {
            // YCbCr with 2 x 2 subsampling written into the tags, and libtiff
            // converting from RGB: readers then agree on the colours
            ok = ok && TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_JPEG) &&
                 TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR) &&
                 TIFFSetField(tif, TIFFTAG_YCBCRSUBSAMPLING, 2, 2) &&
                 TIFFSetField(tif, TIFFTAG_JPEGQUALITY, self->m_jpegQuality) &&
                 TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        } else {
            ok = ok && TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
            if (compressed)
                ok = ok && TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE) &&
                     TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL) &&
                     TIFFSetField(tif, TIFFTAG_ZIPQUALITY, 1);
        }
        return ok;
    }

    bool writeTileRow(Level& level, const cv::Mat& rows)
    {
        TIFF* tif = level.file.tif;
        const int y = level.tileRow * kTile;
        tileBuffer.assign(size_t(kTile) * kTile * 3, 0);
        for (int x = 0; x < level.size.width(); x += kTile) {
            const int w = std::min(kTile, level.size.width() - x);
            std::fill(tileBuffer.begin(), tileBuffer.end(), uchar(0));
            for (int r = 0; r < rows.rows; ++r)
                std::copy_n(rows.ptr(r) + size_t(x) * 3, size_t(w) * 3, tileBuffer.data() + size_t(r) * kTile * 3);
            const ttile_t index = TIFFComputeTile(tif, uint32_t(x), uint32_t(y), 0, 0);
            if (TIFFWriteEncodedTile(tif, index, tileBuffer.data(), tmsize_t(tileBuffer.size())) < 0)
                return failed(level.file.error);
        }
        ++level.tileRow;
        return true;
    }

    static cv::Mat halve(const cv::Mat& rows)
    {
        cv::Mat src = rows;
        if (rows.rows % 2 || rows.cols % 2)
            cv::copyMakeBorder(rows, src, 0, rows.rows % 2, 0, rows.cols % 2, cv::BORDER_REPLICATE);
        cv::Mat half;
        cv::resize(src, half, cv::Size(src.cols / 2, src.rows / 2), 0, 0, cv::INTER_AREA);
        return half;
    }

    // Adds rows to level k; full strips go out and down.
    bool push(size_t k, const cv::Mat& rows)
    {
        Level& level = *levels[k];
        int used = 0;
        while (used < rows.rows) {
            const int n = std::min(kTile - level.filled, rows.rows - used);
            rows.rowRange(used, used + n).copyTo(level.strip.rowRange(level.filled, level.filled + n));
            level.filled += n;
            used += n;
            if (level.filled == kTile && !spill(k))
                return false;
        }
        return true;
    }

    bool spill(size_t k)
    {
        Level& level = *levels[k];
        const cv::Mat rows = level.strip.rowRange(0, level.filled);
        if (!writeTileRow(level, rows))
            return false;
        if (k + 1 < levels.size() && !push(k + 1, halve(rows)))
            return false;
        level.filled = 0;
        return true;
    }

    // The last, partial strips, from the top level down.
    bool flush()
    {
        for (size_t k = 0; k < levels.size(); ++k)
            if (levels[k]->filled > 0 && !spill(k))
                return false;
        return true;
    }

    // Copies a level from its temporary file into the open directory of the output.
    bool copyLevel(Level& level, TIFF* out, const QString& outError)
    {
        TIFF* in = level.file.tif;
        const tmsize_t bytes = TIFFTileSize(in);
        std::vector<uchar> buffer(static_cast<size_t>(bytes));
        for (ttile_t t = 0; t < TIFFNumberOfTiles(in); ++t) {
            if (cancelled())
                return failed(QStringLiteral("Cancelled."));
            if (TIFFReadEncodedTile(in, t, buffer.data(), bytes) < 0)
                return failed(level.file.error);
            if (TIFFWriteEncodedTile(out, t, buffer.data(), bytes) < 0)
                return failed(outError);
        }
        return true;
    }
};

void PyramidWriter::setCompression(Compression c, int jpegQuality)
{
    m_compression = c;
    m_jpegQuality = std::clamp(jpegQuality, 1, 100);
}

QVector<QSize> PyramidWriter::levelSizes(QSize size)
{
    QVector<QSize> sizes{size};
    while (std::max(sizes.last().width(), sizes.last().height()) > kSmallestLevel)
        sizes.append(QSize((sizes.last().width() + 1) / 2, (sizes.last().height() + 1) / 2));
    return sizes;
}

bool PyramidWriter::write(const QString& path, QSize size, const OmeImage& meta, const BandSource& source,
                          QString* error)
{
    if (size.width() < 1 || size.height() < 1) {
        *error = QStringLiteral("The picture is empty.");
        return false;
    }
    const QVector<QSize> sizes = m_fullOnly ? QVector<QSize>{size} : levelSizes(size);
    const QFileInfo target(path);
    QTemporaryFile temp(
        target.absoluteDir().filePath(QStringLiteral(".") + target.fileName() + QStringLiteral(".XXXXXX")));
    QTemporaryDir scratch(target.absoluteDir().filePath(QStringLiteral(".tessan-levels-XXXXXX")));
    if (!temp.open() || !scratch.isValid()) {
        *error = QStringLiteral("Cannot write in %1: %2").arg(target.absolutePath(), temp.errorString());
        return false;
    }
    temp.close();

    Run run;
    run.self = this;
    for (int k = 0; k < sizes.size(); ++k) {
        auto level = std::make_unique<Level>();
        level->size = sizes[k];
        level->strip.create(kTile, sizes[k].width(), CV_8UC3);
        level->temporary = k > 0;
        level->path = k == 0 ? temp.fileName() : scratch.filePath(QStringLiteral("level-%1.tif").arg(k));
        const double bytes = k == 0 ? rawBytes(sizes) : rawBytes({sizes[k]});
        const char* mode = bytes > kClassicLimit ? "w8" : "w";
        if (!level->file.open(level->path, mode) || !run.setup(level->file.tif, sizes[k], k == 0, false)) {
            *error = level->file.error.isEmpty() ? QStringLiteral("Cannot set up the file.") : level->file.error;
            return false;
        }
        run.levels.push_back(std::move(level));
    }

    TIFF* out = run.levels[0]->file.tif;
    OmeImage image = meta;
    image.sizeX = size.width();
    image.sizeY = size.height();
    image.sizeZ = 1;
    image.samplesPerPixel = 3;
    image.pixelType = QStringLiteral("uint8");
    image.firstIfd = 0;
    const QByteArray xml = OmeXml::write({image});
    std::vector<toff_t> subOffsets(size_t(sizes.size() - 1), 0);
    bool ok = TIFFSetField(out, TIFFTAG_IMAGEDESCRIPTION, xml.constData()) &&
              TIFFSetField(out, TIFFTAG_SOFTWARE, "Tessan") &&
              (subOffsets.empty() || TIFFSetField(out, TIFFTAG_SUBIFD, uint16_t(subOffsets.size()), subOffsets.data()));
    if (!ok)
        run.failed(run.levels[0]->file.error);

    // the full resolution, band by band
    cv::Mat band;
    const double share = subOffsets.empty() ? 1.0 : 0.9;
    for (int y = 0; ok && y < size.height(); y += kTile) {
        if (run.cancelled()) {
            ok = run.failed(QStringLiteral("Cancelled."));
            break;
        }
        const int rows = std::min(kTile, size.height() - y);
        QString bandError;
        if (!source(y, rows, &band, &bandError) || band.rows != rows || band.cols != size.width() ||
            band.type() != CV_8UC3) {
            ok = run.failed(bandError.isEmpty() ? QStringLiteral("The picture could not be composed.") : bandError);
            break;
        }
        ok = run.push(0, band);
        if (ok && m_progress)
            m_progress(share * (y + rows) / size.height());
    }
    ok = ok && run.flush();
    ok = ok && (TIFFWriteDirectory(out) || run.failed(run.levels[0]->file.error));

    // the reduced levels into the SubIFDs, in order
    for (size_t k = 1; ok && k < run.levels.size(); ++k) {
        Level& level = *run.levels[k];
        // written, then read back through a fresh handle without mapping the
        // file into memory, which would count every page read
        ok = TIFFWriteDirectory(level.file.tif) || run.failed(level.file.error);
        TIFFClose(level.file.tif);
        level.file.tif = nullptr;
        ok = ok && (level.file.open(level.path, "rm") || run.failed(level.file.error));
        ok = ok && (run.setup(out, level.size, true, true) || run.failed(run.levels[0]->file.error)) &&
             run.copyLevel(level, out, run.levels[0]->file.error) &&
             (TIFFWriteDirectory(out) || run.failed(run.levels[0]->file.error));
        if (ok && m_progress)
            m_progress(share + (1.0 - share) * k / (run.levels.size() - 1));
    }
    // libtiff may report a late error only on close
    TIFFClose(out);
    run.levels[0]->file.tif = nullptr;
    if (ok && !run.levels[0]->file.error.isEmpty())
        ok = run.failed(run.levels[0]->file.error);
    run.levels.clear();
    if (ok && std::rename(QFile::encodeName(temp.fileName()).constData(), QFile::encodeName(path).constData()) != 0)
        ok = run.failed(QStringLiteral("Cannot rename the finished file to %1.").arg(path));
    if (!ok) {
        QFile::remove(temp.fileName());
        *error = run.error.isEmpty() ? QStringLiteral("The file could not be written.") : run.error;
    }
    return ok;
}
