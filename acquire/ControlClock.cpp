#include "acquire/ControlClock.h"

#include "acquire/SessionLink.h"
#include "acquire/TimeReply.h"

ControlClock::ControlClock(const SessionLink& sessionLink, QObject* parent)
    : QObject(parent)
    , link(sessionLink)
{
    timeRetryTimer.setSingleShot(true);
    connect(&timeRetryTimer, &QTimer::timeout, this, &ControlClock::request);
    connect(&timeFetcher, qOverload<>(&MyHTTP::done), this, &ControlClock::timeArrived);
    connect(&countdownTimer, &QTimer::timeout, this, &ControlClock::tick);
}

void ControlClock::restart()
{
    controlExpired = false;
    request();
}

void ControlClock::stop()
{
    countdownTimer.stop();
    timeRetryTimer.stop();
    // An empty address aborts the request in flight without a report and sends nothing later.
    timeFetcher.setUrl(QString());
}

void ControlClock::request()
{
    timeFetcher.setUrl(link.url(QStringLiteral("f=t")));
    timeFetcher.start();
}

void ControlClock::timeArrived()
{
    if (!timeFetcher.succeeded() || TimeReply::cutShort(timeFetcher.data(), timeFetcher.length())) {
        emit message(QStringLiteral("***Error - Unable to query server for remaining control time"));
        // Until a first answer starts the countdown, ask again as often as the countdown would.
        if (!countdownTimer.isActive() && !controlExpired)
            timeRetryTimer.start(30 * countdownInterval);
        return;
    }
    TimeReply::read(timeFetcher.data(), timeFetcher.length(), remainingSeconds);
    if (!countdownTimer.isActive())
        countdownTimer.start(countdownInterval);
}

void ControlClock::tick()
{
    --remainingSeconds;
    if (remainingSeconds <= 0) {
        remainingSeconds = 0;
        controlExpired = true;
        countdownTimer.stop();
        emit expired();
    } else if (remainingSeconds % 30 == 0) {
        request();
    }
    emit ticked(remainingSeconds);
}
