#include "session/RegionScan.h"

#include "acquire/ControlClock.h"
#include "acquire/ScanTiming.h"
#include "acquire/ScopeInfo.h"
#include "acquire/SessionLink.h"
#include "imaging/FlatField.h"
#include "imaging/FlatFieldEstimator.h"
#include "imaging/MosaicStitcher.h"
#include "session/MosaicSaver.h"
#include "session/Session.h"
#include "views/MosaicView.h"
#include "views/MosaicWindow.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>

namespace {

QString duration(double seconds)
{
    const int s = int(std::max(0.0, seconds) + 0.5);
    if (s < 60)
        return QStringLiteral("%1 s").arg(s);
    if (s < 3600)
        return QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1 h %2 min").arg(s / 3600).arg((s % 3600) / 60, 2, 10, QLatin1Char('0'));
}

} // namespace

RegionScan::RegionScan(const Engine* owner, Session* window, std::function<ScanSettings()> asked)
    : QObject(window)
    , scan(owner->link, owner->scanTiming)
    , focusRun(owner->link, owner->scanTiming)
    , engine(*owner)
    , session(window)
    , settings(std::move(asked))
{
    // One thread keeps the tiles in order and lets the stitcher's queue wait there, not here.
    feeder.setMaxThreadCount(1);

    progressBar = new QProgressBar(session);
    progressBar->setObjectName(QStringLiteral("scanProgress"));
    progressBar->setMaximumWidth(220);
    progressBar->hide();
    cancelButton = new QPushButton(QStringLiteral("Cancel"), session);
    cancelButton->setObjectName(QStringLiteral("scanCancelButton"));
    cancelButton->hide();
    refreshTimer = new QTimer(this);
    refreshTimer->setSingleShot(true);
    refreshTimer->setInterval(250);

    connect(cancelButton, &QPushButton::clicked, this, &RegionScan::cancelScan);
    viewMosaicAction = new QAction(QStringLiteral("&Mosaic Window"), session);
    viewMosaicAction->setObjectName(QStringLiteral("viewMosaicAction"));
    viewMosaicAction->setEnabled(false);
    connect(viewMosaicAction, &QAction::triggered, this, &RegionScan::showMosaicWindow);
    connect(refreshTimer, &QTimer::timeout, this, &RegionScan::refreshMosaic);
    // Queued: after the window has taken its controls back.
    connect(
        &engine.clock, &ControlClock::expired, this,
        [this] {
            if (isRunning() && !scan.cancelRequested() && !focusRun.cancelRequested()) {
                scan.cancel();
                focusRun.cancel();
                emit message(QStringLiteral("***Region scan stopped: the control time has run out."));
            }
        },
        Qt::QueuedConnection);

    connect(&scan, &TileScan::positionReported, this, &RegionScan::stageReported);
    connect(&focusRun, &FocusMapRun::positionReported, this, &RegionScan::stageReported);
    connect(&focusRun, &FocusMapRun::notice, this, &RegionScan::message);
    connect(&focusRun, &FocusMapRun::finished, this, &RegionScan::focusMapped);
    connect(&focusRun, &FocusMapRun::progress, this, [this](int done, int total) {
        if (focusRun.cancelRequested())
            return;
        const QString text = QStringLiteral("Focus map: %1 of %2 points").arg(done).arg(total);
        emit status(text);
        if (mosaicWindow)
            mosaicWindow->setState(text);
    });
    // The stitcher holds a few tiles itself; more waiting here would grow with the scan.
    scan.holdNextTile = [this] { return tilesQueued > 2; };
    connect(&scan, &TileScan::tileTaken, this,
            [this](int id, int row, int col, QPointF reportedUm, const QImage& frame) {
                ++tilesTaken;
                tileZUm.append(double(scan.framePosition().z) * 0.1);
                const ScanTile tile{id, row, col, reportedUm};
                MosaicStitcher* target = mosaic.get();
                ++tilesQueued;
                feed([this, target, tile, frame, jpeg = scan.frameBytes()] {
                    target->addTile(tile, frame, jpeg);
                    --tilesQueued;
                });
                emit tileShown(frame);
            });
    connect(&scan, &TileScan::tileMissing, this, [this](int id, int row, int col, const QString& reason) {
        MosaicStitcher* target = mosaic.get();
        feed([target, id] { target->markMissing(id); });
        emit message(QStringLiteral("Tile %1 is missing: %2.").arg(TileScan::tileName(row, col), reason));
    });
    connect(&scan, &TileScan::notice, this, &RegionScan::message);
    connect(&scan, &TileScan::progress, this, &RegionScan::showProgress);
    connect(&scan, &TileScan::finished, this, &RegionScan::scanFinished);
    saver = new MosaicSaver(session, progressBar, storageProbe, this);
    connect(saver, &MosaicSaver::message, this, &RegionScan::message);
    connect(saver, &MosaicSaver::saved, this, [this](bool ok) { unsaved = unsaved && !ok; });
    connect(saver, &MosaicSaver::saved, this, &RegionScan::saved);
}

