#include "views/TileLoader.h"

#include "imaging/TileReader.h"
#include "views/HeightMapView.h"

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
    cache.setMaxCost(int(std::clamp<qint64>(bytes >> 10, 1, INT_MAX)));
}

void TileLoader::setRange(int page, double low, double high)
{
    ranges.insert(page, {low, high});
    cache.clear();
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
    if (!request || inFlight.contains(k) || held.contains(id.page))
        return QImage();
    inFlight.insert(k);
    pool.start([this, k, id, source = reader, want = wanted, lock = wantedMutex, shown = range(id.page)] {
        bool still = true;
        {
            std::lock_guard<std::mutex> guard(*lock);
            still = want->contains(k);
        }
        QImage image;
        QString error;
        cv::Mat tile;
        if (still && source->readTile(id.page, id.level, QPoint(id.x, id.y), &tile, &error))
            image = toDisplay(tile, shown.first, shown.second);
        if (!still)
            error.clear();
        QMetaObject::invokeMethod(
            this, [this, k, image, error] { arrived(k, image, error); }, Qt::QueuedConnection);
    });
    return QImage();
}

void TileLoader::arrived(quint64 k, const QImage& image, const QString& error)
{
    inFlight.remove(k);
    if (!image.isNull()) {
        cache.insert(k, new QImage(image), int(std::max<qint64>(1, image.sizeInBytes() >> 10)));
        fresh = true;
    } else if (!error.isEmpty() && !reportedFailure) {
        // One message for a damaged file, not one per tile.
        reportedFailure = true;
        emit readFailed(error);
    }
    // One repaint for the last of a field's tiles, and at most one per batch
    // before it; the last may be a read dropped for a field no longer shown,
    // which must not leave the others waiting for the batch.
    if (inFlight.isEmpty() && fresh) {
        batch.stop();
        fresh = false;
        emit tileReady();
    } else if (!image.isNull() && !batch.isActive()) {
        batch.start();
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
