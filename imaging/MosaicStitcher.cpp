#include "imaging/MosaicStitcher.h"

#include "imaging/FlatField.h"
#include "imaging/FlatFieldEstimator.h"
#include "imaging/MosaicComposer.h"
#include "imaging/MosaicSolver.h"
#include "imaging/OmeXml.h"
#include "imaging/OverlapRegistration.h"
#include "imaging/PyramidWriter.h"
#include "imaging/TileCache.h"

#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

namespace {

// Below this correlation peak a match is never trusted, however weak the
// peaks of strips that cannot overlap are.
constexpr double kScoreFloor = 0.25;
// A solve costs about the tile count; solving after every done/kSolveEvery-th
// taken tile keeps its share of a tile's work the same in any scan size.
constexpr int kSolveEvery = 100;
// Wider than the stage's whole travel at 0.5 um per pixel; a band of the
// mosaic stays within a few hundred megabytes.
constexpr double kMaxSide = 200000.0;

QPointF absDelta(QPointF a, QPointF b)
{
    return {std::abs(a.x() - b.x()), std::abs(a.y() - b.y())};
}

} // namespace

MosaicStitcher::MosaicStitcher(QObject* parent)
    : QObject(parent)
{
}

MosaicStitcher::~MosaicStitcher()
{
    stopWorker();
}

void MosaicStitcher::stopWorker()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
        m_queue.clear();
    }
    m_wake.notify_all();
    m_room.notify_all();
    if (m_worker.joinable())
        m_worker.join();
    m_idle.notify_all();
}

bool MosaicStitcher::begin(const MosaicPlan& plan, QString* error)
{
    QString reason;
    if (plan.rows < 1 || plan.cols < 1 || qint64(plan.rows) * plan.cols > 100000)
        reason = QStringLiteral("The scan needs between 1 and 100000 tiles.");
    else if (plan.tileSize.width() < 2 * OverlapRegistration::kMinSide ||
             plan.tileSize.height() < 2 * OverlapRegistration::kMinSide || plan.tileSize.width() > 16384 ||
             plan.tileSize.height() > 16384)
        reason = QStringLiteral("The tile size is unusable.");
    else if (!(plan.umPerPxX > 0.0) || !(plan.umPerPxY > 0.0))
        reason = QStringLiteral("The pixel size must be positive.");
    else if (plan.stepUm.width() / plan.umPerPxX * plan.cols > kMaxSide ||
             plan.stepUm.height() / plan.umPerPxY * plan.rows > kMaxSide)
        reason = QStringLiteral("The mosaic would be more than %1 pixels on a side.").arg(kMaxSide);
    stopWorker();
    auto cache = std::make_unique<TileCache>();
    if (reason.isEmpty())
        cache->open(plan.cacheDir, plan.tileSize, plan.rows * plan.cols, &reason);
    if (!reason.isEmpty()) {
        if (error)
            *error = reason;
        return false;
    }
    std::unique_ptr<FlatFieldEstimator> light;
    if (plan.correctLight) {
        // an earlier scan's correction holds while the camera's picture size does
        cache->setFlatField(plan.flatField);
        if (!cache->flatField())
            light = std::make_unique<FlatFieldEstimator>(cv::Size(plan.tileSize.width(), plan.tileSize.height()));
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_plan = plan;
    m_light = std::move(light);
    if (!(m_plan.stepUm.width() > 0.0) || !(m_plan.stepUm.height() > 0.0))
        m_plan.stepUm =
            QSizeF(plan.tileSize.width() * plan.umPerPxX * 0.85, plan.tileSize.height() * plan.umPerPxY * 0.85);
    m_started = QDateTime::currentDateTime();
    m_cache = std::move(cache);
    const int n = plan.rows * plan.cols;
    m_tiles = QVector<ScanTile>(n);
    m_state = QVector<char>(n, 0);
    m_topLeft = QVector<QPointF>(n);
    m_pairs.clear();
    m_nullScores.clear();
    m_prepared.clear();
    m_min = QPointF();
    m_size = QSize();
    m_threshold = kScoreFloor;
    m_done = 0;
    m_sinceSolve = m_solves = 0;
    m_stop = m_finishing = m_finalDone = m_working = false;
    m_worker = std::thread([this]() { run(); });
    return true;
}

void MosaicStitcher::addTile(const ScanTile& tile, const QImage& rgb, const QByteArray& encoded)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_room.wait(lock, [this]() { return m_stop || int(m_queue.size()) < kQueueDepth; });
    if (m_stop || m_finishing)
        return;
    m_queue.push_back({tile, rgb, encoded, false});
    m_wake.notify_one();
}

