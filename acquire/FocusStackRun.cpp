#include "acquire/FocusStackRun.h"

#include "acquire/PositionReport.h"
#include "acquire/SessionLink.h"

#include <QPoint>

double FocusStackRun::planeZ(double startZ, int k, int planes, double rangeUm)
{
    // The step first, then its multiple: the window has always sent z worked out in this order.
    const double step = rangeUm * 10.0 / planes;
    return startZ + (k - (planes - 1) / 2.0) * step;
}

QString FocusStackRun::insetUrl(const QString& frameUrl, const QPoint& origin)
{
    return frameUrl + QString::asprintf("&x=%i&y=%i&inset=1", origin.x(), origin.y());
}

FocusStackRun::FocusStackRun(SessionLink& sessionLink, QObject* parent)
    : QObject(parent)
    , link(sessionLink)
{
    connect(&moveFetcher, qOverload<>(&MyHTTP::done), this, &FocusStackRun::moved);
    connect(&frameFetcher, &MyWebJPEG::fetchFailed, this,
            [this] { fail(Failure::FrameLost, QStringLiteral("the server did not answer")); });
    // Stopping first keeps the old picture that follows from being filed under a new z.
    connect(&frameFetcher, &MyWebJPEG::decodeFailed, this,
            [this] { fail(Failure::Unreadable, QStringLiteral("the server sent a picture that could not be read")); });
    connect(&frameFetcher, &MyWebJPEG::newImageAvailable, this, [this](QImage& image) {
        if (!running)
            return;
        const int taken = plane++;
        emit planeTaken(image, taken, planeZ(double(from.z), taken, planes, rangeUm));
        // The receiver may have stopped or restarted the run.
        if (running && plane == taken + 1)
            nextPlane();
    });
}

void FocusStackRun::start(const CoordinateTriple& start, int planeCount, double range, const QString& frameUrl)
{
    stop();
    from = start;
    planes = planeCount;
    rangeUm = range;
    plane = 0;
    running = true;
    frameFetcher.setUrl(frameUrl);
    nextPlane();
}

void FocusStackRun::stop()
{
    running = false;
    // An empty address drops the request in flight without a report.
    moveFetcher.setUrl(QString());
    frameFetcher.setUrl(QString());
}

void FocusStackRun::nextPlane()
{
    if (plane >= planes) {
        running = false;
        emit finished();
        return;
    }
    const double z = planeZ(double(from.z), plane, planes, rangeUm);
    if (!(z > 0.0 && z < topZ)) {
        fail(Failure::OutOfRange, QStringLiteral("the next position lies outside the focus range"));
        return;
    }
    emit planeStarted(plane, z);
    moveFetcher.setUrl(link.url(PositionReport::stackMoveQuery(double(from.x), double(from.y), z) +
                                QStringLiteral("&auth=") + link.token()));
    moveFetcher.start();
}

void FocusStackRun::moved()
{
    if (!running)
        return;
    // A frame taken after a failed move would be filed under the wrong z.
    if (!moveFetcher.succeeded()) {
        fail(Failure::MoveLost, QStringLiteral("the server did not answer"));
        return;
    }
    // The reply is otherwise not read, but a '-' is a refusal (an expired
    // session, a bad token): the stage never went to this z.
    if (moveFetcher.length() > 0 && moveFetcher.data()[0] == '-') {
        fail(Failure::Refused, QStringLiteral("the server refused the stage move (%1)")
                                   .arg(PositionReport::firstLine(moveFetcher.data(), moveFetcher.length())));
        return;
    }
    frameFetcher.get();
}

void FocusStackRun::fail(Failure kind, const QString& reason)
{
    if (!running)
        return;
    stop();
    emit failed(kind, reason);
}
