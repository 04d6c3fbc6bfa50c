#pragma once

#include "imaging/TileTypes.h"

#include <QDateTime>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QPair>
#include <QRectF>
#include <QVector>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <opencv2/core.hpp>
#include <thread>

class FlatField;
class FlatFieldEstimator;
class TileCache;

// Stitches a tile scan while it runs: every tile goes to a worker thread that
// stores it in an on-disk cache, registers its overlaps with the neighbours
// already there, solves all placements again (less often as the scan grows,
// never for a missing tile) and reports. Every public call
// is thread-safe; addTile blocks only while a few tiles wait in the queue.
// Signals come from the worker thread (queued to receivers elsewhere).
class MosaicStitcher : public QObject
{
    Q_OBJECT
public:
    static constexpr int kQueueDepth = 3;

    explicit MosaicStitcher(QObject* parent = nullptr);
    ~MosaicStitcher() override;

    // Starts a new mosaic; false (with a reason) when the plan or the cache folder is unusable.
    bool begin(const MosaicPlan& plan, QString* error = nullptr);
    // encoded: the tile's JPEG as the camera sent it, kept instead of the pixels (empty: kept losslessly).
    void addTile(const ScanTile& tile, const QImage& rgb, const QByteArray& encoded = QByteArray());
    void markMissing(int id);
    // No more tiles: the queue is worked off, placements solved a last time, then stitched() is emitted.
    void finish();
    // Abandons the mosaic (closing without saving): queued tiles are dropped
    // and the worker stops. A cancelled scan calls finish() instead, which
    // keeps every tile taken.
    void cancel();
    // Blocks until the queue is empty (tests and command-line use).
    void waitUntilIdle();

    MosaicPlan plan() const;
    QSize mosaicSize() const;
    QPointF mosaicOriginUm() const; // stage position of the mosaic's top-left pixel
    // The stage z the tiles were taken at and, when it varied, a description
    // of its range; saved with the mosaic. Unknown, and not written, until set.
    void setStageZ(double zUm, const QString& description);
    // Key-value pairs the saved file carries about how the tiles were taken
    // (the focus map), in the given namespace.
    void setAnnotation(const QString& nameSpace, const QVector<std::pair<QString, QString>>& keyValues);
    // Where the mosaic came from, written into the saved file (OmeImage::provenance).
    void setProvenance(const QVector<QPair<QString, QString>>& keyValues);
    QVector<TilePlacement> placements() const;
    QVector<PairMeasurement> pairs() const;
    double acceptanceThreshold() const;
    int tilesDone() const;
    int solves() const; // placement solves since begin()
    // The light correction in use (null without one): the plan's, or the one
    // estimated from the tiles, provisionally while they come, finally once finished.
    std::shared_ptr<const FlatField> flatField() const;
    qint64 cacheBytesOnDisk() const;

    // Any part of the current mosaic scaled to out (RGB32); missing tiles hatched, the rest dark.
    QImage preview(const QRectF& mosaicPx, QSize out) const;

    // Writes the finished mosaic as a pyramidal OME-TIFF, and the light
    // correction beside it (FlatField::besideMosaic). Blocking: run it on
    // a worker thread; progress 0..1 through the callback, cancel through the flag.
    // withReducedLevels false leaves the pyramid out (for measurements).
    bool save(const QString& path, QString* error, const std::function<void(double)>& progress = {},
              const std::atomic<bool>* cancel = nullptr, bool withReducedLevels = true);

signals:
    void tilePlaced(int id, int done, int total);
    void stitched();
    void problem(const QString& message);
    // A tile could not be kept (the disk is full, the folder gone): the
    // tiles still to come would fare no better.
    void storageFailed(const QString& message);

private:
    struct Job
    {
        ScanTile tile;
        QImage image;
        QByteArray encoded;
        bool missing = false;
    };
    void run();
    void process(const Job& job);
    void registerPairs(const ScanTile& tile, const cv::Mat& rgb);
    void forgetPrepared(int id);
    const cv::Mat& toRgb(const QImage& image);
    void solve();
    // rgb: the tile just stored, as taken; final: the scan is over
    void learnLight(const cv::Mat& rgb, bool final);
    void stopWorker();
    QPointF topLeftOf(QPointF centreUm) const;
    QPointF nominalTopLeft(int id) const;
    bool accepted(const PairMeasurement& p) const;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_room;
    std::condition_variable m_idle;
    std::deque<Job> m_queue;
    bool m_working = false;
    bool m_finishing = false;
    bool m_stop = false;
    bool m_finalDone = false;
    std::thread m_worker;

    MosaicPlan m_plan;
    QDateTime m_started;
    std::unique_ptr<TileCache> m_cache;
    std::unique_ptr<FlatFieldEstimator> m_light; // only while the light is being learnt
    QVector<ScanTile> m_tiles;                   // by id; id < 0 for not yet arrived
    QVector<char> m_state;                       // by id: 0 waiting, 1 placed, 2 missing
    QVector<PairMeasurement> m_pairs;
    QVector<double> m_nullScores;   // scores of strips that cannot overlap
    cv::Mat m_rgb;                  // the tile being worked on
    QHash<int, cv::Mat> m_prepared; // registration images of tiles whose neighbours are still to come
    QVector<QPointF> m_topLeft;     // by id, relative to the plan's origin
    QPointF m_min;                  // mosaic frame, relative to the plan's origin
    QSize m_size;
    double m_threshold = 0.0;
    double m_zUm = std::numeric_limits<double>::quiet_NaN();
    QString m_zDescription;
    QString m_annotationNamespace;
    QVector<std::pair<QString, QString>> m_annotation;
    int m_done = 0;
    int m_sinceSolve = 0;
    int m_solves = 0;
    QVector<QPair<QString, QString>> m_provenance;
};