RegionScan::~RegionScan()
{
    scan.abort();
    focusRun.abort();
    saver->cancel();
    saver->waitForFinished();
    if (mosaic)
        mosaic->cancel();
    feeder.waitForDone();
    delete mosaicWindow.data();
}

bool RegionScan::isBusy() const
{
    return isRunning() || stitching || saver->isRunning();
}

QList<QWidget*> RegionScan::statusWidgets() const
{
    return {progressBar, cancelButton};
}

TileGrid RegionScan::plannedGrid() const
{
    const ScanSettings now = settings();
    const CoordinateTriple& tl = now.topLeft;
    const CoordinateTriple& br = now.bottomRight;
    TileGrid grid = TileGrid::plan(QPointF(tl.x * 1000.0, tl.y * 1000.0), QPointF(br.x * 1000.0, br.y * 1000.0),
                                   TileScan::pictureOf(now.pictureSize), engine.scopeInfo.mppX, engine.scopeInfo.mppY,
                                   now.overlapPercent);
    const bool unset = (tl.x == 0.0f && tl.y == 0.0f) || (br.x == 0.0f && br.y == 0.0f);
    if (unset && grid.refusal.isEmpty())
        grid.refusal = QStringLiteral("Set the top left and the bottom right corner of the region first.");
    return grid;
}

int RegionScan::autofocusEvery() const
{
    const ScanSettings now = settings();
    const int choice = now.focusChoice;
    return choice == 0 || choice == 3 ? 0 : choice == 1 ? 1 : now.focusEvery;
}

QVector<QPointF> RegionScan::plannedFocusPoints(const TileGrid& grid) const
{
    return settings().focusChoice == 3 ? FocusMapRun::pointsFor(grid) : QVector<QPointF>();
}

QString RegionScan::refusal(const TileGrid& grid, double seconds) const
{
    if (engine.clock.controlExpired)
        return QStringLiteral("Your control time has expired.");
    if (isBusy())
        return QStringLiteral("The last region scan is still being stitched or saved.");
    if (!grid.isValid())
        return grid.refusal;
    if (settings().stageBusy)
        return QStringLiteral("Wait until the stage is free: a move, an autofocus or a focus stack is running.");
    if (!engine.clock.countdownTimer.isActive())
        return QStringLiteral("The remaining control time is not known yet; try again in a moment.");
    if (seconds > engine.clock.remainingSeconds)
        return QStringLiteral("The scan of %1 tiles would take about %2, but only %3 of control time are left. "
                              "Mark a smaller region, lower the overlap or autofocus less often.")
            .arg(grid.count())
            .arg(duration(seconds), duration(engine.clock.remainingSeconds));
    return roomRefusal(grid);
}

