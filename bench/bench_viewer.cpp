// The viewer on a generated pyramidal OME-TIFF (512-pixel deflate tiles, as
// Tessan saves mosaics): the first full view, a pan by one screen and a zoom
// step, each beside libtiff alone reading and decoding the same tiles; and
// peak memory while viewing. TESSAN_BENCH_VIEWER_SIDE sets the picture's side
// (46341: 2.1 gigapixels); the file is made in a temporary folder and removed.
// A 5 GB BigTIFF, written uncompressed in seconds, shows that memory follows
// the tile cache, not the file.
#include "imaging/OmeXml.h"
#include "imaging/PyramidWriter.h"
#include "imaging/TileReader.h"
#include "views/TileLoader.h"
#include "views/TiledView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <map>
#include <memory>
#include <opencv2/core.hpp>
#include <tiffio.h>

namespace {

void ensureApplication()
{
    static int argc = 1;
    static char name[] = "tessan-bench";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!QCoreApplication::instance())
        new QApplication(argc, argv);
}

qint64 statusKb(const char* key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(int(qstrlen(key))).trimmed().split(' ').first().toLongLong();
    return -1;
}

void resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

// A pyramid of `side` x `side` pixels; noise makes it large on disk, a pattern small.
struct Pyramid
{
    QTemporaryDir dir;
    QString path;
    int side = 0;
    double writeSeconds = 0;
    qint64 bytes = 0;

    Pyramid(int pixels, bool noise)
        : side(pixels)
    {
        path = dir.filePath(QStringLiteral("bench.ome.tif"));
        cv::Mat band(512, side, CV_8UC3);
        if (noise)
            cv::randu(band, 0, 256);
        else
            for (int y = 0; y < band.rows; ++y)
                for (int x = 0; x < side; ++x)
                    band.at<cv::Vec3b>(y, x) = cv::Vec3b(uchar((x * 7) ^ (y * 3)), uchar(x + y), uchar(x / 64 * 13));
        OmeImage meta;
        meta.physicalSizeXUm = meta.physicalSizeYUm = 0.5;
        PyramidWriter writer;
        QString error;
        QElapsedTimer t;
        t.start();
        const bool ok = writer.write(
            path, QSize(side, side), meta,
            [&](int y, int rows, cv::Mat* out, QString*) {
                *out = band.rowRange(y % 512, y % 512 + rows).clone();
                return true;
            },
            &error);
        writeSeconds = t.elapsed() / 1000.0;
        bytes = QFileInfo(path).size();
        if (!ok)
            qFatal("cannot write the benchmark pyramid: %s", qPrintable(error));
        malloc_trim(0);
    }

    static Pyramid& large()
    {
        static const int side = qEnvironmentVariableIsSet("TESSAN_BENCH_VIEWER_SIDE")
                                    ? qEnvironmentVariableIntValue("TESSAN_BENCH_VIEWER_SIDE")
                                    : 46341;
        static Pyramid p(side, false);
        return p;
    }
    static Pyramid& fiftyMb()
    {
        static Pyramid p(4096, true);
        return p;
    }
};

// A BigTIFF pyramid of about 5 GB, its levels as SubIFDs, written at disk
// speed: uncompressed 512-pixel tiles, each one of a few noise patterns.
struct BigPyramid
{
    QTemporaryDir dir;
    QString path;
    double writeSeconds = 0;
    qint64 bytes = 0;
    bool ok = false;

    explicit BigPyramid(int side)
    {
        path = dir.filePath(QStringLiteral("big.tif"));
        std::vector<cv::Mat> patterns(8);
        for (cv::Mat& m : patterns) {
            m.create(512, 512, CV_8UC3);
            cv::randu(m, 0, 256);
        }
        std::vector<QSize> sizes{QSize(side, side)};
        while (sizes.back().width() > 1024)
            sizes.push_back(QSize((sizes.back().width() + 1) / 2, (sizes.back().height() + 1) / 2));
        QElapsedTimer t;
        t.start();
        TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w8");
        ok = tif != nullptr;
        for (size_t k = 0; ok && k < sizes.size(); ++k) {
            TIFFSetField(tif, TIFFTAG_SUBFILETYPE, k ? FILETYPE_REDUCEDIMAGE : 0);
            TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, sizes[k].width());
            TIFFSetField(tif, TIFFTAG_IMAGELENGTH, sizes[k].height());
            TIFFSetField(tif, TIFFTAG_TILEWIDTH, 512);
            TIFFSetField(tif, TIFFTAG_TILELENGTH, 512);
            TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
            TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
            TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
            TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
            TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
            // The directories written after the first are its reduced levels.
            std::vector<uint64_t> subs(sizes.size() - 1);
            if (k == 0 && !subs.empty())
                TIFFSetField(tif, TIFFTAG_SUBIFD, uint16_t(subs.size()), subs.data());
            for (uint32_t i = 0; ok && i < TIFFNumberOfTiles(tif); ++i)
                ok = TIFFWriteEncodedTile(tif, i, patterns[i % 8].data, 512 * 512 * 3) >= 0;
            ok = ok && TIFFWriteDirectory(tif);
        }
        if (tif)
            TIFFClose(tif);
        writeSeconds = t.elapsed() / 1000.0;
        bytes = QFileInfo(path).size();
    }
};

