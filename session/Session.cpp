#include "session/Session.h"

#include "net/OrvexUrl.h"
#include "setup/ServerText.h"
#include "views/HighResPreview.h"
#include "views/LowResPreview.h"
#include "views/VideoStack.h"
#include "views/VideoWindow.h"

#include <QAction>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>

Session::Session(QWidget* parent, const char* name, Qt::WindowFlags fl)
    : QMainWindow(parent, fl)
{
    setObjectName(name ? QString::fromLatin1(name) : QStringLiteral("Session"));
    buildForm();
    connectForm();
    init();
}

Session::~Session()
{
    // The video window is a top-level window of this session alone.
    delete videoWindow.data();
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

    requeryTimer.setSingleShot(true);
    connect(&requeryTimer, &QTimer::timeout, this, &Session::queryCoords);
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
    return OrvexUrl::session(sessionInfo.host, sessionInfo.requestPrefix, query);
}

void Session::appendInfo(const QString& text)
{
    // Much of this text comes from the server: no enormous word may stall the layout.
    sysInfoBox->appendPlainText(ServerText::breakLongRuns(text));
}

void Session::fileOpen() {}
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
