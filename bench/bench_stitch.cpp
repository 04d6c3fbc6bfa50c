#include "imaging/FlatField.h"
#include "imaging/MosaicSolver.h"
#include "imaging/MosaicStitcher.h"
#include "sim/BlankGlass.h"
#include "sim/CameraEffects.h"
#include "sim/ScanRenderer.h"
#include "sim/SimStage.h"
#include "sim/SlideLibrary.h"
#include "sim/SlideModel.h"
#include "sim/StageError.h"
#include "sim/TruthRequest.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QPainter>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cmath>
#include <ctime>
#include <functional>
#include <numeric>
#include <opencv2/imgproc.hpp>
#include <tiffio.h>

namespace {

constexpr double kUnitsPerPx = 5.0; // 0.5 um per pixel, stage units of 0.1 um
constexpr double kStageErrorUm = 5.0;

MosaicPlan planFor(QPointF firstCentre, QPointF step, int rows, int cols, QSize tile, const QString& dir)
{
    MosaicPlan plan;
    plan.rows = rows;
    plan.cols = cols;
    plan.tileSize = tile;
    plan.umPerPxX = plan.umPerPxY = kUnitsPerPx / 10.0;
    plan.originUm = (firstCentre - QPointF(tile.width(), tile.height()) * (kUnitsPerPx / 2.0)) / 10.0;
    plan.cacheDir = dir;
    plan.stepUm = QSizeF(step.x() / 10.0, step.y() / 10.0);
    plan.stageErrorUm = kStageErrorUm;
    return plan;
}

// Serpentine order, as a scan takes the tiles.
QVector<int> serpentine(int rows, int cols)
{
    QVector<int> order;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            order.append(r * cols + (r % 2 ? cols - 1 - c : c));
    return order;
}

double elapsedMs(const QElapsedTimer& t)
{
    return t.nsecsElapsed() / 1e6;
}

// CPU time of the whole process: the work done, whatever else the machine runs.
double cpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

qint64 peakRssKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

void resetPeakRss()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

} // namespace

