#pragma once

#include "acquire/CoordinateTriple.h"
#include "acquire/Stage.h"
#include "acquire/TileGrid.h"
#include "acquire/TileScan.h"
#include "imaging/FocusSurface.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointF>
#include <QVector>

#include <utility>
#include <vector>

class ScanTiming;
class SessionLink;

// The focus points of a region scan taken before its tiles: at each point a
// move (waiting for the stage's "+"), a quick autofocus and one frame at the
// scan's picture size. The server's autofocus answers with some z even over
// bare glass, so the frames judge it: a point whose frame shows no tissue
// (FocusMeasure::bareGlass) is left out and named. A step the server does not
// answer is tried once more, then the point is left out too. The z found make
// the scan's focus surface; each point's frame, focused there, is the tile
// there, so the tiles need not go back for it.
class FocusMapRun : public QObject
{
    Q_OBJECT

public:
    FocusMapRun(SessionLink& link, ScanTiming& timing, QObject* parent = nullptr);

    // Up to 3 x 3 tile centres spread over the grid, corners included, in
    // the order the stage visits them (rows alternating, like the tiles).
    static QVector<QPointF> pointsFor(const TileGrid& grid);
    // Those tiles' ids (row * cols + col), in the same order.
    static QVector<int> tilesFor(const TileGrid& grid);

    // One line on the surface fitted through `tried` points.
    static QString describe(const FocusSurface& surface, int tried);
    // The surface and its points as a saved mosaic keeps them.
    static QVector<std::pair<QString, QString>> fileNotes(const FocusSurface& surface, int tried);

    // Visits the points of `grid` from the stage at `from`, taking frames of
    // picture size `pictureSize` (TileScan::pictureOf). Ignored while running.
    void start(const TileGrid& grid, int pictureSize, const CoordinateTriple& from);
    // Stops after the current point.
    void cancel();
    // Stops at once and reports nothing more.
    void abort();

    bool isRunning() const { return running; }
    bool cancelRequested() const { return cancelling; }
    // The points where autofocus found focus on something, in µm.
    const std::vector<FocusSurface::Point>& found() const { return hits; }
    // Where the stage stood last: the tiles start from there.
    const CoordinateTriple& position() const { return at; }
    // Hands over the frames of the points found that `surface` (fitted
    // through found()) holds, by tile id: a point it rejects for its z is
    // taken again. Held here no longer, they go once TileScan has passed them on.
    QHash<int, TileScan::Frame> takeTileFrames(const FocusSurface& surface);

signals:
    void positionReported(CoordinateTriple& position);
    void notice(const QString& text);
    void progress(int pointsDone, int total);
    void finished(bool cancelled);

private:
    enum class Step { Idle, Move, Focus, Frame };

    void beginPoint();
    void sendFocus();
    void sendFrame();
    void stepArrived();
    void frameReply(const QImage& frame);
    // Leaves out the points whose frames show bare glass, naming them.
    void dropBareGlass();
    void failed(const QString& reason, bool retry);
    void nextPoint();

    Stage stage;
    ScanTiming& timing;
    QElapsedTimer stepClock;
    QVector<QPointF> points;
    QVector<int> pointTiles;
    std::vector<FocusSurface::Point> hits;
    // Per hit: its point's number from 1, its frame's FocusMeasure::texture, its tile and frame.
    QVector<int> hitNumbers;
    QVector<double> hitTextures;
    QVector<int> hitTiles;
    QVector<TileScan::Frame> hitFrames;
    int pictureSize = 1;
    CoordinateTriple at;
    CoordinateTriple target;
    double moveDistanceUm = 0.0;
    int index = 0;
    int attempt = 0;
    Step step = Step::Idle;
    bool running = false;
    bool cancelling = false;
};
