#include "session/Session.h"

#include "session/CoordinateField.h"
#include "views/HighResPreview.h"
#include "views/LowResPreview.h"
#include "views/VideoView.h"
#include "views/VideoWindow.h"

#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>

#include <cmath>

void Session::beginStageMove()
{
    disableControls();
    stageMoving = true;
    // A frame asked for before would release the controls while the stage still moves.
    if (videoFetcher.http().isBusy())
        videoFetcher.setUrl(videoFetcher.url());
}

void Session::updateVideo()
{
    beginStageMove();
    const double x = CoordinateField::read(xCoord->text());
    const double y = CoordinateField::read(yCoord->text());
    const double z = CoordinateField::read(zCoord->text());
    statusBar()->showMessage(QStringLiteral("Moving scope..."));
    scanTiming.moveSent(std::hypot(x * 10000.0 - currentCoords.x, y * 10000.0 - currentCoords.y) / 10.0);
    stage.setPosition(currentCoords);
    stage.moveTo(x * 10000.0, y * 10000.0, z * 10.0);
}

void Session::newCoordsHere()
{
    currentCoords = stage.position();
    pointToScreen(currentCoords);
    emit physicalLocationChanged(currentCoords);
}

void Session::stageArrived()
{
    // A plain query (the one at session start) moved nothing: the frame
    // already asked for shows this position.
    const bool moved = stageMoving;
    stageMoving = false;
    if (moved) {
        scanTiming.moveArrived();
        // Restarting drops a frame still in flight from before the move, so
        // the frame that releases the controls shows the new position.
        videoFetcher.setUrl(videoFetcher.url());
        videoFetcher.get();
    }
    showCurrent();
    statusBar()->showMessage(QStringLiteral("Ready."));
}

void Session::stageFailed(Stage::Failure kind)
{
    stageMoving = false;
    appendInfo(
        kind == Stage::Failure::Transport
            ? QStringLiteral("***Error fetching coordinates from microscope.  The server may be malfunctioning.\n")
            : QStringLiteral(
                  "***Error fetching coordinates from microscope.  The server returned an invalid sequence.\n"));
    if (!stackAcquiring)
        enableControls();
}

void Session::queryCoords()
{
    stage.setPosition(currentCoords);
    stage.query();
}

void Session::pointToScreen(CoordinateTriple position)
{
    xCoord->setText(QString::asprintf("%.3f", double(position.x) * 0.0001));
    yCoord->setText(QString::asprintf("%.3f", double(position.y) * 0.0001));
    zCoord->setText(QString::asprintf("%.0f", double(position.z) * 0.1));
}

void Session::changeDestination(CoordinateTriple& destination)
{
    xCoord->setText(QString::asprintf("%.4f", double(destination.x) * 0.0001));
    yCoord->setText(QString::asprintf("%.4f", double(destination.y) * 0.0001));
    if (destination.z > 0.00001f)
        zCoord->setText(QString::asprintf("%.4f", double(destination.z) * 0.1));
}

bool Session::stageBusy() const
{
    return stageMoving || stackAcquiring || scanRunning() || recipeRunning();
}

void Session::goTo(CoordinateTriple& destination)
{
    // A live frame during a stack enables the buttons again; the stage is still busy.
    if (stageBusy() || clock.controlExpired || keepTypedCoordinates())
        return;
    moveToPoint(destination);
}

bool Session::keepTypedCoordinates()
{
    // Coordinates typed but not yet sent are the user's; a step, a click or a stack must not replace them.
    if (!xCoord->isModified() && !yCoord->isModified() && !zCoord->isModified())
        return false;
    statusBar()->showMessage(QStringLiteral("The typed coordinates have not been sent: press \"Move\" "
                                            "or \"Show Current Position\" first."),
                             5000);
    return true;
}

void Session::centreOn(CoordinateTriple& destination)
{
    if (stageBusy() || clock.controlExpired || keepTypedCoordinates())
        return;
    moveToPoint(destination);
    if (videoWindow)
        videoWindow->imageView->centreRegion();
}

void Session::moveToPoint(CoordinateTriple& destination)
{
    changeDestination(destination);
    // The pick format leaves a zero z out; a stale typed z must not go instead.
    if (!(destination.z > 0.00001f))
        zCoord->setText(QStringLiteral("0"));
    updateVideo();
}

void Session::showCurrent()
{
    pointToScreen(currentCoords);
    highRes->setLocation(currentCoords);
    lowRes->setDestination(currentCoords);
}

void Session::sendAutofocus(const QString& status, bool accurate)
{
    statusBar()->showMessage(status);
    beginStageMove();
    stage.setPosition(currentCoords);
    stage.autofocus(accurate);
}

void Session::doCoarseAuto()
{
    sendAutofocus(QStringLiteral("Performing Autofocus..."), false);
}

void Session::doSlowAccurate()
{
    sendAutofocus(QStringLiteral("This more accurate autofocus may take a while; please be patient."), true);
}

void Session::changeVideoFormat(int size)
{
    videoFetcher.setUrl(sessionUrl(QString::asprintf("f=p&ps=%i", size)));
    videoFetcher.get();
}