// A 6 x 5 scan over tissue and the bare-glass patch with the stage error on:
// placement error against the truth beside the error of the reported
// positions, the pull on bare-glass tiles, and the client's work per tile
// beside the server's time to move and deliver it.
static void BM_StitchScan6x5(benchmark::State& state)
{
    const SlideModel slide(QStringLiteral("liver-01"), 1);
    const ScanRenderer scanner(slide, 1, kStageErrorUm);
    const QSize tile(1280, 960);
    const QPointF step(tile.width() * 0.85 * kUnitsPerPx, tile.height() * 0.85 * kUnitsPerPx);
    const QPointF first(388200, 238400);
    const int rows = 5, cols = 6;
    const QVector<ScanRenderer::Frame> frames = scanner.grid(first, step, rows, cols);
    const QVector<int> order = serpentine(rows, cols);

    // Per tile, side by side so that the machine's load weighs on both alike:
    // the server's work (the stage move, then drawing and encoding the
    // frame), then the client's (decoding, registering, placing, writing).
    QTemporaryDir dir;
    double clientMs = 0.0, serverMs = 0.0, clientCpu = 0.0, serverCpu = 0.0, decodeCpu = 0.0;
    QVector<TilePlacement> placed;
    QPointF shiftPx;
    for (auto _ : state) {
        MosaicStitcher stitcher;
        stitcher.begin(planFor(first, step, rows, cols, tile, dir.path()));
        SimStage stage;
        stage.place(frames[order[0]].requested.x(), frames[order[0]].requested.y(), 10000);
        qint64 clock = 0;
        clientMs = serverMs = clientCpu = serverCpu = decodeCpu = 0.0;
        for (int id : order) {
            const ScanRenderer::Frame& f = frames[id];
            const qint64 move = stage.moveTo(f.requested.x(), f.requested.y(), 10000, 200000.0, clock);
            clock += move + 1;
            QElapsedTimer t;
            t.start();
            double cpu = cpuMs();
            const QByteArray jpeg = SlideLibrary::encodeJpeg(scanner.render(f, tile.width(), tile.height()));
            serverCpu += cpuMs() - cpu + double(move);
            serverMs += elapsedMs(t) + double(move);
            t.restart();
            cpu = cpuMs();
            const QImage decoded = QImage::fromData(jpeg, "JPEG");
            decodeCpu += cpuMs() - cpu;
            stitcher.addTile({id, f.row, f.col, f.requested / 10.0}, decoded, jpeg);
            stitcher.waitUntilIdle();
            clientCpu += cpuMs() - cpu;
            clientMs += elapsedMs(t);
        }
        stitcher.finish();
        stitcher.waitUntilIdle();
        placed = stitcher.placements();
        shiftPx = (stitcher.mosaicOriginUm() - stitcher.plan().originUm) / stitcher.plan().umPerPxX;
    }

    // truth and reports as top-left pixels relative to the plan's origin;
    // tiles wholly on bare glass cannot be registered and are measured by
    // how far they are pulled from their reported place instead
    const QPointF half(tile.width() / 2.0, tile.height() / 2.0);
    QVector<QPointF> error;
    QPointF mean;
    double reportedMax = 0.0, blankPull = 0.0;
    int blankTiles = 0;
    for (const TilePlacement& p : placed) {
        const ScanRenderer::Frame& f = frames[p.id];
        const QPointF truth = (f.actual - first) / kUnitsPerPx;
        const QPointF reported = (f.requested - first) / kUnitsPerPx;
        const QPointF found = p.topLeftPx + shiftPx;
        const QPointF a = f.actual - half * kUnitsPerPx, b = f.actual + half * kUnitsPerPx;
        if (BlankGlass::contains(a.x(), a.y()) && BlankGlass::contains(b.x(), b.y())) {
            ++blankTiles;
            blankPull = std::max({blankPull, std::abs(found.x() - reported.x()), std::abs(found.y() - reported.y())});
            continue;
        }
        error.append(found - truth);
        reportedMax = std::max({reportedMax, std::abs(reported.x() - truth.x()), std::abs(reported.y() - truth.y())});
    }
    // the mosaic cannot know where the whole scan landed: compare up to a common shift
    for (const QPointF& e : error)
        mean += e / error.size();
    std::vector<double> lengths;
    for (const QPointF& e : error)
        lengths.push_back(std::hypot(e.x() - mean.x(), e.y() - mean.y()));
    std::sort(lengths.begin(), lengths.end());
    state.counters["err_max_px"] = lengths.back();
    state.counters["err_median_px"] = lengths[lengths.size() / 2];
    state.counters["reported_max_px"] = reportedMax;
    state.counters["blank_tiles"] = blankTiles;
    state.counters["blank_pull_max_px"] = blankPull;
    state.counters["stage_error_px"] = kStageErrorUm * 10.0 / kUnitsPerPx;
    // the server's move is a real-time wait; its drawing and the client's work count in CPU time
    state.counters["client_cpu_ms_tile"] = clientCpu / frames.size();
    state.counters["decode_cpu_ms_tile"] = decodeCpu / frames.size();
    state.counters["server_cpu_ms_tile"] = serverCpu / frames.size();
    state.counters["client_per_server"] = clientCpu / serverCpu;
    state.counters["client_per_server_wall"] = clientMs / serverMs;
}
BENCHMARK(BM_StitchScan6x5)->Unit(benchmark::kMillisecond)->Iterations(1);