QString RegionScan::roomRefusal(const TileGrid& grid) const
{
    const QSize mosaicPx(int((grid.cols - 1) * grid.stepUm.width() / grid.umPerPxX) + grid.picture.width(),
                         int((grid.rows - 1) * grid.stepUm.height() / grid.umPerPxY) + grid.picture.height());
    // the live video runs at the picture size the scan takes
    const qint64 tile = ScanStorage::tileBytes(grid.picture, settings().liveFrameBytes);
    const QString output = saver->lastPath().isEmpty() ? QDir::homePath() : QFileInfo(saver->lastPath()).absolutePath();
    return ScanStorage::refusal({{ScanStorage::cacheFolder(), tile * grid.count(), QStringLiteral("the tiles")},
                                 {output, ScanStorage::mosaicBytes(mosaicPx), QStringLiteral("the mosaic")}},
                                storageProbe);
}

double RegionScan::estimate(const TileGrid& grid, const ScanSettings& now) const
{
    return ScanTiming::estimateSeconds(grid, micrometres(now.position), autofocusEvery(), engine.scanTiming.model(),
                                       plannedFocusPoints(grid));
}

void RegionScan::updatePlan()
{
    const TileGrid grid = plannedGrid();
    if (!grid.isValid()) {
        emit planChanged(QString());
        return;
    }
    const double seconds = estimate(grid, settings());
    emit planChanged(QStringLiteral("%1 × %2 tiles, about %3").arg(grid.cols).arg(grid.rows).arg(duration(seconds)));
}

void RegionScan::startOrCancel()
{
    if (isRunning()) {
        cancelScan();
        return;
    }
    updatePlan();
    const TileGrid grid = plannedGrid();
    const double seconds = estimate(grid, settings());
    const QString why = refusal(grid, seconds);
    if (!why.isEmpty()) {
        QMessageBox::warning(session, QStringLiteral("Cannot scan the region"), why, QMessageBox::Ok);
        return;
    }
    QString text = QStringLiteral("Scan %1 tiles (%2 × %3) of %4 × %5 pixels? It takes about %6; %7 of control "
                                  "time are left.")
                       .arg(grid.count())
                       .arg(grid.cols)
                       .arg(grid.rows)
                       .arg(grid.picture.width())
                       .arg(grid.picture.height())
                       .arg(duration(seconds), duration(engine.clock.remainingSeconds));
    if (unsaved)
        text += QStringLiteral("\n\nThe mosaic of the last scan has not been saved and will be replaced.");
    QMessageBox box(QMessageBox::Question, QStringLiteral("Scan Region"), text, QMessageBox::NoButton, session);
    QPushButton* go = box.addButton(QStringLiteral("Start Scan"), QMessageBox::AcceptRole);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(go);
    box.exec();
    if (box.clickedButton() != go)
        return;
    // The session may have changed while the question was open.
    const QString late = refusal(grid, seconds);
    if (!late.isEmpty()) {
        QMessageBox::warning(session, QStringLiteral("Cannot scan the region"), late, QMessageBox::Ok);
        return;
    }
    begin(grid);
}

