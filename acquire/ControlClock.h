#pragma once

#include "net/MyHTTP.h"

#include <QObject>
#include <QString>
#include <QTimer>

class SessionLink;

// The control time left in a session: asked of the server ("f=t") at the
// start and every 30 seconds, and counted down here each second in between.
class ControlClock : public QObject
{
    Q_OBJECT

public:
    explicit ControlClock(const SessionLink& link, QObject* parent = nullptr);

    // Starts counting a newly granted session.
    void restart();
    void stop();
    // Asks the server for the time left.
    void request();
    // The server's answer: starts the countdown, or asks again later.
    void timeArrived();
    // One second less; at zero the control time is over.
    void tick();

    MyHTTP timeFetcher;
    QTimer countdownTimer;
    // Asks for the remaining time again while no answer has started the countdown.
    QTimer timeRetryTimer;
    int remainingSeconds = 0;
    bool controlExpired = false;
    // The tick in milliseconds; tests shorten it.
    int countdownInterval = 1000;

signals:
    void ticked(int remainingSeconds);
    void expired();
    // A "***" line for the session's log.
    void message(const QString& text);

private:
    const SessionLink& link;
};
