#include "session/MosaicSaver.h"

#include "acquire/Provenance.h"
#include "acquire/TileGrid.h"
#include "imaging/MosaicStitcher.h"
#include "session/MarksController.h"
#include "session/Session.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QProgressBar>
#include <QProgressDialog>
#include <QStatusBar>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <numeric>

MosaicSaver::MosaicSaver(Session* owner, QProgressBar* bar, const ScanStorage::Probe& storageProbe, QObject* parent)
    : QObject(parent)
    , session(owner)
    , progressBar(bar)
    , probe(storageProbe)
{
    connect(&saving, &QFutureWatcherBase::finished, this, &MosaicSaver::finished);
}

MosaicSaver::~MosaicSaver()
{
    saveCancel = true;
    saving.waitForFinished();
}

QString MosaicSaver::ask(QWidget* over)
{
    const QString suggested =
        QDir::home().filePath(QStringLiteral("mosaic-%1.ome.tif")
                                  .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"))));
    QString path = QFileDialog::getSaveFileName(over, QStringLiteral("Save Mosaic"), suggested,
                                                QStringLiteral("Pyramidal OME-TIFF (*.ome.tif *.ome.tiff)"), nullptr,
                                                QFileDialog::DontUseNativeDialog);
    if (path.isEmpty())
        return path;
    if (!path.endsWith(QLatin1String(".ome.tif"), Qt::CaseInsensitive) &&
        !path.endsWith(QLatin1String(".ome.tiff"), Qt::CaseInsensitive))
        path += QStringLiteral(".ome.tif");
    return path;
}

void MosaicSaver::describeScan(MosaicStitcher* mosaic, const TileGrid& grid, int overlapPercent, int autofocusEvery,
                               const QVector<double>& tileZUm) const
{
    const SessionInfo& info = session->sessionInfo;
    mosaic->setProvenance(Provenance::of(info.host, info.scope.name, info.scope.slides.value(0), info.login,
                                         QStringLiteral("region scan of %1 x %2 tiles, overlap %3 %, autofocus "
                                                        "every %4 tiles (0: focus kept)")
                                             .arg(grid.cols)
                                             .arg(grid.rows)
                                             .arg(overlapPercent)
                                             .arg(autofocusEvery)));
    // One z for the mosaic: the focus kept, or the mean of those autofocus found, with their range.
    if (tileZUm.isEmpty())
        return;
    const auto [low, high] = std::minmax_element(tileZUm.cbegin(), tileZUm.cend());
    const double mean = std::accumulate(tileZUm.cbegin(), tileZUm.cend(), 0.0) / tileZUm.size();
    mosaic->setStageZ(mean, *low == *high ? QString()
                                          : QStringLiteral("Tiles taken at stage z from %1 to %2 µm; the "
                                                           "position's z is their mean.")
                                                .arg(*low, 0, 'f', 1)
                                                .arg(*high, 0, 'f', 1));
}

void MosaicSaver::save(MosaicStitcher* mosaic, double umPerPx, const QString& path, QWidget* over)
{
    if (saving.isRunning())
        return;
    const QString room =
        ScanStorage::refusal({{QFileInfo(path).absolutePath(), ScanStorage::mosaicBytes(mosaic->mosaicSize()),
                               QStringLiteral("the mosaic")}},
                             probe);
    if (!room.isEmpty()) {
        emit message(QStringLiteral("***The mosaic was not saved to %1: %2").arg(path, room));
        emit saved(false, room);
        return;
    }
    source = mosaic;
    mosaicUmPerPx = umPerPx;
    savePath = path;
    saveCancel = false;
    saveDialog = new QProgressDialog(QStringLiteral("Saving the mosaic to %1...").arg(QDir::toNativeSeparators(path)),
                                     QStringLiteral("Cancel"), 0, 1000, over);
    saveDialog->setWindowTitle(QStringLiteral("Save Mosaic"));
    saveDialog->setWindowModality(Qt::WindowModal);
    saveDialog->setMinimumDuration(300);
    saveDialog->setAutoClose(false);
    saveDialog->setAutoReset(false);
    connect(saveDialog, &QProgressDialog::canceled, this, [this] { saveCancel = true; });
    session->statusBar()->showMessage(QStringLiteral("Saving the mosaic..."));
    progressBar->setRange(0, 1000);
    progressBar->setValue(0);
    progressBar->setFormat(QStringLiteral("saving %p%"));
    progressBar->show();
    saving.setFuture(QtConcurrent::run([this, mosaic, path] {
        QString error;
        const bool ok = mosaic->save(
            path, &error,
            [this](double fraction) {
                // This object outlives the save: its destructor waits for it.
                QMetaObject::invokeMethod(
                    this,
                    [this, fraction] {
                        progressBar->setValue(int(fraction * 1000.0));
                        if (saveDialog)
                            saveDialog->setValue(int(fraction * 1000.0));
                    },
                    Qt::QueuedConnection);
            },
            &saveCancel);
        if (ok)
            return QString();
        return error.isEmpty() ? QStringLiteral("the file could not be written") : error;
    }));
}

void MosaicSaver::finished()
{
    progressBar->hide();
    if (saveDialog) {
        saveDialog->deleteLater();
        saveDialog = nullptr;
    }
    const QString error = saving.result();
    if (saveCancel) {
        emit message(QStringLiteral("Saving the mosaic was cancelled; nothing was written to %1.").arg(savePath));
        session->statusBar()->showMessage(QStringLiteral("Saving cancelled."));
        emit saved(false, QStringLiteral("cancelled"));
        return;
    }
    if (!error.isEmpty()) {
        emit message(QStringLiteral("***The mosaic could not be saved to %1: %2").arg(savePath, error));
        emit saved(false, error);
        return;
    }
    const QSize size = source->mosaicSize();
    emit message(
        QStringLiteral("Mosaic of %1 × %2 pixels saved to %3.").arg(size.width()).arg(size.height()).arg(savePath));
    const QString marksError =
        session->marks->writeBesideMosaic(savePath, source->mosaicOriginUm() / 1000.0, mosaicUmPerPx, size);
    if (!marksError.isEmpty())
        emit message(QStringLiteral("***") + marksError);
    session->statusBar()->showMessage(QStringLiteral("Mosaic saved."));
    emit saved(true, savePath);
}
