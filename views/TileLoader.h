#pragma once

#include <QCache>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QThreadPool>
#include <QTimer>
#include <memory>
#include <mutex>
#include <opencv2/core.hpp>

class TileReader;

// Decoded tiles of a file for the screen: reads run on a pool of worker
// threads and arrive in batches, one queued call for all finished since the
// last; the decoded tiles are kept in a cache bounded in bytes, so memory
// follows the cache, not the picture. Tiles shown smaller than their pixels
// are also resampled on the workers, so the screen only copies them.
class TileLoader : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 kDefaultCacheBytes = qint64(256) << 20;
    static constexpr int kBatchMs = 30;

    struct Id
    {
        int page = 0, level = 0, x = 0, y = 0;
    };

    explicit TileLoader(std::shared_ptr<const TileReader> reader, QObject* parent = nullptr);
    ~TileLoader() override;

    void setCacheBytes(qint64 bytes);
    // The values a page is shown over: heights (float pages) in colour from
    // low to high µm, 16-bit samples from low (black) to high (white).
    // Without one, 16-bit pages span 0 to 65535 and heights 0 to 1 µm.
    void setRange(int page, double low, double high);
    std::pair<double, double> range(int page) const;
    // Tiles of held pages are neither read nor shown until setRange() or
    // release() (no range found) lets them go.
    void hold(const QVector<int>& pages);
    void release(int page);
    // The cached tile, or a null image; with `request`, a missing tile is read.
    QImage tile(const Id& id, bool request);
    // The tile resampled to `size`, its size on the screen, or a null image:
    // with `request`, it is then made on a worker, from the cached tile or a read.
    QImage scaledTile(const Id& id, const QSize& size, bool request);
    // Only these tiles are still wanted: reads of others not yet begun are dropped.
    void keepOnly(const QVector<Id>& ids);
    qint64 cachedBytes() const { return qint64(cache.totalCost()) << 10; }
    // Reads queued or running.
    int pending() const { return int(inFlight.size() + scaling.size()); }

    // A tile as the screen shows it, in RGB32: 16-bit samples and heights
    // over the range [low, high], heights through the colour scale.
    static QImage toDisplay(const cv::Mat& tile, double low, double high);

signals:
    void tileReady();
    void readFailed(const QString& message);

private:
    // What a worker hands back: the tile as read, and resampled when asked.
    struct Done
    {
        quint64 key = 0;
        QImage image, scaled;
        QString error;
        bool read = false; // the file was read (else only resampled)
    };

    static quint64 key(const Id& id);
    void start(const Id& id, const QImage& cached, const QSize& scaleTo);
    // Takes in every result the workers left since the last call.
    void collect();
    void arrived(const Done& done);

    std::shared_ptr<const TileReader> reader;
    QThreadPool pool;
    QCache<quint64, QImage> cache;       // cost in KiB
    QCache<quint64, QImage> scaledCache; // one size per tile, cost in KiB
    QSet<quint64> inFlight;              // reads
    QSet<quint64> scaling;               // resamplings of cached tiles
    std::mutex doneMutex;
    QVector<Done> done; // results not yet collected, under doneMutex
    QTimer batch;
    std::shared_ptr<std::mutex> wantedMutex = std::make_shared<std::mutex>();
    std::shared_ptr<QSet<quint64>> wanted = std::make_shared<QSet<quint64>>();
    QHash<int, std::pair<double, double>> ranges;
    QSet<int> held;
    bool reportedFailure = false;
    bool fresh = false; // tiles arrived since the last tileReady
};
