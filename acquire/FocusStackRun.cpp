#include "acquire/FocusStackRun.h"

#include "acquire/PositionReport.h"
#include "acquire/SessionLink.h"

double FocusStackRun::planeZ(double startZ, int k, int planes, double rangeUm)
{
    // The step first, then its multiple: the window has always sent z worked out in this order.
    const double step = rangeUm * 10.0 / planes;
    return startZ + (k - (planes - 1) / 2.0) * step;
}

FocusStackRun::FocusStackRun(SessionLink& sessionLink, QObject* parent)
    : QObject(parent)
    , link(sessionLink)
{
    connect(&moveFetcher, qOverload<>(&MyHTTP::done), this, [this] {
        if (!running)
            return;
        // A frame taken after a failed move would be filed under the wrong z.
        if (!moveFetcher.succeeded())
            fail(Failure::MoveLost, QStringLiteral("the server did not answer"));
        // The reply is otherwise not read, but a '-' is a refusal (an expired
        // session, a bad token): the stage never went to this z.
        else if (moveFetcher.length() > 0 && moveFetcher.data()[0] == '-')
            fail(Failure::Refused, QStringLiteral("the server refused the stage move (%1)")
                                       .arg(PositionReport::firstLine(moveFetcher.data(), moveFetcher.length())));
        else
            frameFetcher.get();
    });
    connect(&frameFetcher, &MyWebJPEG::fetchFailed, this,
            [this] { fail(Failure::FrameLost, QStringLiteral("the server did not answer")); });
    // Stopping first keeps the old picture that follows from being filed under a new z.
    connect(&frameFetcher, &MyWebJPEG::decodeFailed, this,
            [this] { fail(Failure::Unreadable, QStringLiteral("the server sent a picture that could not be read")); });
    connect(&frameFetcher, &MyWebJPEG::newImageAvailable, this, [this](QImage& image) {
        if (!running)
            return;
        const int taken = plane++;
        emit planeTaken(image, taken, z[taken]);
        // The receiver may have stopped or restarted the run.
        if (running && plane == taken + 1)
            nextPlane();
    });
}

void FocusStackRun::start(const CoordinateTriple& at, int planes, double rangeUm, const QString& frameUrl)
{
    stop();
    from = at;
    z.clear();
    for (int k = 0; k < planes; ++k)
        z << planeZ(double(from.z), k, planes, rangeUm);
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
    if (plane >= z.size()) {
        running = false;
        emit finished();
    } else if (!(z[plane] > 0.0 && z[plane] < 30000.0)) {
        fail(Failure::OutOfRange, QStringLiteral("the next position lies outside the focus range"));
    } else {
        emit planeStarted(plane, z[plane]);
        moveFetcher.setUrl(link.urlWithToken(PositionReport::stackMoveQuery(double(from.x), double(from.y), z[plane])));
        moveFetcher.start();
    }
}

void FocusStackRun::fail(Failure kind, const QString& reason)
{
    stop();
    emit failed(kind, reason);
}