void RegionScan::begin(const TileGrid& grid)
{
    if (mosaic)
        mosaic->cancel();
    feeder.waitForDone();
    if (mosaicWindow) {
        mosaicWindow->view->setMosaic(QSize(), 0, 0, QPointF(), {});
        mosaicWindow->view->setFocusPoints({}, QString());
    }
    mosaic.reset();
    cache = std::make_unique<QTemporaryDir>(ScanStorage::cacheFolder() + QStringLiteral("/tessan-mosaic-XXXXXX"));
    mosaic = std::make_unique<MosaicStitcher>();
    MosaicPlan plan = grid.mosaicPlan(cache->path());
    mosaicUmPerPx = grid.umPerPxX;
    const ScanSettings now = settings();
    plan.correctLight = now.correctLight;
    plan.flatField = learntLight;
    QString error;
    if (!cache->isValid() || !mosaic->begin(plan, &error)) {
        result = QStringLiteral("***The region scan cannot start: no room for its tiles (%1).")
                     .arg(error.isEmpty() ? cache->errorString() : error);
        emit message(result);
        mosaic.reset();
        return;
    }
    connect(mosaic.get(), &MosaicStitcher::tilePlaced, this, [this] {
        if (!refreshTimer->isActive())
            refreshTimer->start();
    });
    connect(mosaic.get(), &MosaicStitcher::stitched, this, &RegionScan::stitched);
    connect(mosaic.get(), &MosaicStitcher::problem, this,
            [this](const QString& text) { emit message(QStringLiteral("***Mosaic: ") + text); });
    // Queued from the stitcher's thread: the scan stops, the tiles kept so far stay.
    connect(mosaic.get(), &MosaicStitcher::storageFailed, this, [this](const QString& text) {
        if (unstored++ == 0)
            firstUnstored = text;
        if (!scan.isRunning() || scan.cancelRequested())
            return;
        scan.cancel();
        emit message(QStringLiteral("***Region scan stopped: a tile could not be stored. ") + text);
        emit status(QStringLiteral("Region scan stopped: ") + text);
    });
    unstored = 0;

    mosaicReady = false;
    unsaved = false;
    tilesTaken = 0;
    tileZUm.clear();
    emit mosaicSavable(false);
    showMosaicWindow();
    MosaicStitcher* source = mosaic.get();
    mosaicWindow->view->setMosaic(
        source->mosaicSize(), grid.umPerPxX, grid.umPerPxY, source->mosaicOriginUm(),
        [source](const QRectF& area, const QSize& out) { return source->preview(area, out); });
    mosaicWindow->saveMosaicAction->setEnabled(false);

    emit stageHeld(true);
    setPageEnabled(false);
    progressBar->setRange(0, grid.count());
    progressBar->setValue(0);
    progressBar->show();
    cancelButton->show();
    emit message(
        QStringLiteral("Region scan of %1 tiles (%2 × %3) started.").arg(grid.count()).arg(grid.cols).arg(grid.rows));
    focusSurface = FocusSurface();
    scan.focusUm = nullptr;
    pendingGrid = grid;
    position = now.position;
    if (!plannedFocusPoints(grid).isEmpty()) {
        focusRun.start(grid, now.pictureSize, position);
        return;
    }
    scan.start(grid, now.pictureSize, autofocusEvery(), position);
}

void RegionScan::focusMapped(bool cancelled)
{
    const int tried = plannedFocusPoints(pendingGrid).size();
    focusSurface = FocusSurface::fit(focusRun.found());
    QVector<QVector3D> shown;
    for (const FocusSurface::Point& p : focusSurface.points())
        shown.append(QVector3D(float(p.xUm), float(p.yUm), float(p.zUm)));
    const QString text = FocusMapRun::describe(focusSurface, tried);
    if (mosaicWindow)
        mosaicWindow->view->setFocusPoints(shown, text);
    if (cancelled) {
        scan.cancelBeforeStart(pendingGrid);
        return;
    }
    emit message(focusSurface.isValid() ? text : QStringLiteral("***") + text);
    if (focusSurface.isValid()) {
        mosaic->setAnnotation(QStringLiteral("tessan:focus-map"), FocusMapRun::fileNotes(focusSurface, tried));
        scan.focusUm = [surface = focusSurface](const QPointF& c) { return surface.at(c.x(), c.y()); };
    }
    scan.start(pendingGrid, settings().pictureSize, 0, focusRun.position(), focusRun.takeTileFrames(focusSurface));
}

void RegionScan::stageReported(CoordinateTriple& reported)
{
    position = reported;
    emit positionReported(reported);
}