// A window-sized view of the pyramid, fitted.
struct Viewer
{
    std::shared_ptr<TileReader> reader = std::make_shared<TileReader>();
    std::unique_ptr<TileLoader> loader;
    std::unique_ptr<TiledView> view;

    explicit Viewer(const QString& path)
    {
        ensureApplication();
        QString error;
        if (!reader->open(path, &error))
            qFatal("cannot open the benchmark pyramid: %s", qPrintable(error));
        loader = std::make_unique<TileLoader>(reader);
        view = std::make_unique<TiledView>();
        view->resize(1280, 800);
        view->setSource(reader, loader.get(), 0.5);
        view->setPage(0);
        view->show();
    }

    // Milliseconds until every tile in view at the right level is drawn.
    double waitComplete() const
    {
        QElapsedTimer t;
        t.start();
        // Sleeps until the next event, as the application's loop does: processEvents()
        // with a time limit never waits, and its spinning took a core from the decoders.
        QTimer wake;
        wake.start(50);
        while (!view->complete() && t.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        return t.nsecsElapsed() / 1e6;
    }
};

// libtiff alone: reads and decodes the tiles of one level in a rectangle of level pixels.
double libtiffAlone(const QString& path, int level, const QRect& area)
{
    QElapsedTimer t;
    t.start();
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
    uint16_t count = 0;
    uint64_t* offsets = nullptr;
    if (level > 0 && TIFFGetField(tif, TIFFTAG_SUBIFD, &count, &offsets) && count >= level)
        TIFFSetSubDirectory(tif, offsets[level - 1]);
    std::vector<uchar> buffer(size_t(TIFFTileSize(tif)));
    for (int y = area.top() / 512 * 512; y <= area.bottom(); y += 512)
        for (int x = area.left() / 512 * 512; x <= area.right(); x += 512)
            TIFFReadEncodedTile(tif, TIFFComputeTile(tif, uint32_t(x), uint32_t(y), 0, 0), buffer.data(),
                                tmsize_t(buffer.size()));
    TIFFClose(tif);
    return t.nsecsElapsed() / 1e6;
}

// The level rectangle the view shows.
QRect levelArea(const Viewer& v)
{
    const QVector<TileReader::Level>& levels = v.reader->levels(0);
    const int level = v.view->level();
    const double f = double(levels[level].size.width()) / levels[0].size.width();
    const QRectF shown(v.view->imagePoint(QPointF(0, 0)), v.view->imagePoint(QPointF(1280, 800)));
    return QRect(QPoint(int(shown.left() * f), int(shown.top() * f)),
                 QPoint(int(shown.right() * f), int(shown.bottom() * f)))
        .intersected(QRect(QPoint(0, 0), levels[level].size));
}

} // namespace

static void BM_ViewerFirstView(benchmark::State& state)
{
    Pyramid& p = Pyramid::large();
    double viewMs = 0, aloneMs = 0, openMs = 0;
    int level = 0;
    // The application's own start (fonts, the first window) is not the file's.
    Viewer(p.path).waitComplete();
    for (auto _ : state) {
        QElapsedTimer t;
        t.start();
        Viewer v(p.path);
        openMs += t.nsecsElapsed() / 1e6;
        v.waitComplete();
        viewMs += t.nsecsElapsed() / 1e6;
        level = v.view->level();
        aloneMs += libtiffAlone(p.path, level, levelArea(v));
    }
    state.counters["gigapixels"] = double(p.side) * p.side / 1e9;
    state.counters["file_mb"] = p.bytes / 1e6;
    state.counters["write_s"] = p.writeSeconds;
    state.counters["level"] = level;
    state.counters["view_ms"] = viewMs / double(state.iterations());
    // of which reading the file's directories and making the window
    state.counters["open_ms"] = openMs / double(state.iterations());
    state.counters["libtiff_ms"] = aloneMs / double(state.iterations());
    state.counters["view_over_libtiff"] = viewMs / aloneMs;
}
BENCHMARK(BM_ViewerFirstView)->Unit(benchmark::kMillisecond)->Iterations(10);

