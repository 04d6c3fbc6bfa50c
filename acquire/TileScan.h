#pragma once

#include "acquire/CoordinateTriple.h"
#include "acquire/Stage.h"
#include "acquire/TileGrid.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QPointF>
#include <QVector>

#include <functional>

class ScanTiming;
class SessionLink;

// Takes the frames of a region scan, one tile at a time in serpentine order:
// move (waiting for the stage's "+"), a quick autofocus when one is due, one
// frame at the chosen picture size. A failed step is tried once more; a tile
// that fails twice is reported missing and the scan goes on. cancel() lets
// the current tile finish and stops there. A tile whose frame is in hand
// already (a focus point's) is handed on in its turn without a move.
class TileScan : public QObject
{
    Q_OBJECT

public:
    // A frame taken at a tile's centre before the scan, as the server sent it.
    struct Frame
    {
        CoordinateTriple at; // the stage's report when it was taken
        QImage image;
        QByteArray jpeg;
    };

    TileScan(SessionLink& link, ScanTiming& timing, QObject* parent = nullptr);

    // Pixels of the video picture size 1 to 4; empty for any other number.
    static QSize pictureOf(int pictureSize);
    // "row 2, column 3", counted from 1 as the user does.
    static QString tileName(int row, int col);

    // Starts the scan from the stage at `from` (whose z is kept unless an
    // autofocus changes it), focusing before every `autofocusEvery`-th tile
    // (0: never). The tiles in `taken` (by id) are not taken again. Ignored
    // while a scan runs.
    void start(const TileGrid& grid, int pictureSize, int autofocusEvery, const CoordinateTriple& from,
               const QHash<int, Frame>& taken = {});
    void cancel();
    // Ends a scan cancelled before its first tile as a cancelled scan ends:
    // finished(true), every tile of `grid` unreached.
    void cancelBeforeStart(const TileGrid& grid);
    // Stops at once and reports nothing more (the window is closing).
    void abort();

    bool isRunning() const { return running; }
    bool cancelRequested() const { return cancelling; }
    int tilesDone() const { return done; }
    int total() const { return order.size(); }
    // Tile ids (row * cols + col) that failed twice, in scan order.
    const QVector<int>& missing() const { return missingIds; }
    const TileGrid& grid() const { return plan; }
    // The JPEG of the frame tileTaken carries, as the server sent it (valid during the signal).
    const QByteArray& frameBytes() const { return handing ? handed.jpeg : stage.frameBytes(); }
    // Where the stage stood for the frame tileTaken carries (valid during the signal).
    const CoordinateTriple& framePosition() const { return handing ? handed.at : position; }
    // While this says so, the next tile waits: the tiles taken have not been
    // handed on yet, and memory must not grow with the scan.
    std::function<bool()> holdNextTile;
    // While set, each tile's move carries the z this gives for its centre, in µm (a focus map).
    std::function<double(const QPointF& centreUm)> focusUm;

signals:
    void positionReported(CoordinateTriple& position);
    void tileTaken(int id, int row, int col, QPointF reportedUm, const QImage& frame);
    void tileMissing(int id, int row, int col, const QString& reason);
    // Tiles done (taken or missing) of all, and the expected seconds left.
    void progress(int tilesDone, int total, double secondsLeft);
    // A retry or a skipped autofocus, for the session's messages.
    void notice(const QString& text);
    // After the last tile, or after the current one once cancelled. Tiles
    // not reached are not in missing().
    void finished(bool cancelled);

private:
    enum class Step { Idle, Move, Focus, Frame };

    void waitToBegin();
    void beginTile();
    void handOn(int id, const QPoint& tile);
    void sendMove();
    void sendFocus();
    void sendFrame();
    void stepArrived();
    void frameReply(const QImage& frame);
    void stepFailed(const QString& reason);
    void nextTile();

    Stage stage;
    ScanTiming& timing;
    QElapsedTimer stepClock;
    QElapsedTimer scanClock;

    TileGrid plan;
    QVector<QPoint> order;
    QVector<int> missingIds;
    QHash<int, Frame> taken;
    Frame handed;
    bool handing = false;
    int handedOn = 0;
    int pictureSize = 1;
    int autofocusEvery = 0;
    int index = 0;
    int done = 0;
    int attempt = 0;
    Step step = Step::Idle;
    bool running = false;
    bool cancelling = false;
    double firstEstimateSeconds = 0.0;
    double moveDistanceUm = 0.0;
    CoordinateTriple position;
    CoordinateTriple target;
};