void RegionScan::cancelScan()
{
    if (!isRunning())
        return;
    scan.cancel();
    focusRun.cancel();
    cancelButton->setEnabled(false);
    emit status(QStringLiteral("Cancelling the region scan after this tile..."));
}

void RegionScan::showProgress(int done, int total, double secondsLeft)
{
    progressBar->setValue(done);
    progressBar->setFormat(QStringLiteral("%1 of %2 tiles").arg(done).arg(total));
    if (scan.cancelRequested())
        return;
    QString text = QStringLiteral("Scanning region: %1 of %2 tiles, about %3 left")
                       .arg(done)
                       .arg(total)
                       .arg(duration(secondsLeft));
    // The progress takes the status bar: the control-time warning stays in it.
    if (engine.clock.countdownTimer.isActive() && engine.clock.remainingSeconds <= 300)
        text += QStringLiteral(" (%1 of control time left)").arg(duration(engine.clock.remainingSeconds));
    emit status(text);
    if (mosaicWindow)
        mosaicWindow->setState(text);
}

void RegionScan::scanFinished(bool cancelled)
{
    const TileGrid& grid = scan.grid();
    // Tiles never reached keep their place in the mosaic, shown as missing.
    if (cancelled) {
        QVector<bool> seen(grid.count(), false);
        const QVector<QPoint> order = grid.serpentine();
        for (int i = 0; i < scan.tilesDone(); ++i)
            seen[order[i].y() * grid.cols + order[i].x()] = true;
        for (int id = 0; id < grid.count(); ++id)
            if (!seen[id]) {
                MosaicStitcher* target = mosaic.get();
                feed([target, id] { target->markMissing(id); });
            }
    }
    QStringList names;
    for (int id : scan.missing())
        names << TileScan::tileName(id / grid.cols, id % grid.cols);
    if (cancelled)
        result = QStringLiteral("Region scan cancelled after %1 of %2 tiles; the mosaic keeps the %3 taken.")
                     .arg(scan.tilesDone())
                     .arg(grid.count())
                     .arg(tilesTaken);
    else
        result = QStringLiteral("Region scan done: %1 of %2 tiles taken.").arg(tilesTaken).arg(grid.count());
    // The messages name every missing tile; the one-line displays the first few.
    summary = result;
    if (!names.isEmpty()) {
        result = QStringLiteral("***") + result + QStringLiteral(" Missing: ") + names.join(QStringLiteral("; ")) +
                 QLatin1Char('.');
        summary += names.size() <= 2
                       ? QStringLiteral(" Missing: ") + names.join(QStringLiteral("; ")) + QLatin1Char('.')
                       : QStringLiteral(" Missing: %1 tiles, first %2.").arg(names.size()).arg(names[0]);
    }
    emit message(result);

    saver->describeScan(mosaic.get(), grid, settings().overlapPercent, autofocusEvery(), tileZUm);

    stitching = true;
    MosaicStitcher* target = mosaic.get();
    feed([target] { target->finish(); });
    progressBar->setRange(0, 0);
    progressBar->setFormat(QStringLiteral("stitching"));
    cancelButton->hide();
    cancelButton->setEnabled(true);
    emit takingTiles(false);
    emit status(QStringLiteral("Stitching the mosaic..."));
    if (mosaicWindow)
        mosaicWindow->setState(QStringLiteral("Stitching..."));
    // The stage is free again: a fresh live frame shows where it stands and releases the controls.
    emit stageHeld(false);
    updatePlan();
}

