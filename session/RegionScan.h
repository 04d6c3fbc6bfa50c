#pragma once

#include "acquire/TileGrid.h"
#include "acquire/TileScan.h"
#include "imaging/FocusSurface.h"
#include "session/FocusMapRun.h"
#include "session/ScanSettings.h"
#include "session/ScanStorage.h"
#include "views/MosaicWindow.h"

#include <QObject>
#include <QPointer>
#include <QThreadPool>

#include <atomic>
#include <memory>

class FlatField;
class MosaicSaver;
class MosaicStitcher;
class QAction;
class QProgressBar;
class QPushButton;
class QTemporaryDir;
class ControlClock;
class ScanTiming;
class ScopeInfo;
class Session;
class SessionLink;

// The region scan of a control session: checks and confirms the scan the
// Image Acquisition page describes, drives the TileScan, hands every tile to
// the stitcher on a worker thread, shows the mosaic and the progress, and
// saves the result. It asks the window for the page's settings and reports
// by signals; the window keeps its stage controls disabled while tiles are
// taken.
class RegionScan : public QObject
{
    Q_OBJECT

public:
    // The session's engine the scan works with.
    struct Engine
    {
        SessionLink& link;
        ScanTiming& scanTiming;
        ControlClock& clock;
        ScopeInfo& scopeInfo;
    };

    // The engine's references are copied; the window is the parent of the
    // scan's dialogs and status-bar widgets.
    RegionScan(const Engine* owner, Session* window, std::function<ScanSettings()> settings);
    ~RegionScan() override;

    // Focus points or tiles are being taken.
    bool isRunning() const { return scan.isRunning() || focusRun.isRunning(); }
    // Taking tiles, stitching or saving: no new scan may start.
    bool isBusy() const;
    bool hasMosaic() const { return mosaicReady; }

    // The scan the page describes now; invalid ones carry the reason.
    TileGrid plannedGrid() const;
    // 0 for "Keep focus" and "Focus map", 1 for every tile, else N.
    int autofocusEvery() const;
    // The focus points taken before the tiles: none unless "Focus map" is chosen.
    QVector<QPointF> plannedFocusPoints(const TileGrid& grid) const;
    // Why the scan cannot start now, or empty.
    QString refusal(const TileGrid& grid, double seconds) const;
    // Why the disks cannot hold the scan's tiles and mosaic, or empty.
    QString roomRefusal(const TileGrid& grid) const;

    // The estimate shown beside the page, again.
    void updatePlan();
    // The "Scan Region" button: refuses, or confirms and starts; during a
    // scan it cancels.
    void startOrCancel();
    void cancelScan();
    // File > Save Mosaic...: asks for a file and saves off the GUI thread (MosaicSaver).
    void saveMosaic();
    // Saves to `path` off the GUI thread; saved() reports the outcome.
    void saveMosaicTo(const QString& path);
    // Closing the session: false when the user keeps it open for an unsaved mosaic.
    bool confirmClose();
    // Stops everything at once, for a closing window.
    void abort();

    MosaicWindow* window() const { return mosaicWindow; }
    // Shown beside the window's status line.
    QList<QWidget*> statusWidgets() const;
    // View > Mosaic Window.
    QAction* mosaicWindowAction() const { return viewMosaicAction; }
    MosaicStitcher* stitcher() const { return mosaic.get(); }

    TileScan scan;
    // The free space of a folder's disk; replaced by tests.
    ScanStorage::Probe storageProbe = ScanStorage::volumeOf;
    FocusMapRun focusRun;
    // The surface the last scan's tiles were focused by; invalid without a focus map.
    FocusSurface focusSurface;
    // The text of the last outcome, also appended to the session's messages.
    QString result;

signals:
    // For the session's system information; "***" marks an error.
    void message(const QString& text);
    // The mosaic is stitched and may be saved.
    void mosaicFinished();
    void saved(bool ok, const QString& pathOrError);
    // For the window's status line.
    void status(const QString& text);
    // The size and time of the planned scan, or empty when none is planned.
    void planChanged(const QString& text);
    // Tiles or focus points are being taken; the button cancels.
    void takingTiles(bool taking);
    // The page's settings may be changed.
    void pageEnabled(bool enabled);
    // The stage is the scan's: the window's stage controls are off.
    void stageHeld(bool held);
    void mosaicSavable(bool savable);
    void positionReported(CoordinateTriple& position);
    void tileShown(const QImage& frame);
    // A double click in the mosaic: the stage is asked to go there.
    void goToRequested(CoordinateTriple& destination);

private:
    void begin(const TileGrid& grid);
    void focusMapped(bool cancelled);
    void stageReported(CoordinateTriple& position);
    double estimate(const TileGrid& grid, const ScanSettings& now) const;
    void showProgress(int done, int total, double secondsLeft);
    void scanFinished(bool cancelled);
    void stitched();
    void setPageEnabled(bool enabled);
    void showMosaicWindow();
    void refreshMosaic();
    void feed(std::function<void()> work);

    Engine engine;
    // The parent of the scan's dialogs and widgets; MosaicSaver takes the session itself.
    Session* session;
    std::function<ScanSettings()> settings;
    // The stage as the scan last heard of it.
    CoordinateTriple position;
    QThreadPool feeder;
    // Tiles taken and not yet handed to the stitcher.
    std::atomic<int> tilesQueued{0};
    std::unique_ptr<MosaicStitcher> mosaic;
    std::unique_ptr<QTemporaryDir> cache;
    QPointer<MosaicWindow> mosaicWindow;
    QProgressBar* progressBar = nullptr;
    QPushButton* cancelButton = nullptr;
    QAction* viewMosaicAction = nullptr;
    MosaicSaver* saver = nullptr;
    QTimer* refreshTimer = nullptr;
    // The outcome short enough for a status line.
    QString summary;
    bool stitching = false;
    bool mosaicReady = false;
    bool unsaved = false;
    // The scale of the mosaic in hand, for the marks written beside it.
    double mosaicUmPerPx = 0.0;
    int tilesTaken = 0;
    // Tiles the stitcher could not store, and why the first could not.
    int unstored = 0;
    QString firstUnstored;
    // The grid of the scan whose focus points are being taken.
    TileGrid pendingGrid;
    // The stage z of every tile taken, in µm, for the mosaic's position.
    QVector<double> tileZUm;
    // The light correction learnt in this session, for the next scan at its picture size.
    std::shared_ptr<const FlatField> learntLight;
};
