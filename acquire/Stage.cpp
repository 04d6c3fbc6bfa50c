#include "acquire/Stage.h"

#include "acquire/PositionReport.h"
#include "acquire/SessionLink.h"

Stage::Stage(SessionLink& sessionLink, QObject* parent)
    : QObject(parent)
    , link(sessionLink)
{
    requeryTimer.setSingleShot(true);
    connect(&requeryTimer, &QTimer::timeout, this,
            [this] { send(QStringLiteral("f=w"), MyHTTP::defaultStallTimeoutMs); });
    connect(&fetcher, qOverload<>(&MyHTTP::done), this, &Stage::positionReply);
    connect(&frameFetcher, &MyWebJPEG::decodeFailed, this, [this] { frameUnreadable = true; });
    connect(&frameFetcher, &MyWebJPEG::newImageAvailable, this, [this](QImage& frame) {
        if (!busy)
            return;
        if (frameUnreadable) {
            fail(QStringLiteral("the picture could not be read"), Failure::Frame);
            return;
        }
        busy = false;
        emit frameArrived(frame);
    });
    connect(&frameFetcher, &MyWebJPEG::fetchFailed, this,
            [this] { fail(QStringLiteral("the server did not send the picture"), Failure::Frame); });
}

void Stage::moveTo(double x, double y, double z)
{
    began.start();
    send(PositionReport::moveQuery(x, y, z), MyHTTP::defaultStallTimeoutMs);
}

void Stage::autofocus(bool accurate)
{
    began.start();
    // The accurate sweep may take minutes before the first byte of its reply.
    send(accurate ? QStringLiteral("f=r") : QStringLiteral("f=a"), accurate ? 600000 : MyHTTP::defaultStallTimeoutMs);
}

void Stage::query()
{
    began.start();
    send(QStringLiteral("f=w"), MyHTTP::defaultStallTimeoutMs);
}

void Stage::picture(int size)
{
    requeryTimer.stop();
    fetcher.setUrl(QString());
    busy = true;
    frameUnreadable = false;
    frameFetcher.setUrl(link.url(QString::asprintf("f=p&ps=%i", size)));
    frameFetcher.get();
}

void Stage::stop()
{
    busy = false;
    requeryTimer.stop();
    // An empty address drops the request in flight without a report.
    fetcher.setUrl(QString());
    frameFetcher.setUrl(QString());
}

void Stage::send(const QString& query, int stallTimeoutMs)
{
    requeryTimer.stop();
    busy = true;
    sent.start();
    fetcher.setStallTimeout(stallTimeoutMs);
    fetcher.setUrl(link.urlWithToken(query));
    fetcher.start();
}

void Stage::positionReply()
{
    if (!busy)
        return;
    if (!fetcher.succeeded()) {
        fail(QStringLiteral("the server did not answer"), Failure::Transport);
        return;
    }
    const bool refused = fetcher.length() > 0 && fetcher.data()[0] == '-';
    const QString firstLine = PositionReport::firstLine(fetcher.data(), fetcher.length());
    CoordinateTriple at = current;
    const PositionReport::Kind kind = PositionReport::read(fetcher.data(), fetcher.length(), at);
    if (kind == PositionReport::Kind::Invalid) {
        fail(QStringLiteral("the server answered \"%1\"").arg(firstLine),
             refused ? Failure::Refused : Failure::Invalid);
        return;
    }
    current = at;
    const bool final = kind == PositionReport::Kind::Final;
    if (final)
        busy = false;
    emit reported(current);
    if (final) {
        emit arrived(current);
        return;
    }
    if (!busy)
        return; // stopped by the report's receiver
    // A stage that never reports arrival must not hold the caller for ever.
    if (arrivalTimeoutMs > 0 && began.elapsed() > arrivalTimeoutMs) {
        fail(QStringLiteral("the stage did not arrive"), Failure::NoArrival);
        return;
    }
    const qint64 wait = requeryIntervalMs - sent.elapsed();
    if (wait > 0)
        requeryTimer.start(int(wait));
    else
        send(QStringLiteral("f=w"), MyHTTP::defaultStallTimeoutMs);
}

void Stage::fail(const QString& reason, Failure kind)
{
    stop();
    emit failed(reason, kind);
}
