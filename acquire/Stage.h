#pragma once

#include "acquire/CoordinateTriple.h"
#include "net/MyHTTP.h"
#include "net/MyWebJPEG.h"

#include <QElapsedTimer>
#include <QImage>
#include <QObject>
#include <QTimer>

class SessionLink;

// The stage and camera of a granted session for a caller without a window:
// a move or an autofocus, then paced position queries ("f=w") until the
// stage reports arrival ('+'); a plain position query; one frame at a
// picture size. The queries are those the control window sends. One request
// at a time; a new one replaces the one in flight.
class Stage : public QObject
{
    Q_OBJECT

public:
    explicit Stage(SessionLink& link, QObject* parent = nullptr);

    // Target in stage units (0.1 µm), each sent rounded to a whole unit as "Move" sends it.
    void moveTo(double x, double y, double z);
    // Quick ("f=a") or accurate ("f=r", which may take minutes before it answers).
    void autofocus(bool accurate);
    void query();
    // The "f=m&b=y" move of a focus stack: answered once the stage is there, no query follows.
    void stackMove(const CoordinateTriple& target);
    // One frame of picture size 1 to 4.
    void picture(int size);
    void stop();

    bool isBusy() const { return busy; }
    // The last position the server reported, in stage units.
    const CoordinateTriple& position() const { return current; }

    // While the stage reports '*', the next query waits this long after the last.
    int requeryIntervalMs = 100;
    // Longest wait for '+' after a move or an autofocus.
    int arrivalTimeoutMs = 120000;

signals:
    void arrived(const CoordinateTriple& position);
    void frameArrived(const QImage& frame);
    void failed(const QString& reason);

private:
    void send(const QString& query, int stallTimeoutMs);
    void positionReply();
    void fail(const QString& reason);

    SessionLink& link;
    MyHTTP fetcher;
    MyWebJPEG frameFetcher;
    QTimer requeryTimer;
    QElapsedTimer sent;
    QElapsedTimer began;
    CoordinateTriple current;
    CoordinateTriple stackTarget;
    bool busy = false;
    bool blockingMove = false;
    bool frameUnreadable = false;
};
