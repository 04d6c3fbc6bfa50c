#include "session/FocusMapRun.h"

#include "acquire/ScanTiming.h"
#include "session/FocusMeasure.h"

#include <QLineF>

#include <algorithm>
#include <cmath>

namespace {

// n indices from 0 to last, evenly spread, ends included.
QVector<int> spread(int n, int last)
{
    QVector<int> out;
    for (int i = 0; i < n; ++i)
        out.append(n == 1 ? last / 2 : int(std::lround(double(i) * last / (n - 1))));
    return out;
}

} // namespace

FocusMapRun::FocusMapRun(SessionLink& link, ScanTiming& scanTiming, QObject* parent)
    : QObject(parent)
    , stage(link)
    , timing(scanTiming)
{
    stage.requeryIntervalMs = 50;
    connect(&stage, &Stage::reported, this, [this](const CoordinateTriple& reported) {
        at = reported;
        emit positionReported(at);
    });
    connect(&stage, &Stage::arrived, this, &FocusMapRun::stepArrived);
    connect(&stage, &Stage::frameArrived, this, &FocusMapRun::frameReply);
    // A stage that never arrives is not tried again.
    connect(&stage, &Stage::failed, this,
            [this](const QString& reason, Stage::Failure kind) { failed(reason, kind != Stage::Failure::NoArrival); });
}

QVector<int> FocusMapRun::tilesFor(const TileGrid& grid)
{
    QVector<int> out;
    if (!grid.isValid())
        return out;
    const QVector<int> rows = spread(std::min(3, grid.rows), grid.rows - 1);
    QVector<int> cols = spread(std::min(3, grid.cols), grid.cols - 1);
    for (int r : rows) {
        for (int c : cols)
            out.append(r * grid.cols + c);
        std::reverse(cols.begin(), cols.end());
    }
    return out;
}

QVector<QPointF> FocusMapRun::pointsFor(const TileGrid& grid)
{
    QVector<QPointF> out;
    for (int id : tilesFor(grid))
        out.append(grid.centreUm(id / grid.cols, id % grid.cols));
    return out;
}

QString FocusMapRun::describe(const FocusSurface& surface, int tried)
{
    if (!surface.isValid())
        return QStringLiteral("Focus map: no point found focus; the tiles keep the present focus.");
    QString text = QStringLiteral("Focus map: %1 of %2 points, %3")
                       .arg(surface.points().size())
                       .arg(tried)
                       .arg(surface.kindName());
    for (const FocusSurface::Point& p : surface.rejected())
        text += QStringLiteral("; the point at %1, %2 µm left out: its z, %3 µm, is far off the others")
                    .arg(p.xUm, 0, 'f', 1)
                    .arg(p.yUm, 0, 'f', 1)
                    .arg(p.zUm, 0, 'f', 1);
    return text + QLatin1Char('.');
}

QVector<std::pair<QString, QString>> FocusMapRun::fileNotes(const FocusSurface& surface, int tried)
{
    QVector<std::pair<QString, QString>> notes{
        {QStringLiteral("Focus surface"), surface.kindName()},
        {QStringLiteral("Focus points found"), QStringLiteral("%1 of %2").arg(surface.points().size()).arg(tried)}};
    int n = 0;
    for (const FocusSurface::Point& p : surface.points())
        notes.append({QStringLiteral("Focus point %1 (x, y, z in µm)").arg(++n),
                      QStringLiteral("%1 %2 %3").arg(p.xUm, 0, 'f', 1).arg(p.yUm, 0, 'f', 1).arg(p.zUm, 0, 'f', 1)});
    return notes;
}

void FocusMapRun::start(const TileGrid& grid, int size, const CoordinateTriple& from)
{
    if (running)
        return;
    points = pointsFor(grid);
    pointTiles = tilesFor(grid);
    pictureSize = size;
    hits.clear();
    hitNumbers.clear();
    hitTextures.clear();
    hitTiles.clear();
    hitFrames.clear();
    at = from;
    index = 0;
    cancelling = false;
    running = true;
    emit progress(0, points.size());
    nextPoint();
}

void FocusMapRun::cancel()
{
    if (running)
        cancelling = true;
}

void FocusMapRun::abort()
{
    running = false;
    step = Step::Idle;
    stage.stop();
}

