#pragma once

#include "acquire/CoordinateTriple.h"
#include "net/MyHTTP.h"
#include "net/MyWebJPEG.h"

#include <QObject>
#include <QVector>

class SessionLink;

// A focus stack, for the window and the recipes alike: for each plane a stack
// move along z ("f=m&b=y", answered once the stage is there), then one frame,
// then the next plane. Its moves go through a fetcher of its own, not the
// caller's Stage, so a move the user sends meanwhile replaces none of them.
class FocusStackRun : public QObject
{
    Q_OBJECT

public:
    enum class Failure {
        OutOfRange, // the next plane lies outside the focus range; nothing was sent for it
        MoveLost,   // no complete answer to a move
        Refused,    // a '-' answer to a move: the stage never went there
        FrameLost,  // the frame did not come
        Unreadable, // the frame was no picture
    };

    // Stage z (0.1 µm) of plane k of `planes` spanning rangeUm, centred on startZ.
    static double planeZ(double startZ, int k, int planes, double rangeUm);

    explicit FocusStackRun(SessionLink& link, QObject* parent = nullptr);

    // frameUrl: each plane's frame, a whole one or its sampling region. Replaces a run under way.
    void start(const CoordinateTriple& at, int planes, double rangeUm, const QString& frameUrl);
    // Ends at once without a report, dropping the request in flight.
    void stop();
    bool isRunning() const { return running; }
    // The JPEG of the last plane, as the server sent it.
    const QByteArray& frameBytes() const { return frameFetcher.imageBytes(); }

signals:
    // Just before plane k's move is sent.
    void planeStarted(int k, double z);
    void planeTaken(QImage& image, int k, double z);
    void finished();
    // The run has ended; the planes taken stay the caller's.
    void failed(FocusStackRun::Failure kind, const QString& reason);

private:
    void nextPlane();
    void fail(Failure kind, const QString& reason);

    SessionLink& link;
    MyHTTP moveFetcher;
    MyWebJPEG frameFetcher;
    CoordinateTriple from;
    QVector<double> z;
    // The plane whose move or frame is under way.
    int plane = 0;
    bool running = false;
};
