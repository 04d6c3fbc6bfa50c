#include "session/Session.h"

#include "session/MarksController.h"
#include "setup/ScopeBrowser.h"
#include "views/HighResPreview.h"
#include "views/LowResPreview.h"
#include "views/StageKeys.h"
#include "views/VideoStack.h"
#include "views/VideoView.h"
#include "views/VideoWindow.h"

#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>

void Session::begin(SessionInfo& info)
{
    sessionInfo = info;
    setWindowTitle(QStringLiteral("Tessan: Controlling ") + sessionInfo.scope.name + QStringLiteral(" at <") +
                   sessionInfo.host + QStringLiteral(">"));
    link.grant(sessionInfo.host, sessionInfo.requestPrefix, sessionInfo.password, sessionInfo.ticket);
    clock.controlExpired = false;
    steerFromViewers();

    // Closing the video window only hides it: View > Video Window brings it back as it was.
    videoWindow = new VideoWindow();
    videoWindow->setSource(sessionInfo.scope.name, sessionInfo.scope.slides.value(0), sessionInfo.host,
                           sessionInfo.login);
    placeVideoWindow();
    videoWindow->show();

    connect(videoWindow.data(), &VideoWindow::videoFormatChanged, this, &Session::changeVideoFormat);
    connect(&videoFetcher, &MyWebJPEG::newImageAvailable, videoWindow.data(), &VideoWindow::updateImage);
    connect(&videoFetcher, &MyWebJPEG::newImageAvailable, this, &Session::enableControls);
    connect(this, &Session::physicalLocationChanged, lowRes, &LowResPreview::setPhysical);
    connect(this, &Session::physicalLocationChanged, videoWindow.data(), &VideoWindow::setPhysical);
    connect(lowRes, &LowResPreview::destinationChanged, this, &Session::changeDestination);
    connect(lowRes, &LowResPreview::destinationChanged, highRes, &HighResPreview::setLocation);
    connect(highRes, &HighResPreview::locationChanged, lowRes, &LowResPreview::setDestination);
    connect(highRes, &HighResPreview::locationChanged, this, &Session::changeDestination);
    connect(&stackRun, &FocusStackRun::planeStarted, this, [this](int k, double z) {
        zSlider->setValue(k);
        stackZ.append(z);
    });
    connect(&stackRun, &FocusStackRun::planeTaken, this, &Session::startNextZImage);
    connect(&stackRun, &FocusStackRun::finished, this, &Session::zMoveComplete);
    connect(&stackRun, &FocusStackRun::failed, this, [this](FocusStackRun::Failure, const QString& reason) {
        stopStack(QStringLiteral("***Focus stack stopped: ") + reason + QLatin1Char('.'));
    });
    connect(zSlider, &QSlider::valueChanged, insetStack, &VideoStack::displayImage);

    // Failures that would otherwise leave the window waiting for ever.
    connect(&videoFetcher, &MyWebJPEG::fetchFailed, this, &Session::videoFetchFailed);
    // An unreadable frame would otherwise pass for a new one showing the old picture.
    connect(&videoFetcher, &MyWebJPEG::decodeFailed, this,
            [this] { appendInfo(QStringLiteral("***Error decoding video frame from microscope.")); });

    // Keys step the stage at the scale of the live picture, from either window.
    stageKeys = new StageKeys(this);
    stageKeys->watch(this);
    stageKeys->watch(videoWindow.data());
    for (QWidget* picture : {static_cast<QWidget*>(videoWindow->imageView), static_cast<QWidget*>(lowRes),
                             static_cast<QWidget*>(highRes), static_cast<QWidget*>(insetStack)})
        stageKeys->watchPicture(picture);
    connect(stageKeys, &StageKeys::stepRequested, videoWindow.data(), &VideoWindow::stepStage);
    connect(videoWindow.data(), &VideoWindow::moveRequested, this, &Session::goTo);
    connect(videoWindow.data(), &VideoWindow::centreRequested, this, &Session::centreOn);

    marks->setSource(sessionInfo.scope.slides.value(0), sessionInfo.scope.name, sessionInfo.host);
    marks->attach(videoWindow.data(), lowRes, highRes);
    connect(this, &Session::physicalLocationChanged, marks, &MarksController::setPhysical);
    connect(marks, &MarksController::goToRequested, this, [this](CoordinateTriple& destination) {
        if (!frameGrabButton->isEnabled()) {
            statusBar()->showMessage(QStringLiteral("The stage is busy: choose Go To again once it is ready."), 8000);
            return;
        }
        goTo(destination);
    });

    scopeInfo.request();
    changeVideoFormat(1);
    clock.request();

    lowRes->setHost(sessionInfo.host);
    highRes->setHost(sessionInfo.host);
    if (sessionInfo.scope.slides.isEmpty()) {
        appendInfo(QStringLiteral("***This microscope lists no slides."));
    } else {
        QString slide = sessionInfo.scope.slides.first();
        lowRes->slideChange(slide);
        highRes->slideChange(slide);
    }
    queryCoords();
    statusBar()->showMessage(QStringLiteral("Ready."));
}