// A 20 x 20 scan of 1280 x 960 tiles (about 490 megapixels) without the
// server: tiles cut from a texture at the landing points, sent as JPEG 85 as
// the server sends them. Peak memory of stitching and saving, the tile
// cache's size on disk beside the raw pixels', and the time to write the
// pyramid beside the time to write the full resolution alone.
static void BM_StitchAndSave20x20(benchmark::State& state)
{
    const int rows = 20, cols = 20;
    const QSize tile(1280, 960);
    const QPointF stepPx(tile.width() * 0.85, tile.height() * 0.85);
    const QSize mosaic(int(stepPx.x() * (cols - 1)) + tile.width() + 40,
                       int(stepPx.y() * (rows - 1)) + tile.height() + 40);
    // the texture at an eighth of the resolution; a tile is its part scaled up
    cv::Mat texture(mosaic.height() / 8 + 2, mosaic.width() / 8 + 2, CV_8UC3);
    cv::randu(texture, 0, 255);
    cv::GaussianBlur(texture, texture, cv::Size(0, 0), 1.0);
    auto cut = [&](QPointF topLeft) {
        const cv::Matx23d m(0.125, 0, topLeft.x() / 8.0, 0, 0.125, topLeft.y() / 8.0);
        cv::Mat out;
        cv::warpAffine(texture, out, m, cv::Size(tile.width(), tile.height()), cv::INTER_LINEAR | cv::WARP_INVERSE_MAP);
        return SlideLibrary::encodeJpeg(QImage(out.data, out.cols, out.rows, int(out.step), QImage::Format_RGB888));
    };
    QTemporaryDir dir;
    const QPointF step = stepPx * kUnitsPerPx;
    const QPointF first(200000, 200000);
    const QVector<int> order = serpentine(rows, cols);
    double pyramidMs = 0.0, fullMs = 0.0, stitchMs = 0.0;
    qint64 peakKb = 0;
    for (auto _ : state) {
        resetPeakRss();
        QElapsedTimer t;
        t.start();
        MosaicStitcher stitcher;
        stitcher.begin(planFor(first, step, rows, cols, tile, dir.path()));
        for (int id : order) {
            const int r = id / cols, c = id % cols;
            const QPointF requested = first + QPointF(c * step.x(), r * step.y());
            const QPointF landed =
                requested + StageError::landing(1, requested.x(), requested.y(), kStageErrorUm * 10.0);
            const QPointF topLeftPx = (landed - first) / kUnitsPerPx + QPointF(20, 20);
            const QByteArray jpeg = cut(topLeftPx);
            stitcher.addTile({id, r, c, requested / 10.0}, QImage::fromData(jpeg, "JPEG"), jpeg);
        }
        stitcher.finish();
        stitcher.waitUntilIdle();
        stitchMs = elapsedMs(t);
        state.counters["cache_disk_MB"] = stitcher.cacheBytesOnDisk() / 1e6;
        state.counters["cache_raw_rgb_MB"] = 3.0 * tile.width() * tile.height() * rows * cols / 1e6;
        state.counters["peak_rss_stitch_MB"] = peakRssKb() / 1024.0;
        QString error;
        t.restart();
        if (!stitcher.save(dir.filePath(QStringLiteral("full.tif")), &error, {}, nullptr, false))
            state.SkipWithError(qPrintable(error));
        fullMs = elapsedMs(t);
        QFile::remove(dir.filePath(QStringLiteral("full.tif")));
        t.restart();
        if (!stitcher.save(dir.filePath(QStringLiteral("pyramid.ome.tif")), &error))
            state.SkipWithError(qPrintable(error));
        pyramidMs = elapsedMs(t);
        peakKb = peakRssKb();
        state.counters["megapixels"] = double(stitcher.mosaicSize().width()) * stitcher.mosaicSize().height() / 1e6;
        state.counters["file_MB"] = QFileInfo(dir.filePath(QStringLiteral("pyramid.ome.tif"))).size() / 1e6;
    }
    state.counters["peak_rss_MB"] = peakKb / 1024.0;
    state.counters["stitch_s"] = stitchMs / 1000.0;
    state.counters["full_level_s"] = fullMs / 1000.0;
    state.counters["pyramid_s"] = pyramidMs / 1000.0;
    state.counters["pyramid_per_full"] = pyramidMs / fullMs;
}
BENCHMARK(BM_StitchAndSave20x20)->Unit(benchmark::kSecond)->Iterations(1);

namespace {

// A side x side grid at 85 % overlap whose edges disagree by up to a pixel.
void solveGrid(int side, QVector<QPointF>* nominal, QVector<MosaicSolver::Edge>* edges)
{
    const int n = side * side;
    for (int id = 0; id < n; ++id) {
        nominal->append(QPointF(id % side * 1088.0, id / side * 816.0));
        if (id % side + 1 < side)
            edges->append({id, id + 1, QPointF(1088.0 + (id * 7 % 11) / 10.0, (id * 3 % 7) / 10.0), 0.5});
        if (id + side < n)
            edges->append({id, id + side, QPointF((id * 5 % 9) / 10.0, 816.0 + (id * 3 % 11) / 10.0), 0.4});
    }
}

} // namespace