// At full resolution: a pan by one screen to the right, until the new field is complete.
static void BM_ViewerPan(benchmark::State& state)
{
    Pyramid& p = Pyramid::large();
    Viewer v(p.path);
    QPointF at(p.side / 3.0, p.side / 3.0);
    v.view->setZoom(1.0, at);
    v.waitComplete();
    double viewMs = 0, aloneMs = 0;
    for (auto _ : state) {
        at += QPointF(1280, 0);
        QElapsedTimer t;
        t.start();
        v.view->setZoom(1.0, at);
        v.waitComplete();
        viewMs += t.nsecsElapsed() / 1e6;
        // the same tiles again, each decoded once more by libtiff
        aloneMs += libtiffAlone(p.path, 0, levelArea(v));
    }
    state.counters["view_ms"] = viewMs / double(state.iterations());
    state.counters["libtiff_ms"] = aloneMs / double(state.iterations());
    state.counters["view_over_libtiff"] = viewMs / aloneMs;
}
BENCHMARK(BM_ViewerPan)->Unit(benchmark::kMillisecond)->Iterations(10);

// One zoom step in (x 1.25, onto the next finer level) at a new place each time: the first frame,
// drawn from what is loaded (the coarse level), and the full detail.
static void BM_ViewerZoomStep(benchmark::State& state)
{
    Pyramid& p = Pyramid::large();
    Viewer v(p.path);
    double frameMs = 0, detailMs = 0;
    int i = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const QPointF at(p.side * (0.1 + 0.08 * i), p.side * (0.1 + 0.07 * i));
        ++i;
        v.view->setZoom(0.48, at); // the step crosses from level 1 to full resolution
        v.waitComplete();
        state.ResumeTiming();
        QElapsedTimer t;
        t.start();
        v.view->zoomBy(1.25, QPointF(640, 400));
        v.view->repaint();
        frameMs += t.nsecsElapsed() / 1e6;
        v.waitComplete();
        detailMs += t.nsecsElapsed() / 1e6;
    }
    state.counters["first_frame_ms"] = frameMs / double(state.iterations());
    state.counters["detail_ms"] = detailMs / double(state.iterations());
}
BENCHMARK(BM_ViewerZoomStep)->Unit(benchmark::kMillisecond)->Iterations(8);

// Peak resident memory while viewing: fitted, then 40 screens at full
// resolution and 40 at a quarter, for a 50 MB file and the large one.
static void BM_ViewerPeakMemory(benchmark::State& state)
{
    std::unique_ptr<BigPyramid> big(state.range(0) == 2 ? new BigPyramid(35840) : nullptr);
    Pyramid* p = state.range(0) == 2 ? nullptr : state.range(0) ? &Pyramid::large() : &Pyramid::fiftyMb();
    // Without 5 GB free in the temporary folder there is nothing to view.
    if (big && !big->ok) {
        state.SkipWithError("cannot write the 5 GB file");
        return;
    }
    const QString path = big ? big->path : p->path;
    for (auto _ : state) {
        malloc_trim(0);
        resetPeak();
        Viewer v(path);
        v.waitComplete();
        for (const double zoom : {1.0, 0.25})
            for (int k = 0; k < 40; ++k) {
                v.view->setZoom(zoom, QPointF((k % 8) * 1280 / zoom, (k / 8) * 800 / zoom));
                v.waitComplete();
            }
        state.counters["cache_mb"] = v.loader->cachedBytes() / 1e6;
    }
    state.counters["file_mb"] = (big ? big->bytes : p->bytes) / 1e6;
    state.counters["peak_rss_mb"] = statusKb("VmHWM:") / 1024.0;
    if (big)
        state.counters["write_s"] = big->writeSeconds;
}
// 0: the 50 MB file, 1: the 2-gigapixel pyramid, 2: a 5 GB BigTIFF.
BENCHMARK(BM_ViewerPeakMemory)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(1);
