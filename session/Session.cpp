#include "session/Session.h"

#include "imaging/FocusFusion.h"
#include "session/RegionScan.h"
#include "setup/ServerText.h"
#include "views/AllInFocusWindow.h"
#include "views/HighResPreview.h"
#include "views/LowResPreview.h"
#include "views/StageLink.h"
#include "views/VideoStack.h"
#include "views/VideoWindow.h"
#include "views/ViewerWindow.h"
#include "views/WindowPlacement.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>

Session::Session(QWidget* parent, const char* name, Qt::WindowFlags fl)
    : QMainWindow(parent, fl)
{
    setObjectName(name ? QString::fromLatin1(name) : QStringLiteral("Session"));
    buildForm();
    connectForm();
    connectRegionScan();
    init();
}

ScanSettings Session::scanSettings() const
{
    ScanSettings now;
    now.topLeft = jobTopLeft;
    now.bottomRight = jobBottomRight;
    now.overlapPercent = overlapBox->value();
    now.focusChoice = scanFocusBox->currentIndex();
    now.focusEvery = scanFocusEveryBox->value();
    now.correctLight = correctLightBox->isChecked();
    now.pictureSize = videoWindow ? videoWindow->ComboBox3->currentIndex() + 1 : 1;
    now.position = currentCoords;
    now.stageBusy = stageBusy();
    now.liveFrameBytes = int(videoFetcher.imageBytes().size());
    return now;
}

void Session::connectRegionScan()
{
    const RegionScan::Engine engine{link, scanTiming, clock, scopeInfo};
    regionScan = new RegionScan(&engine, this, [this] { return scanSettings(); });
    connect(regionScan, &RegionScan::message, this, &Session::appendInfo);
    for (QWidget* widget : regionScan->statusWidgets())
        statusBar()->addPermanentWidget(widget);
    if (auto* viewMenu = findChild<QMenu*>(QStringLiteral("viewMenu")))
        viewMenu->addAction(regionScan->mosaicWindowAction());
    connect(scanRegionButton, &QPushButton::clicked, regionScan, &RegionScan::startOrCancel);
    connect(saveMosaicAction, &QAction::triggered, regionScan, &RegionScan::saveMosaic);
    connect(scanFocusBox, &QComboBox::currentIndexChanged, regionScan, [this](int index) {
        scanFocusEveryBox->setEnabled(index == 2 && !regionScan->isBusy());
        regionScan->updatePlan();
    });
    for (QPushButton* b : {PushButton6, PushButton7, resetAcquisitionButton})
        connect(b, &QPushButton::clicked, regionScan, &RegionScan::updatePlan);
    connect(overlapBox, &QSpinBox::valueChanged, regionScan, &RegionScan::updatePlan);
    connect(scanFocusEveryBox, &QSpinBox::valueChanged, regionScan, &RegionScan::updatePlan);
    connect(Stack_Acquisition, &QTabWidget::currentChanged, regionScan, &RegionScan::updatePlan);
    // Frames the live video brings after a move: their time counts for the estimate.
    connect(&videoFetcher, &MyWebJPEG::newImageAvailable, this, [this] { scanTiming.frameArrived(); });

    connect(regionScan, &RegionScan::status, this, [this](const QString& text) { statusBar()->showMessage(text); });
    connect(regionScan, &RegionScan::planChanged, scanSizeLabel, &QLabel::setText);
    connect(regionScan, &RegionScan::takingTiles, scanRegionButton, [this](bool taking) {
        scanRegionButton->setText(taking ? QStringLiteral("Cancel Scan") : QStringLiteral("Scan Region"));
    });
    connect(regionScan, &RegionScan::pageEnabled, this, [this](bool enabled) {
        for (QWidget* w : QList<QWidget*>{overlapBox, scanFocusBox, correctLightBox})
            w->setEnabled(enabled);
        scanFocusEveryBox->setEnabled(enabled && scanFocusBox->currentIndex() == 2);
    });
    connect(regionScan, &RegionScan::stageHeld, this, [this](bool held) {
        if (held) {
            disableControls();
            return;
        }
        enableControls();
        videoFetcher.setUrl(videoFetcher.url());
        videoFetcher.get();
    });
    connect(regionScan, &RegionScan::mosaicSavable, saveMosaicAction, &QAction::setEnabled);
    connect(regionScan, &RegionScan::positionReported, this, [this](CoordinateTriple& position) {
        currentCoords = position;
        pointToScreen(position);
        emit physicalLocationChanged(currentCoords);
    });
    connect(regionScan, &RegionScan::tileShown, this, [this](const QImage& frame) {
        if (!videoWindow)
            return;
        QImage shown = frame;
        videoWindow->updateImage(shown);
    });
    connect(regionScan, &RegionScan::goToRequested, this, &Session::goTo);
    regionScan->updatePlan();
}