void Session::sysInfoArrived()
{
    if (videoWindow)
        videoWindow->setMPP(scopeInfo.mppX, scopeInfo.mppY);
    marks->setScale(scopeInfo.mppX, scopeInfo.mppY);

    const QString rule(59, QLatin1Char('-'));
    appendInfo(QLatin1Char('\n') + rule + QStringLiteral("\nBeginning control session.\n") + rule + QLatin1Char('\n'));
    if (!scopeInfo.text.isEmpty())
        appendInfo(scopeInfo.text);
}

void Session::startTimer()
{
    clock.timeArrived();
}

void Session::tickme()
{
    clock.tick();
}

void Session::showRemainingTime()
{
    timeLabel->setText(QString::asprintf("%02i:%02i", clock.remainingSeconds / 60, clock.remainingSeconds % 60));
    // A longer time from the server takes the warnings back, so they come again.
    const int level = clock.remainingSeconds <= 60 ? 2 : clock.remainingSeconds <= 300 ? 1 : 0;
    if (level > timeWarning && !clock.controlExpired) {
        const int minutes = (clock.remainingSeconds + 59) / 60;
        showNotice(minutes == 1 ? QStringLiteral("1 minute of control time left.")
                                : QStringLiteral("%1 minutes of control time left.").arg(minutes));
    }
    timeWarning = level;
    QPalette palette;
    if (level > 0 || clock.controlExpired)
        palette.setColor(QPalette::WindowText, QColor(200, 0, 0));
    timeLabel->setPalette(palette);
}

void Session::disableControls()
{
    showCurrentPosition->setEnabled(false);
    focusStackButton->setEnabled(false);
    frameGrabButton->setEnabled(false);
    AFButton->setEnabled(false);
    slowFocusButton->setEnabled(false);
    zSlider->setEnabled(false);
}

void Session::enableControls()
{
    if (clock.controlExpired || scanRunning() || recipeRunning())
        return;
    showCurrentPosition->setEnabled(true);
    focusStackButton->setEnabled(true);
    frameGrabButton->setEnabled(true);
    AFButton->setEnabled(true);
    slowFocusButton->setEnabled(true);
    zSlider->setEnabled(true);
}

void Session::videoFetchFailed()
{
    appendInfo(QStringLiteral("***Error fetching video frame from microscope."));
    if (!stackAcquiring)
        enableControls();
}

void Session::fileSave()
{
    statusBar()->showMessage(QStringLiteral("Saving is disabled in Tessan"), 2000);
}

void Session::fileExit()
{
    // closeEvent asks about a running scan or an unsaved mosaic before it hides the video window.
    close();
}

void Session::newSession()
{
    // Scheduling lives in the setup dialog; it opens a further control window
    // once the server grants the new session.
    auto* browser = new ScopeBrowser;
    browser->hostName->setText(sessionInfo.host);
    browser->show();
}