void MosaicStitcher::markMissing(int id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stop || m_finishing)
        return;
    ScanTile tile;
    tile.id = id;
    m_queue.push_back({tile, QImage(), QByteArray(), true});
    m_wake.notify_one();
}

void MosaicStitcher::finish()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_finishing = true;
    m_wake.notify_one();
}

void MosaicStitcher::cancel()
{
    stopWorker();
}

void MosaicStitcher::waitUntilIdle()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_idle.wait(lock, [this]() { return m_stop || (m_queue.empty() && !m_working && (!m_finishing || m_finalDone)); });
}

void MosaicStitcher::run()
{
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this]() { return m_stop || !m_queue.empty() || (m_finishing && !m_finalDone); });
            if (m_stop)
                return;
            if (m_queue.empty()) {
                m_prepared.clear();
                m_working = true;
                lock.unlock();
                try {
                    learnLight(cv::Mat(), true);
                    solve();
                } catch (const std::exception& e) {
                    emit problem(QStringLiteral("The tiles could not be placed a last time (%1); the mosaic "
                                                "keeps their earlier places.")
                                     .arg(QString::fromUtf8(e.what())));
                }
                lock.lock();
                m_working = false;
                m_finalDone = true;
                m_idle.notify_all();
                lock.unlock();
                emit stitched();
                continue;
            }
            job = std::move(m_queue.front());
            m_queue.pop_front();
            m_working = true;
            m_room.notify_one();
        }
        try {
            process(job);
        } catch (const std::exception& e) {
            // a tile the libraries choke on is shown as missing, the rest goes on
            emit problem(QStringLiteral("Tile %1 could not be stitched (%2); it is shown as missing.")
                             .arg(job.tile.id)
                             .arg(QString::fromUtf8(e.what())));
            std::lock_guard<std::mutex> lock(m_mutex);
            if (job.tile.id >= 0 && job.tile.id < m_state.size() && m_state[job.tile.id] == 0) {
                m_state[job.tile.id] = 2;
                ++m_done;
            }
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_working = false;
        m_idle.notify_all();
    }
}

void MosaicStitcher::process(const Job& job)
{
    const int id = job.tile.id;
    int total = 0;
    bool fits = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        total = m_state.size();
        fits = id >= 0 && id < total && m_state[id] == 0;
    }
    if (!fits) {
        emit problem(QStringLiteral("Tile %1 is not part of the scan or came twice; it is left out.").arg(id));
        return;
    }
    bool missing = job.missing;
    QString error;
    const QImage& image = job.image;
    if (!missing && image.size() != m_plan.tileSize) {
        error = QStringLiteral("Tile %1 is %2 x %3 pixels, the scan takes %4 x %5; it is shown as missing.")
                    .arg(id)
                    .arg(image.width())
                    .arg(image.height())
                    .arg(m_plan.tileSize.width())
                    .arg(m_plan.tileSize.height());
        missing = true;
    }
    if (!missing) {
        // into one buffer kept for every tile: no fresh pages to fault in
        cv::Mat& mat = m_rgb;
        toRgb(image);
        if (m_cache->store(id, job.encoded, mat, &error)) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_tiles[id] = job.tile;
            }
            learnLight(mat, false);
            // registered as composed: with the light evened
            if (const std::shared_ptr<const FlatField> flat = m_cache->flatField())
                flat->apply(mat, cv::Rect(cv::Point(), mat.size()));
            registerPairs(job.tile, mat);
        } else {
            missing = true;
            emit storageFailed(error);
        }
    }
    if (!error.isEmpty())
        emit problem(error);
    int done = 0;
    bool solveNow = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (missing) {
            m_tiles[id] = job.tile;
            m_tiles[id].row = id / m_plan.cols;
            m_tiles[id].col = id % m_plan.cols;
        }
        m_state[id] = missing ? 2 : 1;
        forgetPrepared(id);
        done = ++m_done;
        // a missing tile moves no other: it waits for the next solve, so
        // the untaken rest of a cancelled scan costs one solve in all
        solveNow = !missing && ++m_sinceSolve >= 1 + m_done / kSolveEvery;
    }
    if (solveNow)
        solve();
    emit tilePlaced(id, done, total);
}