Session::~Session()
{
    // Its worker threads end before the members they use.
    delete regionScan;
    // The video window is a top-level window of this session alone.
    delete videoWindow.data();
    delete allInFocusWindow.data();
    if (fusion)
        fusion->cancel();
}

void Session::connectForm()
{
    connect(newSessionAction, &QAction::triggered, this, &Session::newSession);
    connect(fileOpenAction, &QAction::triggered, this, &Session::fileOpen);
    connect(fileSaveAction, &QAction::triggered, this, &Session::fileSave);
    connect(fileSaveAsAction, &QAction::triggered, this, &Session::fileSaveAs);
    connect(filePrintAction, &QAction::triggered, this, &Session::filePrint);
    connect(fileExitAction, &QAction::triggered, this, &Session::fileExit);
    connect(editUndoAction, &QAction::triggered, this, &Session::editUndo);
    connect(editRedoAction, &QAction::triggered, this, &Session::editRedo);
    connect(editCutAction, &QAction::triggered, this, &Session::editCut);
    connect(editPasteAction, &QAction::triggered, this, &Session::editPaste);
    connect(editFindAction, &QAction::triggered, this, &Session::editFind);
    connect(viewVideoAction, &QAction::triggered, this, &Session::showVideoWindow);
    connect(fileSaveStackAction, &QAction::triggered, this, &Session::saveStack);
    connect(fileSaveRecipeAction, &QAction::triggered, this, &Session::saveRecipe);
    connect(fileRunRecipeAction, &QAction::triggered, this, &Session::runRecipe);
    connect(fileSaveAllInFocusAction, &QAction::triggered, this, &Session::saveAllInFocus);
    connect(allInFocusButton, &QPushButton::clicked, this, &Session::fuseStack);

    connect(frameGrabButton, &QPushButton::clicked, this, &Session::updateVideo);
    connect(AFButton, &QPushButton::clicked, this, &Session::doCoarseAuto);
    connect(focusStackButton, &QPushButton::clicked, this, &Session::beginZAcquire);
    connect(zSlider, &QSlider::valueChanged, this, &Session::focusSliderChanged);
    connect(showCurrentPosition, &QPushButton::clicked, this, &Session::showCurrent);
    connect(slowFocusButton, &QPushButton::clicked, this, &Session::doSlowAccurate);
    connect(PushButton6, &QPushButton::clicked, this, &Session::setC1);
    connect(PushButton7, &QPushButton::clicked, this, &Session::setC2);
    connect(densityBox, &QSpinBox::valueChanged, this, &Session::calcNumMovies);
    connect(createJobButton, &QPushButton::clicked, this, &Session::handleCreateJob);
    connect(resetAcquisitionButton, &QPushButton::clicked, this, &Session::handleJobReset);

    stage.requeryIntervalMs = requeryIntervalMs;
    // The user sees the stage report its way and decides how long to wait.
    stage.arrivalTimeoutMs = 0;
    connect(&stage, &Stage::reported, this, &Session::newCoordsHere);
    connect(&stage, &Stage::arrived, this, &Session::stageArrived);
    connect(&stage, &Stage::failed, this, [this](const QString&, Stage::Failure kind) { stageFailed(kind); });
    for (QLineEdit* field : {xCoord, yCoord, zCoord})
        connect(field, &QLineEdit::returnPressed, this, [this] {
            if (frameGrabButton->isEnabled())
                frameGrabButton->click();
        });
    connect(Stack_Acquisition, &QTabWidget::currentChanged, this, [this] {
        if (Stack_Acquisition->currentWidget() == tab)
            markSystemInfo(false);
    });
    connect(&clock, &ControlClock::message, this, &Session::appendInfo);
    connect(&jobs, &JobSubmitter::message, this, &Session::appendInfo);
    connect(&scopeInfo, &ScopeInfo::message, this, &Session::appendInfo);
    connect(&scopeInfo, &ScopeInfo::arrived, this, &Session::sysInfoArrived);
    connect(&jobs, &JobSubmitter::submitted, this, [this](const QString& job, const QString& serverText) {
        appendInfo((job + QStringLiteral(" submitted. ") + serverText).trimmed());
        showNotice(job + QStringLiteral(" submitted."));
    });
    connect(&clock, &ControlClock::ticked, this, &Session::showRemainingTime);
    connect(&clock, &ControlClock::expired, this, [this] {
        disableControls();
        appendInfo(QStringLiteral("\n***Your control time has expired.  If you wish to continue controlling the "
                                  "microscope, you may choose \"New Session\" from the File menu to schedule "
                                  "additional time."));
        statusBar()->showMessage(QStringLiteral("Your control time has expired."));
    });
}