void FocusMapRun::nextPoint()
{
    if (!running)
        return;
    if (cancelling || index >= points.size()) {
        running = false;
        step = Step::Idle;
        dropBareGlass();
        emit finished(index < points.size());
        return;
    }
    beginPoint();
}

void FocusMapRun::beginPoint()
{
    target = at;
    target.x = float(std::trunc(points[index].x() * 10.0));
    target.y = float(std::trunc(points[index].y() * 10.0));
    moveDistanceUm = QLineF(micrometres(at), micrometres(target)).length();
    attempt = 0;
    step = Step::Move;
    stage.setPosition(at);
    stage.moveTo(target.x, target.y, target.z);
    stepClock.start();
}

void FocusMapRun::sendFocus()
{
    step = Step::Focus;
    stage.autofocus(false);
    stepClock.start();
}

void FocusMapRun::sendFrame()
{
    step = Step::Frame;
    stage.picture(pictureSize);
    stepClock.start();
}

void FocusMapRun::stepArrived()
{
    attempt = 0;
    if (step == Step::Move) {
        timing.addMove(moveDistanceUm, double(stepClock.elapsed()));
        sendFocus();
        return;
    }
    timing.addAutofocus(double(stepClock.elapsed()));
    sendFrame();
}

void FocusMapRun::frameReply(const QImage& frame)
{
    if (!running || step != Step::Frame)
        return;
    timing.addFrame(double(stepClock.elapsed()));
    hits.push_back({double(at.x) / 10.0, double(at.y) / 10.0, double(at.z) / 10.0});
    hitNumbers.append(index + 1);
    hitTextures.append(FocusMeasure::texture(frame));
    hitTiles.append(pointTiles[index]);
    hitFrames.append({at, frame, stage.frameBytes()});
    ++index;
    emit progress(index, points.size());
    nextPoint();
}

void FocusMapRun::dropBareGlass()
{
    const QVector<bool> glass = FocusMeasure::bareGlass(hitTextures);
    std::vector<FocusSurface::Point> kept;
    QVector<int> keptTiles;
    QVector<TileScan::Frame> keptFrames;
    for (int i = 0; i < glass.size(); ++i) {
        if (!glass[i]) {
            kept.push_back(hits[size_t(i)]);
            keptTiles.append(hitTiles[i]);
            keptFrames.append(hitFrames[i]);
            continue;
        }
        emit notice(QStringLiteral("Focus point %1 at %2, %3 µm left out: its frame shows nothing to focus on "
                                   "(bare glass?).")
                        .arg(hitNumbers[i])
                        .arg(hits[size_t(i)].xUm, 0, 'f', 1)
                        .arg(hits[size_t(i)].yUm, 0, 'f', 1));
    }
    hits = std::move(kept);
    hitTiles = keptTiles;
    hitFrames = keptFrames;
}

QHash<int, TileScan::Frame> FocusMapRun::takeTileFrames(const FocusSurface& surface)
{
    QHash<int, TileScan::Frame> out;
    for (size_t i = 0; i < hits.size(); ++i) {
        const FocusSurface::Point& hit = hits[i];
        const auto& rejected = surface.rejected();
        if (std::none_of(rejected.cbegin(), rejected.cend(),
                         [&hit](const FocusSurface::Point& p) { return p.xUm == hit.xUm && p.yUm == hit.yUm; }))
            out.insert(hitTiles[int(i)], hitFrames[int(i)]);
    }
    hitFrames.fill(TileScan::Frame());
    return out;
}

void FocusMapRun::failed(const QString& reason, bool retry)
{
    if (!running)
        return;
    const QString what = step == Step::Move    ? QStringLiteral("move")
                         : step == Step::Focus ? QStringLiteral("autofocus")
                                               : QStringLiteral("frame");
    if (retry && attempt == 0) {
        ++attempt;
        emit notice(QStringLiteral("Focus point %1: %2 failed (%3); trying again.").arg(index + 1).arg(what, reason));
        if (step == Step::Move) {
            beginPoint();
            attempt = 1;
        } else if (step == Step::Focus) {
            sendFocus();
        } else {
            sendFrame();
        }
        return;
    }
    emit notice(QStringLiteral("Focus point %1 left out: %2 failed (%3).").arg(index + 1).arg(what, reason));
    ++index;
    emit progress(index, points.size());
    nextPoint();
}