void MosaicStitcher::learnLight(const cv::Mat& rgb, bool final)
{
    if (!m_light)
        return;
    if (!rgb.empty())
        m_light->add(rgb);
    // provisional estimates as the samples double, so registration sees evened tiles early on
    const int n = m_light->samples();
    const bool provisional =
        !rgb.empty() && n >= 2 * FlatFieldEstimator::kMinSamples && (n & (n - 1)) == 0 && m_light->seen() == n;
    if (!final && !provisional)
        return;
    const FlatField flat = m_light->estimate();
    if (flat.isValid())
        m_cache->setFlatField(std::make_shared<const FlatField>(flat));
    if (final) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_light.reset();
    }
}

const cv::Mat& MosaicStitcher::toRgb(const QImage& image)
{
    const QImage::Format f = image.format();
    if ((f == QImage::Format_RGB32 || f == QImage::Format_ARGB32) && QSysInfo::ByteOrder == QSysInfo::LittleEndian) {
        // little-endian 0xAARRGGBB words are the bytes B, G, R, A
        const cv::Mat bgra(image.height(), image.width(), CV_8UC4, const_cast<uchar*>(image.constBits()),
                           size_t(image.bytesPerLine()));
        cv::cvtColor(bgra, m_rgb, cv::COLOR_BGRA2RGB);
    } else {
        const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
        cv::Mat(rgb.height(), rgb.width(), CV_8UC3, const_cast<uchar*>(rgb.constBits()), size_t(rgb.bytesPerLine()))
            .copyTo(m_rgb);
    }
    return m_rgb;
}

QPointF MosaicStitcher::topLeftOf(QPointF centreUm) const
{
    const QPointF rel = centreUm - m_plan.originUm;
    return {rel.x() / m_plan.umPerPxX - m_plan.tileSize.width() * 0.5,
            rel.y() / m_plan.umPerPxY - m_plan.tileSize.height() * 0.5};
}

QPointF MosaicStitcher::nominalTopLeft(int id) const
{
    if (m_state[id] == 1)
        return topLeftOf(m_tiles[id].reportedUm);
    // a missing tile: where the grid meant it to be
    const int row = id / m_plan.cols, col = id % m_plan.cols;
    return topLeftOf(m_plan.originUm +
                     QPointF(m_plan.tileSize.width() * 0.5 * m_plan.umPerPxX + col * m_plan.stepUm.width(),
                             m_plan.tileSize.height() * 0.5 * m_plan.umPerPxY + row * m_plan.stepUm.height()));
}

void MosaicStitcher::registerPairs(const ScanTile& tile, const cv::Mat& rgb)
{
    static const int around[4][2] = {{0, -1}, {-1, 0}, {0, 1}, {1, 0}};
    // two landings off by up to the stage error each
    const int search = int(std::ceil(2.0 * m_plan.stageErrorUm / std::min(m_plan.umPerPxX, m_plan.umPerPxY))) + 1;
    const cv::Mat mine = OverlapRegistration::prepare(rgb);
    for (const auto& d : around) {
        const int row = tile.row + d[0], col = tile.col + d[1];
        if (row < 0 || col < 0 || row >= m_plan.rows || col >= m_plan.cols)
            continue;
        const int other = row * m_plan.cols + col;
        QPointF nominal;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_state[other] != 1)
                continue;
            nominal = topLeftOf(tile.reportedUm) - nominalTopLeft(other);
        }
        cv::Mat theirs = m_prepared.value(other);
        cv::Mat pixels;
        if (theirs.empty()) {
            if (!m_cache->read(other, cv::Rect(0, 0, rgb.cols, rgb.rows), &pixels))
                continue;
            theirs = OverlapRegistration::prepare(pixels);
        }
        const OverlapRegistration::Result r = OverlapRegistration::measure(theirs, mine, nominal, search);
        if (!r.valid)
            continue;
        // what no match looks like: b as if it lay on a's other side, so the
        // far sides of both tiles, two steps apart and each at the other's
        // place on the sensor, where dust and JPEG blocks cannot match themselves
        const OverlapRegistration::Result none = OverlapRegistration::measure(theirs, mine, -nominal, search);
        std::lock_guard<std::mutex> lock(m_mutex);
        if (none.valid)
            m_nullScores.append(none.score);
        m_pairs.append({other, tile.id, r.offsetPx, r.score, false});
    }
    m_prepared.insert(tile.id, mine);
}