void Session::init()
{
    jobTopLeft.x = 0;
    jobTopLeft.y = 0;
    jobBottomRight.x = 0;
    jobBottomRight.y = 0;
}

QString Session::sessionUrl(const QString& query) const
{
    return link.url(query);
}

void Session::appendInfo(const QString& text)
{
    // Much of this text comes from the server: no enormous word may stall the layout.
    sysInfoBox->appendPlainText(ServerText::breakLongRuns(text));
    sysInfoBox->verticalScrollBar()->setValue(sysInfoBox->verticalScrollBar()->maximum());

    QString error = text.trimmed();
    if (!error.startsWith(QLatin1String("***")))
        return;
    if (Stack_Acquisition->currentWidget() != tab)
        markSystemInfo(true);
    error = error.mid(3).trimmed();
    error.replace(QLatin1Char('\n'), QLatin1Char(' '));
    statusBar()->showMessage(error);
}

void Session::showNotice(const QString& notice)
{
    // A running task's status or a failure comes back after a few seconds.
    const QString before = statusBar()->currentMessage();
    statusBar()->showMessage(notice);
    if (before.isEmpty() || before == QLatin1String("Ready.") || before == notice)
        return;
    QTimer::singleShot(noticeMs, this, [this, notice, before] {
        if (statusBar()->currentMessage() == notice)
            statusBar()->showMessage(before);
    });
}

void Session::markSystemInfo(bool unread)
{
    const int index = Stack_Acquisition->indexOf(tab);
    if (!unread) {
        Stack_Acquisition->setTabIcon(index, QIcon());
        Stack_Acquisition->setTabToolTip(index, QString());
        return;
    }
    QPixmap dot(10, 10);
    dot.fill(Qt::transparent);
    QPainter painter(&dot);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(200, 0, 0));
    painter.drawEllipse(1, 1, 8, 8);
    Stack_Acquisition->setTabIcon(index, QIcon(dot));
    Stack_Acquisition->setTabToolTip(index, QStringLiteral("New messages"));
}

void Session::showVideoWindow()
{
    if (!videoWindow)
        return;
    videoWindow->show();
    videoWindow->raise();
    videoWindow->activateWindow();
}

void Session::placeVideoWindow()
{
    // Outer sizes: the video window has no frame yet, so it is given the main window's.
    const QSize frame = frameGeometry().size() - size();
    const std::optional<QPoint> place =
        WindowPlacement::beside(frameGeometry(), videoWindow->size() + frame, screen()->availableGeometry());
    if (place)
        videoWindow->move(*place);
}

void Session::closeEvent(QCloseEvent* event)
{
    if (!regionScan->confirmClose()) {
        event->ignore();
        return;
    }
    regionScan->abort();
    // Viewers no longer steer a session that ends.
    StageLink::instance().withdraw(this);
    if (videoWindow)
        videoWindow->close();
    if (allInFocusWindow)
        allInFocusWindow->close();
    // A fusion that ends after the session must not open its window again.
    if (fusing) {
        fusion->cancel();
        fusing->cancel();
    }
    clock.stop();
    jobs.stop();
    scopeInfo.stop();
    stage.stop();
    stackRun.stop();
    stackAcquiring = false;
    stageMoving = false;
    // An empty address aborts the request in flight without a report and sends nothing later.
    videoFetcher.setUrl(QString());
    lowRes->abandonRequests();
    highRes->abandonRequests();
    QMainWindow::closeEvent(event);
}

void Session::fileOpen()
{
    const QString path = ViewerWindow::choose(this);
    if (!path.isEmpty())
        openInViewer(path);
}

ViewerWindow* Session::openInViewer(const QString& path)
{
    // The viewer steers this session's stage through the link begin() offered.
    return ViewerWindow::openOrWarn(path, this);
}

void Session::steerFromViewers()
{
    // A place on a file is a stage position: the same rules as Go To on a mark.
    StageLink::instance().offer(this, [this](const QPointF& stageUm) {
        if (stageBusy() || clock.controlExpired || !frameGrabButton->isEnabled()) {
            statusBar()->showMessage(QStringLiteral("The stage is busy: try again once it is ready."), 8000);
            return;
        }
        CoordinateTriple destination = currentCoords;
        destination.x = float(stageUm.x() * 10.0);
        destination.y = float(stageUm.y() * 10.0);
        goTo(destination);
    });
}

void Session::fileSaveAs() {}
void Session::filePrint() {}
void Session::editUndo() {}
void Session::editRedo() {}
void Session::editCut() {}
void Session::editPaste() {}
void Session::editFind() {}
void Session::upButtonPressed() {}
void Session::destroy() {}
void Session::nudgeUp() {}

bool Session::scanRunning() const
{
    return regionScan && regionScan->isRunning();
}
