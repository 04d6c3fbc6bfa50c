#pragma once

#include "session/ScanStorage.h"

#include <QFutureWatcher>
#include <QObject>
#include <QString>
#include <QVector>

#include <atomic>

class MosaicStitcher;
class QProgressBar;
class QProgressDialog;
class QWidget;
class Session;
class TileGrid;

// Saving a region scan's stitched mosaic: asks for the file, refuses a disk
// without room for it (with the figures), writes the pyramid off the GUI
// thread with progress and Cancel, and puts the session's marks beside it.
class MosaicSaver : public QObject
{
    Q_OBJECT

public:
    // `probe` is read at each save, so a replaced probe counts.
    MosaicSaver(Session* session, QProgressBar* progressBar, const ScanStorage::Probe& probe,
                QObject* parent = nullptr);
    // Waits for a save still running.
    ~MosaicSaver() override;

    bool isRunning() const { return saving.isRunning(); }
    // The file of the last save asked for, empty before any.
    const QString& lastPath() const { return savePath; }

    // What the saved file says of the scan that made `mosaic`: where it came
    // from, and one stage z for it with the range its tiles were taken at.
    void describeScan(MosaicStitcher* mosaic, const TileGrid& grid, int overlapPercent, int autofocusEvery,
                      const QVector<double>& tileZUm) const;
    // The file a mosaic should go to, asked over `over`; empty when the user declines.
    static QString ask(QWidget* over);
    // Saves `source`, whose pixels are umPerPx wide, to `path`; saved() reports the outcome.
    // Ignored while a save runs.
    void save(MosaicStitcher* source, double umPerPx, const QString& path, QWidget* over);
    // The running save writes nothing more; saved() says it was cancelled.
    void cancel() { saveCancel = true; }
    void waitForFinished() { saving.waitForFinished(); }

signals:
    // For the session's system information; "***" marks an error.
    void message(const QString& text);
    void saved(bool ok, const QString& pathOrError);

private:
    void finished();

    Session* session;
    QProgressBar* progressBar;
    const ScanStorage::Probe& probe;
    QFutureWatcher<QString> saving;
    std::atomic<bool> saveCancel{false};
    QProgressDialog* saveDialog = nullptr;
    MosaicStitcher* source = nullptr;
    double mosaicUmPerPx = 0.0;
    QString savePath;
};