void MosaicStitcher::forgetPrepared(int id)
{
    // a tile's registration image is kept until every neighbour has come
    for (int n : {id, id - 1, id + 1, id - m_plan.cols, id + m_plan.cols}) {
        if (n < 0 || n >= m_state.size() || !m_prepared.contains(n))
            continue;
        const int row = n / m_plan.cols, col = n % m_plan.cols;
        bool waiting = false;
        for (int m : {col > 0 ? n - 1 : -1, col + 1 < m_plan.cols ? n + 1 : -1, row > 0 ? n - m_plan.cols : -1,
                      row + 1 < m_plan.rows ? n + m_plan.cols : -1})
            waiting = waiting || (m >= 0 && m_state[m] == 0);
        if (!waiting)
            m_prepared.remove(n);
    }
}

bool MosaicStitcher::accepted(const PairMeasurement& p) const
{
    // two landings off by up to the stage error each, plus a pixel of slack
    const QPointF limit(2.0 * m_plan.stageErrorUm / m_plan.umPerPxX + 1.0,
                        2.0 * m_plan.stageErrorUm / m_plan.umPerPxY + 1.0);
    const QPointF off = absDelta(p.shiftPx, nominalTopLeft(p.j) - nominalTopLeft(p.i));
    return p.score >= m_threshold && off.x() <= limit.x() && off.y() <= limit.y();
}

void MosaicStitcher::solve()
{
    QVector<int> nodes;
    QVector<QPointF> nominal;
    QVector<MosaicSolver::Edge> edges;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_sinceSolve = 0;
        ++m_solves;
        m_threshold = OverlapRegistration::threshold(m_nullScores, kScoreFloor);
        QVector<int> index(m_state.size(), -1);
        for (int id = 0; id < m_state.size(); ++id)
            if (m_state[id] != 0) {
                index[id] = nodes.size();
                nodes.append(id);
                nominal.append(nominalTopLeft(id));
            }
        for (PairMeasurement& p : m_pairs) {
            p.accepted = index[p.i] >= 0 && index[p.j] >= 0 && accepted(p);
            if (p.accepted)
                edges.append({index[p.i], index[p.j], p.shiftPx, p.score});
        }
    }
    const QVector<QPointF> found = MosaicSolver::solve(nominal, edges);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (found.isEmpty())
        return;
    double minX = found[0].x(), minY = found[0].y(), maxX = minX, maxY = minY;
    for (int k = 0; k < nodes.size(); ++k) {
        m_topLeft[nodes[k]] = found[k];
        minX = std::min(minX, found[k].x());
        minY = std::min(minY, found[k].y());
        maxX = std::max(maxX, found[k].x());
        maxY = std::max(maxY, found[k].y());
    }
    m_min = QPointF(std::floor(minX), std::floor(minY));
    m_size = QSize(int(std::ceil(maxX - m_min.x())) + m_plan.tileSize.width(),
                   int(std::ceil(maxY - m_min.y())) + m_plan.tileSize.height());
}

MosaicPlan MosaicStitcher::plan() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_plan;
}

QSize MosaicStitcher::mosaicSize() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_size;
}

QPointF MosaicStitcher::mosaicOriginUm() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_plan.originUm + QPointF(m_min.x() * m_plan.umPerPxX, m_min.y() * m_plan.umPerPxY);
}

void MosaicStitcher::setProvenance(const QVector<QPair<QString, QString>>& keyValues)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_provenance = keyValues;
}

void MosaicStitcher::setStageZ(double zUm, const QString& description)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_zUm = zUm;
    m_zDescription = description;
}

void MosaicStitcher::setAnnotation(const QString& nameSpace, const QVector<std::pair<QString, QString>>& keyValues)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_annotationNamespace = nameSpace;
    m_annotation = keyValues;
}

