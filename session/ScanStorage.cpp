#include "session/ScanStorage.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QStringList>

#include <algorithm>

namespace {

// JPEG frames of tissue vary with what they show: a quarter more than the sample.
constexpr double kTileMargin = 1.25;
// Without a sample: a JPEG at quality 85 of a microscope frame takes about a sixth of its raw pixels.
constexpr double kJpegShare = 1.0 / 6.0;
// Deflate with a predictor keeps about three quarters of a tissue mosaic; the
// reduced levels add a third.
constexpr double kMosaicShare = 0.75 * 4.0 / 3.0;

} // namespace

QString ScanStorage::cacheFolder()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    const QString folder = base + QStringLiteral("/tessan");
    if (base.isEmpty() || !QDir().mkpath(folder))
        return QDir::tempPath();
    const QDateTime stale = QDateTime::currentDateTime().addDays(-7);
    for (const QFileInfo& left : QDir(folder).entryInfoList({QStringLiteral("tessan-mosaic-*")}, QDir::Dirs))
        if (left.lastModified() < stale)
            QDir(left.absoluteFilePath()).removeRecursively();
    return folder;
}

qint64 ScanStorage::tileBytes(QSize picture, qint64 sampleJpegBytes)
{
    const double raw = 3.0 * picture.width() * picture.height();
    return qint64((sampleJpegBytes > 0 ? double(sampleJpegBytes) : raw * kJpegShare) * kTileMargin);
}

qint64 ScanStorage::mosaicBytes(QSize pixels)
{
    return qint64(3.0 * pixels.width() * pixels.height() * kMosaicShare);
}

ScanStorage::Volume ScanStorage::volumeOf(const QString& folder)
{
    QFileInfo at(folder);
    while (!at.exists() && !at.isRoot() && at.absolutePath() != at.absoluteFilePath())
        at = QFileInfo(at.absolutePath());
    const QStorageInfo info(at.absoluteFilePath());
    if (!info.isValid() || !info.isReady())
        return {folder, -1};
    return {info.rootPath(), info.bytesAvailable()};
}

QString ScanStorage::size(qint64 bytes)
{
    const double mb = double(bytes) / 1e6;
    return mb >= 1000.0 ? QString::number(mb / 1000.0, 'f', 1) + QStringLiteral(" GB")
                        : QString::number(std::max(1.0, mb), 'f', 0) + QStringLiteral(" MB");
}

QString ScanStorage::refusal(const QVector<Need>& needs, const Probe& probe)
{
    struct Sum
    {
        Volume volume;
        qint64 bytes = 0;
        QStringList parts;
    };
    QVector<Sum> volumes;
    for (const Need& n : needs) {
        const Volume v = probe(n.folder);
        auto it = std::find_if(volumes.begin(), volumes.end(), [&](const Sum& s) { return s.volume.root == v.root; });
        if (it == volumes.end()) {
            volumes.append({v, 0, {}});
            it = volumes.end() - 1;
        }
        it->bytes += n.bytes;
        it->parts << QStringLiteral("%1 for %2 in %3").arg(size(n.bytes), n.what, QDir::toNativeSeparators(n.folder));
    }
    QStringList lacking;
    for (const Sum& s : volumes)
        if (s.volume.freeBytes >= 0 && s.bytes > s.volume.freeBytes)
            lacking << QStringLiteral("The scan needs about %1 (%2), but only %3 are free there.")
                           .arg(size(s.bytes), s.parts.join(QStringLiteral(" and ")), size(s.volume.freeBytes));
    if (lacking.isEmpty())
        return QString();
    return lacking.join(QLatin1Char(' ')) +
           QStringLiteral(" Free some space, mark a smaller region or lower the overlap.");
}