// Placement solves of 30 x 30, 50 x 50 and 100 x 100 tiles side by side: the
// time of each, its time per tile against the smallest (1 when the solve is
// linear) and the memory the largest takes beyond what was in use.
static void BM_PlacementSolve(benchmark::State& state)
{
    const int sides[] = {30, 50, 100};
    double ms[3] = {};
    qint64 extraKb = 0;
    for (auto _ : state)
        for (int k = 0; k < 3; ++k) {
            QVector<QPointF> nominal;
            QVector<MosaicSolver::Edge> edges;
            solveGrid(sides[k], &nominal, &edges);
            resetPeakRss();
            const qint64 before = peakRssKb();
            QElapsedTimer t;
            t.start();
            benchmark::DoNotOptimize(MosaicSolver::solve(nominal, edges));
            ms[k] = elapsedMs(t);
            extraKb = peakRssKb() - before;
        }
    for (int k = 0; k < 3; ++k)
        state.counters[QStringLiteral("solve_%1x%1_ms").arg(sides[k]).toStdString()] = ms[k];
    state.counters["per_tile_100_per_30"] = (ms[2] / 10000.0) / (ms[0] / 900.0);
    state.counters["extra_MB_100x100"] = extraKb / 1024.0;
}
BENCHMARK(BM_PlacementSolve)->Unit(benchmark::kMillisecond)->Iterations(1);

// A 35 x 35 scan cancelled after 5 tiles: the rest is marked missing as the
// region scan does, then the mosaic is finished. The time from the cancel to
// the placed mosaic, and the solves it took.
static void BM_CancelledScan35x35(benchmark::State& state)
{
    const SlideModel slide(QStringLiteral("liver-01"), 1);
    const ScanRenderer scanner(slide, 1, kStageErrorUm);
    const QSize tile(1280, 960);
    const QPointF step(tile.width() * 0.85 * kUnitsPerPx, tile.height() * 0.85 * kUnitsPerPx);
    const QPointF first(388200, 238400);
    const int rows = 35, cols = 35, taken = 5;
    const QVector<ScanRenderer::Frame> frames = scanner.grid(first, step, rows, cols);
    QTemporaryDir dir;
    double cancelMs = 0.0;
    int solves = 0;
    for (auto _ : state) {
        MosaicStitcher stitcher;
        stitcher.begin(planFor(first, step, rows, cols, tile, dir.path()));
        for (int id = 0; id < taken; ++id) {
            const ScanRenderer::Frame& f = frames[id];
            stitcher.addTile({id, f.row, f.col, f.requested / 10.0}, scanner.render(f, tile.width(), tile.height()));
        }
        stitcher.waitUntilIdle();
        QElapsedTimer t;
        t.start();
        for (int id = taken; id < rows * cols; ++id)
            stitcher.markMissing(id);
        stitcher.finish();
        stitcher.waitUntilIdle();
        cancelMs = elapsedMs(t);
        solves = stitcher.solves();
    }
    state.counters["cancel_to_mosaic_s"] = cancelMs / 1000.0;
    state.counters["solves"] = solves;
}
BENCHMARK(BM_CancelledScan35x35)->Unit(benchmark::kMillisecond)->Iterations(1);