QVector<TilePlacement> MosaicStitcher::placements() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    QVector<TilePlacement> out;
    for (int id = 0; id < m_state.size(); ++id)
        if (m_state[id] != 0)
            out.append({id, m_topLeft[id] - m_min, m_state[id] == 2});
    return out;
}

QVector<PairMeasurement> MosaicStitcher::pairs() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pairs;
}

double MosaicStitcher::acceptanceThreshold() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_threshold;
}

int MosaicStitcher::tilesDone() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_done;
}

int MosaicStitcher::solves() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_solves;
}

std::shared_ptr<const FlatField> MosaicStitcher::flatField() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_cache ? m_cache->flatField() : nullptr;
}

qint64 MosaicStitcher::cacheBytesOnDisk() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_cache ? m_cache->bytesOnDisk() : 0;
}

QImage MosaicStitcher::preview(const QRectF& mosaicPx, QSize out) const
{
    if (!m_cache) {
        QImage img(out.expandedTo(QSize(1, 1)), QImage::Format_RGB32);
        img.fill(MosaicComposer::kBackground);
        return img;
    }
    return MosaicComposer::preview(*m_cache, placements(), m_plan.rows * m_plan.cols, mosaicPx, out);
}

bool MosaicStitcher::save(const QString& path, QString* error, const std::function<void(double)>& progress,
                          const std::atomic<bool>* cancel, bool withReducedLevels)
{
    waitUntilIdle();
    const QVector<TilePlacement> placed = placements();
    QVector<QPoint> topLeft;
    QVector<bool> present;
    QSize size;
    OmeImage meta;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_cache) {
            *error = QStringLiteral("There is no mosaic to save.");
            return false;
        }
        topLeft = QVector<QPoint>(m_state.size());
        present = QVector<bool>(m_state.size(), false);
        size = m_size;
        meta.name = QFileInfo(path).completeBaseName();
        meta.acquired = m_started;
        meta.physicalSizeXUm = m_plan.umPerPxX;
        meta.physicalSizeYUm = m_plan.umPerPxY;
        OmePlane plane;
        plane.hasPosition = true;
        plane.xUm = m_plan.originUm.x() + m_min.x() * m_plan.umPerPxX;
        plane.yUm = m_plan.originUm.y() + m_min.y() * m_plan.umPerPxY;
        plane.zUm = m_zUm;
        meta.planes = {plane};
        meta.description = m_zDescription;
        meta.annotationNamespace = m_annotationNamespace;
        meta.annotation = m_annotation;
        meta.provenance = m_provenance;
    }
    bool any = false;
    for (const TilePlacement& p : placed) {
        topLeft[p.id] = QPoint(qRound(p.topLeftPx.x()), qRound(p.topLeftPx.y()));
        present[p.id] = !p.missing;
        any = any || !p.missing;
    }
    if (!any) {
        *error = QStringLiteral("There is no tile to save.");
        return false;
    }
    // the light correction first: a mosaic is never saved without the profile that evened it
    const std::shared_ptr<const FlatField> flat = m_cache->flatField();
    const QString profile = FlatField::besideMosaic(path);
    if (flat && !flat->save(profile, meta.physicalSizeXUm, meta.physicalSizeYUm, error)) {
        *error = QStringLiteral("The light correction could not be saved to %1: %2").arg(profile, *error);
        return false;
    }
    const MosaicComposer composer(*m_cache, topLeft, present, cv::Size(size.width(), size.height()));
    PyramidWriter writer;
    writer.setProgress(progress);
    writer.setCancelFlag(cancel);
    writer.setFullLevelOnly(!withReducedLevels);
    bool ok = false;
    try {
        ok = writer.write(
            path, size, meta,
            [&composer](int y, int rows, cv::Mat* out, QString* bandError) {
                return composer.band(y, rows, out, bandError);
            },
            error);
    } catch (const std::exception& e) {
        // the writer's files are gone with it
        *error = QStringLiteral("The mosaic could not be saved: %1").arg(QString::fromUtf8(e.what()));
    }
    // a profile beside a mosaic is that mosaic's: an older one goes with the file it evened
    if (ok != bool(flat))
        QFile::remove(profile);
    return ok;
}