void RegionScan::stitched()
{
    if (!stitching)
        return;
    stitching = false;
    // A scan whose every tile failed leaves nothing worth a file.
    mosaicReady = tilesTaken > 0;
    unsaved = mosaicReady;
    if (mosaic->flatField())
        learntLight = mosaic->flatField();
    else if (mosaic->plan().correctLight && mosaicReady)
        emit message(QStringLiteral("The light of this mosaic was not evened: its tiles did not show the camera's "
                                    "light clearly enough (it takes at least %1).")
                         .arg(FlatFieldEstimator::kMinSamples));
    if (unstored > 0) {
        // it may come after the scan's own outcome: the mosaic lacks these tiles
        summary = QStringLiteral("%1 tile(s) could not be stored and are missing: %2").arg(unstored).arg(firstUnstored);
        result = QStringLiteral("***") + summary;
        emit message(result);
    }
    progressBar->hide();
    setPageEnabled(true);
    emit mosaicSavable(mosaicReady);
    refreshMosaic();
    const QSize size = mosaic->mosaicSize();
    // Missing tiles stay named in the status bar.
    if (!mosaicReady)
        emit status(QStringLiteral("No tile was taken: there is no mosaic to save."));
    else if (result.startsWith(QLatin1String("***")))
        emit status(summary);
    else
        emit status(QStringLiteral("Mosaic ready: %1 × %2 pixels.").arg(size.width()).arg(size.height()));
    if (mosaicWindow) {
        mosaicWindow->saveMosaicAction->setEnabled(mosaicReady);
        mosaicWindow->setState(summary);
    }
    emit mosaicFinished();
}

void RegionScan::refreshMosaic()
{
    if (!mosaicWindow || !mosaic)
        return;
    mosaicWindow->view->setMosaicGeometry(mosaic->mosaicSize(), mosaic->mosaicOriginUm());
}

void RegionScan::setPageEnabled(bool enabled)
{
    emit takingTiles(!enabled);
    emit pageEnabled(enabled);
}

void RegionScan::showMosaicWindow()
{
    if (!mosaicWindow) {
        mosaicWindow = new MosaicWindow();
        connect(mosaicWindow.data(), &MosaicWindow::saveRequested, this, &RegionScan::saveMosaic);
        connect(mosaicWindow->view, &MosaicView::pointDoubleClicked, this, [this](const QPointF& stageUm) {
            CoordinateTriple destination = settings().position;
            destination.x = float(stageUm.x() * 10.0);
            destination.y = float(stageUm.y() * 10.0);
            emit goToRequested(destination);
        });
    }
    mosaicWindow->show();
    mosaicWindow->raise();
    viewMosaicAction->setEnabled(true);
}

void RegionScan::feed(std::function<void()> work)
{
    feeder.start(std::move(work));
}

void RegionScan::saveMosaic()
{
    if (!mosaicReady || saver->isRunning())
        return;
    QWidget* over = mosaicWindow && mosaicWindow->isActiveWindow() ? static_cast<QWidget*>(mosaicWindow.data())
                                                                   : static_cast<QWidget*>(session);
    const QString path = MosaicSaver::ask(over);
    if (!path.isEmpty())
        saveMosaicTo(path);
}

void RegionScan::saveMosaicTo(const QString& path)
{
    if (!mosaicReady)
        return;
    QWidget* over = mosaicWindow ? static_cast<QWidget*>(mosaicWindow.data()) : static_cast<QWidget*>(session);
    saver->save(mosaic.get(), mosaicUmPerPx, path, over);
}

bool RegionScan::confirmClose()
{
    if (!isRunning() && !unsaved && !saver->isRunning())
        return true;
    const QString text = isRunning() ? QStringLiteral("A region scan is running. Stop it and close the session?")
                         : saver->isRunning() ? QStringLiteral("The mosaic is being saved. Stop saving and close?")
                                              : QStringLiteral("The mosaic has not been saved. Close without saving?");
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Close the session"), text, QMessageBox::NoButton, session);
    QPushButton* close = box.addButton(QStringLiteral("Close Anyway"), QMessageBox::DestructiveRole);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Cancel);
    box.exec();
    return box.clickedButton() == close;
}

void RegionScan::abort()
{
    scan.abort();
    focusRun.abort();
    saver->cancel();
    if (mosaic)
        mosaic->cancel();
    if (mosaicWindow)
        mosaicWindow->close();
}