namespace {

struct PlacementFigures
{
    // tiles in groups joined by accepted pairs, each group up to its own
    // common shift: nothing in the data ties one group to another
    int grouped = 0, groups = 0;
    double medianPx = 0.0, maxPx = 0.0;
    int over1Px = 0; // of those, how many are off by more than a pixel
    // tiles no accepted pair holds (glass): how far they moved from their reported place
    int alone = 0;
    double alonePullPx = 0.0;
    // seams: neighbours whose shared part shows something, placed against each other
    int seams = 0;
    double seamMedianPx = 0.0, seamMaxPx = 0.0;
};

// Whether the truth of a part of the slide (stage units) shows anything but
// glass, seen at a quarter of the resolution.
bool showsSomething(const SlideModel& slide, const QRectF& part)
{
    const QImage truth = TruthRequest::render(slide, part.x(), part.y(), int(part.width() / kUnitsPerPx / 4) + 1,
                                              int(part.height() / kUnitsPerPx / 4) + 1, kUnitsPerPx * 4);
    for (int y = 0; y < truth.height(); ++y)
        for (int x = 0; x < truth.width(); ++x)
            if (qGreen(truth.pixel(x, y)) < 200)
                return true;
    return false;
}

// A 6 x 5 scan with the stage error on, every frame through the camera's
// effects and JPEG at the quality given, placed and compared with the truth.
PlacementFigures placeScan(const QString& slideName, QPointF first, const CameraEffects& camera, int quality)
{
    const SlideModel slide(slideName, 1);
    const ScanRenderer scanner(slide, 1, kStageErrorUm);
    const QSize tile(1280, 960);
    const QPointF step(tile.width() * 0.85 * kUnitsPerPx, tile.height() * 0.85 * kUnitsPerPx);
    const int rows = 5, cols = 6;
    const QVector<ScanRenderer::Frame> frames = scanner.grid(first, step, rows, cols);
    QTemporaryDir dir;
    MosaicStitcher stitcher;
    stitcher.begin(planFor(first, step, rows, cols, tile, dir.path()));
    for (int id : serpentine(rows, cols)) {
        const ScanRenderer::Frame& f = frames[id];
        QImage picture = scanner.render(f, tile.width(), tile.height());
        camera.apply(&picture);
        const QByteArray jpeg = SlideLibrary::encodeJpeg(picture, quality);
        stitcher.addTile({id, f.row, f.col, f.requested / 10.0}, QImage::fromData(jpeg, "JPEG"), jpeg);
    }
    stitcher.finish();
    stitcher.waitUntilIdle();

    const QPointF shiftPx = (stitcher.mosaicOriginUm() - stitcher.plan().originUm) / stitcher.plan().umPerPxX;
    const QPointF half = QPointF(tile.width(), tile.height()) * (kUnitsPerPx / 2.0);
    PlacementFigures out;
    const QVector<TilePlacement> placed = stitcher.placements();
    std::vector<double> seams;
    for (const TilePlacement& p : placed)
        for (const TilePlacement& q : placed) {
            const ScanRenderer::Frame &a = frames[p.id], &b = frames[q.id];
            const QRectF shared = QRectF(a.actual - half, a.actual + half) & QRectF(b.actual - half, b.actual + half);
            if (std::abs(a.row - b.row) + std::abs(a.col - b.col) != 1 || p.id > q.id || !showsSomething(slide, shared))
                continue;
            const QPointF e = (q.topLeftPx - p.topLeftPx) - (b.actual - a.actual) / kUnitsPerPx;
            seams.push_back(std::hypot(e.x(), e.y()));
        }
    std::sort(seams.begin(), seams.end());
    out.seams = int(seams.size());
    if (!seams.empty()) {
        out.seamMedianPx = seams[seams.size() / 2];
        out.seamMaxPx = seams.back();
    }
    // groups of tiles joined by accepted pairs
    QVector<int> root(rows * cols);
    std::iota(root.begin(), root.end(), 0);
    const std::function<int(int)> find = [&](int k) { return root[k] == k ? k : root[k] = find(root[k]); };
    for (const PairMeasurement& m : stitcher.pairs())
        if (m.accepted)
            root[find(m.i)] = find(m.j);
    QHash<int, QVector<QPointF>> errors; // by group
    for (const TilePlacement& p : placed) {
        const ScanRenderer::Frame& f = frames[p.id];
        errors[find(p.id)].append(p.topLeftPx + shiftPx - (f.actual - first) / kUnitsPerPx);
    }
    std::vector<double> lengths;
    for (const TilePlacement& p : placed) {
        const QVector<QPointF>& group = errors[find(p.id)];
        if (group.size() > 1)
            continue;
        const ScanRenderer::Frame& f = frames[p.id];
        const QPointF pull = p.topLeftPx + shiftPx - (f.requested - first) / kUnitsPerPx;
        ++out.alone;
        out.alonePullPx = std::max({out.alonePullPx, std::abs(pull.x()), std::abs(pull.y())});
    }
    for (const QVector<QPointF>& group : errors) {
        if (group.size() < 2)
            continue;
        ++out.groups;
        const QPointF mean = std::accumulate(group.begin(), group.end(), QPointF()) / group.size();
        for (const QPointF& e : group)
            lengths.push_back(std::hypot(e.x() - mean.x(), e.y() - mean.y()));
    }
    if (lengths.empty())
        return out;
    std::sort(lengths.begin(), lengths.end());
    out.grouped = int(lengths.size());
    out.medianPx = lengths[lengths.size() / 2];
    out.maxPx = lengths.back();
    out.over1Px = int(std::count_if(lengths.begin(), lengths.end(), [](double v) { return v > 1.0; }));
    return out;
}

} // namespace

