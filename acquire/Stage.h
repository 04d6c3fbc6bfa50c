#pragma once

#include "acquire/CoordinateTriple.h"
#include "net/MyHTTP.h"
#include "net/MyWebJPEG.h"

#include <QElapsedTimer>
#include <QImage>
#include <QObject>
#include <QTimer>

class SessionLink;

// The stage and camera of a granted session, for the control window, the
// focus map, the region scan and the headless runs alike: a move or an
// autofocus, then paced position queries ("f=w") until the stage reports
// arrival ('+'); a plain position query; one frame at a picture size. One
// request at a time; a new one replaces the one in flight.
class Stage : public QObject
{
    Q_OBJECT

public:
    // What went wrong, so that each caller words it its own way.
    enum class Failure {
        Transport, // no complete answer
        Invalid,   // an answer that is no position report
        Refused,   // a '-' answer such as "-BAD_AUTH": the stage did not move
        NoArrival, // '*' for longer than arrivalTimeoutMs
        Frame,     // the picture did not come or could not be read
    };

    explicit Stage(SessionLink& link, QObject* parent = nullptr);

    // Target in stage units (0.1 µm), each sent rounded to a whole unit as "Move" sends it.
    void moveTo(double x, double y, double z);
    // Quick ("f=a") or accurate ("f=r", which may take minutes before it answers).
    void autofocus(bool accurate);
    void query();
    // One frame of picture size 1 to 4.
    void picture(int size);
    void stop();

    // A request is in flight or a query waits its turn.
    bool isBusy() const { return busy; }
    bool isWaitingToQuery() const { return requeryTimer.isActive(); }
    // The last position the server reported, in stage units.
    const CoordinateTriple& position() const { return current; }
    // Where the caller knows the stage to be: a reply without some numbers keeps these.
    void setPosition(const CoordinateTriple& known) { current = known; }
    const MyHTTP& positionFetcher() const { return fetcher; }
    // The JPEG of the last frame, as the server sent it.
    const QByteArray& frameBytes() const { return frameFetcher.imageBytes(); }

    // While the stage reports '*', the next query waits this long after the last.
    int requeryIntervalMs = 100;
    // Longest wait for '+' after a move or an autofocus; 0 waits as long as the stage reports '*'.
    int arrivalTimeoutMs = 120000;

signals:
    // Every position the server reports, '*' on the way and the final '+'.
    void reported(const CoordinateTriple& position);
    void arrived(const CoordinateTriple& position);
    void frameArrived(const QImage& frame);
    void failed(const QString& reason, Stage::Failure kind);

private:
    void send(const QString& query, int stallTimeoutMs);
    void positionReply();
    void fail(const QString& reason, Failure kind);

    SessionLink& link;
    MyHTTP fetcher;
    MyWebJPEG frameFetcher;
    QTimer requeryTimer;
    QElapsedTimer sent;
    QElapsedTimer began;
    CoordinateTriple current;
    bool busy = false;
    bool frameUnreadable = false;
};
