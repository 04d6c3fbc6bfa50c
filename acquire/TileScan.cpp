#include "acquire/TileScan.h"

#include "acquire/ScanTiming.h"

#include <QLineF>
#include <QTimer>

#include <cmath>

TileScan::TileScan(SessionLink& link, ScanTiming& scanTiming, QObject* parent)
    : QObject(parent)
    , stage(link)
    , timing(scanTiming)
{
    stage.requeryIntervalMs = 50;
    connect(&stage, &Stage::reported, this, [this](const CoordinateTriple& reported) {
        position = reported;
        emit positionReported(position);
    });
    connect(&stage, &Stage::arrived, this, &TileScan::stepArrived);
    connect(&stage, &Stage::frameArrived, this, &TileScan::frameReply);
    connect(&stage, &Stage::failed, this, &TileScan::stepFailed);
}

QSize TileScan::pictureOf(int pictureSize)
{
    static const QSize sizes[] = {QSize(640, 480), QSize(800, 600), QSize(1024, 768), QSize(1280, 960)};
    return pictureSize >= 1 && pictureSize <= 4 ? sizes[pictureSize - 1] : QSize();
}

QString TileScan::tileName(int row, int col)
{
    return QStringLiteral("row %1, column %2").arg(row + 1).arg(col + 1);
}

void TileScan::start(const TileGrid& grid, int size, int every, const CoordinateTriple& from,
                     const QHash<int, Frame>& before)
{
    if (running || !grid.isValid())
        return;
    plan = grid;
    order = grid.serpentine();
    missingIds.clear();
    pictureSize = size;
    autofocusEvery = every;
    index = 0;
    done = 0;
    cancelling = false;
    running = true;
    position = from;
    taken.clear();
    QVector<QPointF> takenUm;
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        if (it.key() >= 0 && it.key() < grid.count() && it->image.size() == grid.picture) {
            taken.insert(it.key(), *it);
            takenUm.append(grid.centreUm(it.key() / grid.cols, it.key() % grid.cols));
        }
    handedOn = 0;
    firstEstimateSeconds = ScanTiming::tilesSeconds(grid, micrometres(from), every, timing.model(), takenUm);
    scanClock.start();
    emit progress(0, total(), firstEstimateSeconds);
    beginTile();
}

void TileScan::cancel()
{
    if (running)
        cancelling = true;
}

void TileScan::cancelBeforeStart(const TileGrid& grid)
{
    if (running)
        return;
    plan = grid;
    order = grid.serpentine();
    missingIds.clear();
    index = done = 0;
    emit finished(true);
}

void TileScan::abort()
{
    taken.clear();
    running = false;
    step = Step::Idle;
    stage.stop();
}

void TileScan::beginTile()
{
    const QPoint tile = order.at(index);
    if (const int id = tile.y() * plan.cols + tile.x(); taken.contains(id)) {
        handOn(id, tile);
        return;
    }
    const QPointF centre = plan.centreUm(tile.y(), tile.x());
    target = position;
    target.x = float(std::trunc(centre.x() * 10.0));
    target.y = float(std::trunc(centre.y() * 10.0));
    if (const double z = focusUm ? focusUm(centre) : std::nan(""); std::isfinite(z) && z >= 0.0)
        target.z = float(std::trunc(z * 10.0));
    moveDistanceUm = QLineF(micrometres(position), micrometres(target)).length();
    attempt = 0;
    sendMove();
}

void TileScan::handOn(int id, const QPoint& tile)
{
    handed = taken.take(id);
    handing = true;
    ++handedOn;
    emit tileTaken(id, tile.y(), tile.x(), micrometres(handed.at), handed.image);
    handing = false;
    handed = Frame();
    nextTile();
}

void TileScan::sendMove()
{
    step = Step::Move;
    stage.setPosition(position);
    stage.moveTo(target.x, target.y, target.z);
    stepClock.start();
}

void TileScan::sendFocus()
{
    step = Step::Focus;
    stage.autofocus(false);
    stepClock.start();
}

void TileScan::sendFrame()
{
    step = Step::Frame;
    stage.picture(pictureSize);
    stepClock.start();
}

void TileScan::stepArrived()
{
    attempt = 0;
    if (step == Step::Move) {
        timing.addMove(moveDistanceUm, double(stepClock.elapsed()));
        if (autofocusEvery > 0 && index % autofocusEvery == 0)
            sendFocus();
        else
            sendFrame();
    } else {
        timing.addAutofocus(double(stepClock.elapsed()));
        sendFrame();
    }
}

void TileScan::frameReply(const QImage& frame)
{
    if (!running || step != Step::Frame)
        return;
    // A picture of another size cannot take this tile's place in the mosaic.
    if (frame.size() != plan.picture) {
        stepFailed(QStringLiteral("the picture was %1 x %2 pixels").arg(frame.width()).arg(frame.height()));
        return;
    }
    timing.addFrame(double(stepClock.elapsed()));
    const QPoint tile = order.at(index);
    emit tileTaken(tile.y() * plan.cols + tile.x(), tile.y(), tile.x(), micrometres(position), frame);
    nextTile();
}

void TileScan::stepFailed(const QString& reason)
{
    if (!running)
        return;
    const QPoint tile = order.at(index);
    const QString name = QStringLiteral("Tile ") + tileName(tile.y(), tile.x());
    const QString what = step == Step::Frame   ? QStringLiteral("frame")
                         : step == Step::Focus ? QStringLiteral("autofocus")
                                               : QStringLiteral("move");
    if (attempt == 0) {
        ++attempt;
        emit notice(QStringLiteral("%1: %2 failed (%3); trying again.").arg(name, what, reason));
        if (step == Step::Move)
            sendMove();
        else if (step == Step::Focus)
            sendFocus();
        else
            sendFrame();
        return;
    }
    if (step == Step::Focus) {
        // A tile out of focus is still a tile: take it where the stage is.
        emit notice(QStringLiteral("%1: autofocus failed again (%2); the frame is taken at the present focus.")
                        .arg(name, reason));
        attempt = 0;
        sendFrame();
        return;
    }
    const int id = tile.y() * plan.cols + tile.x();
    missingIds.append(id);
    emit tileMissing(id, tile.y(), tile.x(), QStringLiteral("%1 failed twice (%2)").arg(what, reason));
    nextTile();
}

void TileScan::nextTile()
{
    ++done;
    ++index;
    // tiles handed on take no time: the rest is the time per tile the stage took
    const int shot = done - handedOn;
    const int toShoot = total() - done - int(taken.size());
    const double left = shot > 0 ? double(scanClock.elapsed()) / 1000.0 / shot * toShoot : firstEstimateSeconds;
    emit progress(done, total(), left);
    waitToBegin();
}

void TileScan::waitToBegin()
{
    if (!running)
        return;
    const bool more = !cancelling && index < order.size();
    if (more && holdNextTile && holdNextTile()) {
        QTimer::singleShot(20, this, &TileScan::waitToBegin);
        return;
    }
    if (!more) {
        const bool cancelled = index < order.size();
        taken.clear();
        running = false;
        step = Step::Idle;
        emit finished(cancelled);
        return;
    }
    beginTile();
}
