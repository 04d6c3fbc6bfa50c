#include "views/TileLoader.h"

#include "imaging/TileReader.h"
#include "views/HeightMapView.h"

#include <opencv2/imgproc.hpp>

namespace {

// An RGB32 tile resampled to `size` as a smooth paint would (bilinear), made once.
QImage resampled(const QImage& image, const QSize& size)
{
    QImage out(size, QImage::Format_RGB32);
    const cv::Mat from(image.height(), image.width(), CV_8UC4, const_cast<uchar*>(image.constBits()),
                       size_t(image.bytesPerLine()));
    cv::Mat to(out.height(), out.width(), CV_8UC4, out.bits(), size_t(out.bytesPerLine()));
    cv::resize(from, to, to.size(), 0, 0, cv::INTER_LINEAR);
    return out;
}

int costOf(const QImage& image)
{
    return int(std::max<qint64>(1, image.sizeInBytes() >> 10));
}

} // namespace

TileLoader::TileLoader(std::shared_ptr<const TileReader> tileReader, QObject* parent)
    : QObject(parent)
    , reader(std::move(tileReader))
{
    setCacheBytes(kDefaultCacheBytes);
    batch.setSingleShot(true);
    batch.setInterval(kBatchMs);
    connect(&batch, &QTimer::timeout, this, [this] {
        fresh = false;
        emit tileReady();
    });
}

TileLoader::~TileLoader()
{
    // The reads post to this object: none may outlive it.
    pool.clear();
    pool.waitForDone();
}

void TileLoader::setCacheBytes(qint64 bytes)
{
    // An eighth for resampled tiles: a screenful is a few megabytes.
    const qint64 kib = std::clamp<qint64>(bytes >> 10, 2, INT_MAX);
    scaledCache.setMaxCost(int(kib / 8 + 1));
    cache.setMaxCost(int(kib - kib / 8 - 1));
}

void TileLoader::setRange(int page, double low, double high)
{
    ranges.insert(page, {low, high});
    cache.clear();
    scaledCache.clear();
    release(page);
}

void TileLoader::hold(const QVector<int>& pages)
{
    for (const int page : pages)
        held.insert(page);
}

void TileLoader::release(int page)
{
    if (held.remove(page))
        emit tileReady();
}

std::pair<double, double> TileLoader::range(int page) const
{
    const bool heights = reader->pixelType(page) == CV_32FC1;
    return ranges.value(page, heights ? std::pair(0.0, 1.0) : std::pair(0.0, 65535.0));
}

quint64 TileLoader::key(const Id& id)
{
    return quint64(id.page & 0x3fff) << 50 | quint64(id.level & 0x3f) << 44 | quint64(id.y & 0x3fffff) << 22 |
           quint64(id.x & 0x3fffff);
}

void TileLoader::keepOnly(const QVector<Id>& ids)
{
    QSet<quint64> keys;
    for (const Id& id : ids)
        keys.insert(key(id));
    std::lock_guard<std::mutex> lock(*wantedMutex);
    *wanted = std::move(keys);
}

QImage TileLoader::tile(const Id& id, bool request)
{
    const quint64 k = key(id);
    if (const QImage* image = cache.object(k))
        return *image;
    if (request && !inFlight.contains(k) && !held.contains(id.page))
        start(id, QImage(), QSize());
    return QImage();
}

QImage TileLoader::scaledTile(const Id& id, const QSize& size, bool request)
{
    const quint64 k = key(id);
    if (const QImage* image = scaledCache.object(k); image && image->size() == size)
        return *image;
    if (!request || size.isEmpty() || inFlight.contains(k) || scaling.contains(k) || held.contains(id.page))
        return QImage();
    const QImage* cached = cache.object(k);
    start(id, cached ? *cached : QImage(), size);
    return QImage();
}

void TileLoader::start(const Id& id, const QImage& cached, const QSize& scaleTo)
{
    const quint64 k = key(id);
    (cached.isNull() ? inFlight : scaling).insert(k);
    pool.start(
        [this, k, id, cached, scaleTo, source = reader, want = wanted, lock = wantedMutex, shown = range(id.page)] {
            bool still = true;
            {
                std::lock_guard<std::mutex> guard(*lock);
                still = want->contains(k);
            }
            Done result;
            result.key = k;
            result.read = cached.isNull();
            QImage image = cached;
            cv::Mat tile;
            if (still && result.read && source->readTile(id.page, id.level, QPoint(id.x, id.y), &tile, &result.error))
                image = result.image = toDisplay(tile, shown.first, shown.second);
            if (!still)
                result.error.clear();
            if (still && !image.isNull() && !scaleTo.isEmpty())
                result.scaled = resampled(image, scaleTo);
            // One queued call for a batch: the first result of it posts, the rest join it.
            bool first = false;
            {
                std::lock_guard<std::mutex> guard(doneMutex);
                first = done.isEmpty();
                done.append(std::move(result));
            }
            if (first)
                QMetaObject::invokeMethod(this, &TileLoader::collect, Qt::QueuedConnection);
        });
}

void TileLoader::collect()
{
    QVector<Done> results;
    {
        std::lock_guard<std::mutex> guard(doneMutex);
        results.swap(done);
    }
    bool any = false;
    for (const Done& result : results) {
        arrived(result);
        any = any || !result.image.isNull() || !result.scaled.isNull();
    }
    // One repaint for the last of a field's tiles, and at most one per batch
    // before it; the last may be a read dropped for a field no longer shown,
    // which must not leave the others waiting for the batch.
    if (pending() == 0 && fresh) {
        batch.stop();
        fresh = false;
        emit tileReady();
    } else if (any && !batch.isActive()) {
        batch.start();
    }
}

void TileLoader::arrived(const Done& result)
{
    (result.read ? inFlight : scaling).remove(result.key);
    if (!result.image.isNull())
        cache.insert(result.key, new QImage(result.image), costOf(result.image));
    if (!result.scaled.isNull())
        scaledCache.insert(result.key, new QImage(result.scaled), costOf(result.scaled));
    fresh = fresh || !result.image.isNull() || !result.scaled.isNull();
    if (result.image.isNull() && !result.error.isEmpty() && !reportedFailure) {
        // One message for a damaged file, not one per tile.
        reportedFailure = true;
        emit readFailed(result.error);
    }
}

QImage TileLoader::toDisplay(const cv::Mat& tile, double low, double high)
{
    if (tile.type() == CV_32FC1)
        return HeightMapView::colourize(tile, low, high).convertToFormat(QImage::Format_RGB32);
    cv::Mat eight = tile;
    if (tile.depth() == CV_16U) {
        const double gain = 255.0 / std::max(1.0, high - low);
        tile.convertTo(eight, CV_8U, gain, -low * gain);
    }
    // RGB32 is what the screen's painter draws without converting each time.
    const QImage::Format format = eight.channels() == 1 ? QImage::Format_Grayscale8 : QImage::Format_RGB888;
    return QImage(eight.data, eight.cols, eight.rows, int(eight.step), format).convertToFormat(QImage::Format_RGB32);
}
