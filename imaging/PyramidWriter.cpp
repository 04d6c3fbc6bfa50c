#include "imaging/PyramidWriter.h"

#include "imaging/OmeXml.h"
#include "imaging/TiffFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <memory>
#include <opencv2/imgproc.hpp>
#include <tiffio.h>

namespace {

// Beyond this the offsets of a classic TIFF may overflow: compressed tiles
// can come out a little larger than the pixels they hold.
constexpr double kClassicLimit = 3.5e9;

// One level of the pyramid while the picture streams through: a strip one
// tile high fills up, is written as a row of tiles and, halved, feeds the
// level below.
struct Level
{
    QSize size;
    TiffFile file;   // written while the picture streams through
    TiffFile reader; // a reduced level read back for copying
    cv::Mat strip;
    int filled = 0;
    int tileRow = 0;
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
    QSize full;
    double umPerPxX = 0, umPerPxY = 0; // of the full resolution

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
        ok = ok && TiffFile::writeResolution(tif, umPerPxX * full.width() / size.width(),
                                             umPerPxY * full.height() / size.height());
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
        TIFF* tif = level.file.handle();
        const int y = level.tileRow * kTile;
        tileBuffer.assign(size_t(kTile) * kTile * 3, 0);
        for (int x = 0; x < level.size.width(); x += kTile) {
            const int w = std::min(kTile, level.size.width() - x);
            std::fill(tileBuffer.begin(), tileBuffer.end(), uchar(0));
            for (int r = 0; r < rows.rows; ++r)
                std::copy_n(rows.ptr(r) + size_t(x) * 3, size_t(w) * 3, tileBuffer.data() + size_t(r) * kTile * 3);
            const ttile_t index = TIFFComputeTile(tif, uint32_t(x), uint32_t(y), 0, 0);
            if (TIFFWriteEncodedTile(tif, index, tileBuffer.data(), tmsize_t(tileBuffer.size())) < 0)
                return failed(level.file.error());
        }
        ++level.tileRow;
        return true;
    }

    // 2 x 2 means; an odd last row or column is averaged with itself. rows is
    // a part of the strip buffer: isolated, the border never reads past it.
    static cv::Mat halve(const cv::Mat& rows)
    {
        cv::Mat src = rows;
        if (rows.rows % 2 || rows.cols % 2)
            cv::copyMakeBorder(rows, src, 0, rows.rows % 2, 0, rows.cols % 2,
                               cv::BORDER_REPLICATE | cv::BORDER_ISOLATED);
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

    // Copies a reduced level, read back from its temporary file, into the
    // open directory of the output.
    bool copyLevel(Level& level, TiffFile& out)
    {
        TIFF* in = level.reader.handle();
        const tmsize_t bytes = TIFFTileSize(in);
        std::vector<uchar> buffer(static_cast<size_t>(bytes));
        for (ttile_t t = 0; t < TIFFNumberOfTiles(in); ++t) {
            if (cancelled())
                return failed(QStringLiteral("Cancelled."));
            if (TIFFReadEncodedTile(in, t, buffer.data(), bytes) < 0)
                return failed(level.reader.error());
            if (TIFFWriteEncodedTile(out.handle(), t, buffer.data(), bytes) < 0)
                return failed(out.error());
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
    QTemporaryDir scratch(target.absoluteDir().filePath(QStringLiteral(".tessan-levels-XXXXXX")));
    if (!scratch.isValid()) {
        *error = QStringLiteral("Cannot write in %1.").arg(target.absolutePath());
        return false;
    }
    // the full resolution goes to the file, the reduced levels to
    // temporary files until the full resolution's directory is written
    Run run;
    run.self = this;
    run.full = size;
    run.umPerPxX = meta.physicalSizeXUm;
    run.umPerPxY = meta.physicalSizeYUm;
    for (int k = 0; k < sizes.size(); ++k) {
        auto level = std::make_unique<Level>();
        level->size = sizes[k];
        level->strip.create(kTile, sizes[k].width(), CV_8UC3);
        level->path = k == 0 ? path : scratch.filePath(QStringLiteral("level-%1.tif").arg(k));
        const double bytes = k == 0 ? rawBytes(sizes) : rawBytes({sizes[k]});
        if (!level->file.openWrite(level->path, bytes > kClassicLimit) ||
            !run.setup(level->file.handle(), sizes[k], k == 0, false)) {
            *error = level->file.error().isEmpty() ? QStringLiteral("Cannot set up the file.") : level->file.error();
            return false;
        }
        run.levels.push_back(std::move(level));
    }

    TiffFile& out = run.levels[0]->file;
    const QByteArray xml = OmeXml::write({meta.singlePlane(size.width(), size.height(), 3, QStringLiteral("uint8"))});
    std::vector<toff_t> subOffsets(size_t(sizes.size() - 1), 0);
    bool ok = TIFFSetField(out.handle(), TIFFTAG_IMAGEDESCRIPTION, xml.constData()) &&
              TIFFSetField(out.handle(), TIFFTAG_SOFTWARE, "Tessan") &&
              (subOffsets.empty() ||
               TIFFSetField(out.handle(), TIFFTAG_SUBIFD, uint16_t(subOffsets.size()), subOffsets.data()));
    if (!ok)
        run.failed(out.error());

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
    ok = ok && (TIFFWriteDirectory(out.handle()) || run.failed(out.error()));

    // the reduced levels into the SubIFDs, in order; each temporary file is
    // read back without mapping it into memory, which would count every page
    for (size_t k = 1; ok && k < run.levels.size(); ++k) {
        Level& level = *run.levels[k];
        ok = ((TIFFWriteDirectory(level.file.handle()) && level.file.commit()) || run.failed(level.file.error())) &&
             (level.reader.openRead(level.path, qint64(64) << 20) || run.failed(level.reader.error())) &&
             (run.setup(out.handle(), level.size, true, true) || run.failed(out.error())) &&
             run.copyLevel(level, out) && (TIFFWriteDirectory(out.handle()) || run.failed(out.error()));
        level.reader.discard();
        if (ok && m_progress)
            m_progress(share + (1.0 - share) * k / (run.levels.size() - 1));
    }
    // libtiff may report a late error only on close; commit() then fails too
    ok = ok && (out.commit() || run.failed(out.error()));
    if (!ok) {
        out.discard();
        *error = run.error.isEmpty() ? QStringLiteral("The file could not be written.") : run.error;
    }
    return ok;
}