// Placement against the truth with the 5 um stage error and JPEG 85 (tiles
// against the others of their group; tiles no pair holds against their
// reported place, which must stay within the stage error), side by side: the tissue slide beside the slide of loose
// cells with wide empty glass, each as drawn and with sensor dust and lens fall-off to 75 %.
static void BM_PlacementConditions(benchmark::State& state)
{
    struct Condition
    {
        const char* name;
        QString slide;
        QPointF first;
        bool camera;
    };
    const Condition conditions[] = {{"liver", QStringLiteral("liver-01"), QPointF(388200, 238400), false},
                                    {"liver_dust", QStringLiteral("liver-01"), QPointF(388200, 238400), true},
                                    {"cells", QStringLiteral("cells-41"), QPointF(300000, 250000), false},
                                    {"cells_dust", QStringLiteral("cells-41"), QPointF(300000, 250000), true}};
    for (auto _ : state)
        for (const Condition& c : conditions) {
            CameraEffects camera;
            camera.dust = c.camera;
            camera.cornerLight = c.camera ? 0.75 : 1.0;
            const PlacementFigures f = placeScan(c.slide, c.first, camera, 85);
            const std::string name(c.name);
            state.counters[name + "_groups"] = f.groups;
            state.counters[name + "_grouped"] = f.grouped;
            state.counters[name + "_median_px"] = f.medianPx;
            state.counters[name + "_max_px"] = f.maxPx;
            state.counters[name + "_over_1px"] = f.over1Px;
            state.counters[name + "_alone"] = f.alone;
            state.counters[name + "_alone_pull_px"] = f.alonePullPx;
            state.counters[name + "_stage_error_px"] = kStageErrorUm * 10.0 / kUnitsPerPx;
            state.counters[name + "_seams"] = f.seams;
            state.counters[name + "_seam_median_px"] = f.seamMedianPx;
            state.counters[name + "_seam_max_px"] = f.seamMaxPx;
        }
}
BENCHMARK(BM_PlacementConditions)->Unit(benchmark::kSecond)->Iterations(1);

namespace {

// The glass of a mosaic's full level in the saved file: luminance smoothed
// over 8 pixels, 1st to 99th percentile against the mean.
double glassSpread(const QString& path, const QRect& glass)
{
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (!tif)
        return -1.0;
    uint32_t w = 0, h = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    cv::Mat rgba(int(h), int(w), CV_8UC4);
    const bool read =
        TIFFReadRGBAImageOriented(tif, w, h, reinterpret_cast<uint32_t*>(rgba.data), ORIENTATION_TOPLEFT, 0);
    TIFFClose(tif);
    const cv::Rect part =
        cv::Rect(glass.x(), glass.y(), glass.width(), glass.height()) & cv::Rect(0, 0, int(w), int(h));
    if (!read || part.empty())
        return -1.0;
    cv::Mat grey, smooth;
    cv::cvtColor(rgba(part), grey, cv::COLOR_RGBA2GRAY);
    grey.convertTo(grey, CV_32F);
    cv::GaussianBlur(grey, smooth, cv::Size(0, 0), 8.0);
    std::vector<float> v(smooth.begin<float>(), smooth.end<float>());
    std::sort(v.begin(), v.end());
    return (v[v.size() * 99 / 100] - v[v.size() / 100]) / cv::mean(smooth)[0];
}

// Std / mean over the frame of the glass tiles' summed light at each place on
// the sensor (in 32 x 24 blocks), each tile as given or evened by flat.
double jointVariation(const QVector<QImage>& glassTiles, const FlatField* flat)
{
    cv::Mat sum;
    for (const QImage& t : glassTiles) {
        const QImage rgb = t.convertToFormat(QImage::Format_RGB888);
        cv::Mat m =
            cv::Mat(rgb.height(), rgb.width(), CV_8UC3, const_cast<uchar*>(rgb.constBits()), size_t(rgb.bytesPerLine()))
                .clone();
        if (flat)
            flat->apply(m, cv::Rect(0, 0, m.cols, m.rows));
        cv::Mat grey, blocks;
        cv::cvtColor(m, grey, cv::COLOR_RGB2GRAY);
        cv::resize(grey, blocks, cv::Size(32, 24), 0, 0, cv::INTER_AREA);
        blocks.convertTo(blocks, CV_64F);
        sum = sum.empty() ? blocks : cv::Mat(sum + blocks);
    }
    if (sum.empty())
        return -1.0;
    cv::Scalar mean, dev;
    cv::meanStdDev(sum, mean, dev);
    return dev[0] / mean[0];
}

} // namespace

// A 6 x 5 scan from tissue across the bare-glass patch, the frames through
// the server's lens fall-off to 75 % (--corner-light 0.75) and JPEG 85,
// stitched and saved with and without the light correction, side by side:
// the spread of the saved glass and the joint variation of the glass tiles.
// With TESSAN_BENCH_PICTURES naming a folder, light-correction.png there shows both.
static void BM_LightCorrection(benchmark::State& state)
{
    const SlideModel slide(QStringLiteral("liver-01"), 1);
    const ScanRenderer scanner(slide, 1, kStageErrorUm);
    const QSize tile(1280, 960);
    const QPointF step(tile.width() * 0.85 * kUnitsPerPx, tile.height() * 0.85 * kUnitsPerPx);
    const QPointF first(398560, 243000);
    const int rows = 5, cols = 6;
    const QVector<ScanRenderer::Frame> frames = scanner.grid(first, step, rows, cols);
    CameraEffects camera;
    camera.cornerLight = 0.75;
    QVector<QByteArray> jpegs;
    QVector<QImage> glassTiles;
    const QPointF half = QPointF(tile.width(), tile.height()) * (kUnitsPerPx / 2.0);
    for (const ScanRenderer::Frame& f : frames) {
        QImage picture = scanner.render(f, tile.width(), tile.height());
        camera.apply(&picture);
        jpegs.append(SlideLibrary::encodeJpeg(picture, 85));
        const QPointF a = f.actual - half, b = f.actual + half;
        if (BlankGlass::contains(a.x(), a.y()) && BlankGlass::contains(b.x(), b.y()))
            glassTiles.append(QImage::fromData(jpegs.last(), "JPEG"));
    }
    QTemporaryDir dir;
    double spread[2] = {}, cjv[2] = {};
    QImage shown[2];
    for (auto _ : state)
        for (int corrected = 0; corrected < 2; ++corrected) {
            MosaicStitcher stitcher;
            MosaicPlan plan = planFor(first, step, rows, cols, tile, dir.path());
            plan.correctLight = corrected == 1;
            stitcher.begin(plan);
            for (int id : serpentine(rows, cols))
                stitcher.addTile({id, frames[id].row, frames[id].col, frames[id].requested / 10.0},
                                 QImage::fromData(jpegs[id], "JPEG"), jpegs[id]);
            stitcher.finish();
            stitcher.waitUntilIdle();
            const QString path = dir.filePath(QStringLiteral("light%1.ome.tif").arg(corrected));
            QString error;
            if (!stitcher.save(path, &error, {}, nullptr, false))
                state.SkipWithError(qPrintable(error));
            // the glass patch in the mosaic's pixels, 100 pixels in from its edges
            const QPointF origin = stitcher.mosaicOriginUm() * 10.0;
            const QPointF tl = (QPointF(BlankGlass::kLeft, BlankGlass::kTop) - origin) / kUnitsPerPx;
            const QPointF br = (QPointF(BlankGlass::kRight, BlankGlass::kBottom) - origin) / kUnitsPerPx;
            spread[corrected] = glassSpread(path, QRectF(tl, br).toRect().adjusted(100, 100, -100, -100));
            cjv[corrected] = jointVariation(glassTiles, corrected ? stitcher.flatField().get() : nullptr);
            const QSize size = stitcher.mosaicSize();
            shown[corrected] = stitcher.preview(QRectF(QPointF(), QSizeF(size)), size / 14);
        }
    qint64 jpegBytes = 0;
    for (const QByteArray& j : jpegs)
        jpegBytes += j.size();
    state.counters["jpeg_KB_per_tile"] = jpegBytes / 1e3 / jpegs.size();
    state.counters["glass_tiles"] = glassTiles.size();
    state.counters["glass_spread_uncorrected"] = spread[0];
    state.counters["glass_spread_corrected"] = spread[1];
    state.counters["cjv_uncorrected"] = cjv[0];
    state.counters["cjv_corrected"] = cjv[1];
    const QString pictures = qEnvironmentVariable("TESSAN_BENCH_PICTURES");
    if (!pictures.isEmpty() && !shown[0].isNull()) {
        QImage both(shown[0].width() * 2 + 8, shown[0].height(), QImage::Format_RGB32);
        both.fill(Qt::white);
        QPainter painter(&both);
        painter.drawImage(0, 0, shown[0]);
        painter.drawImage(shown[0].width() + 8, 0, shown[1]);
        painter.end();
        both.save(QDir(pictures).filePath(QStringLiteral("light-correction.png")));
    }
}
BENCHMARK(BM_LightCorrection)->Unit(benchmark::kSecond)->Iterations(1);
