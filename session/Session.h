#pragma once

#include "acquire/ControlClock.h"
#include "acquire/CoordinateTriple.h"
#include "acquire/FocusStackRun.h"
#include "acquire/JobSubmitter.h"
#include "acquire/ScanTiming.h"
#include "acquire/ScopeInfo.h"
#include "acquire/SessionLink.h"
#include "acquire/Stage.h"
#include "imaging/OmeXml.h"
#include "net/MyWebJPEG.h"
#include "session/ScanSettings.h"
#include "setup/SessionInfo.h"

#include <QDateTime>
#include <QFutureWatcher>
#include <QImage>
#include <QList>
#include <QMainWindow>
#include <QPointF>
#include <QPointer>
#include <QString>
#include <QVector>

#include <memory>

class AllInFocusWindow;
class FocusCurve;
class FocusFusion;
struct FusionResult;
class HighResPreview;
class LowResPreview;
class MarksController;
class QAction;
class QCheckBox;
class QCloseEvent;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSlider;
class QSpinBox;
class QTabWidget;
struct Recipe;
class RecipeRunner;
class RegionScan;
class StageKeys;
class VideoStack;
class VideoWindow;
class ViewerWindow;

// The control window of one granted microscope session: stage moves and
// position reports, autofocus, live video size, the focus stack, acquisition
// jobs and the control-time countdown.
class Session : public QMainWindow
{
    Q_OBJECT

public:
    Session(QWidget* parent = nullptr, const char* name = nullptr, Qt::WindowFlags fl = Qt::Window);
    ~Session() override;

    // The help text that sysInfoBox starts with.
    static QString helpText();
    // A move, an autofocus or a focus stack is under way: the stage is not the
    // user's to step. Every feature that drives the stage adds itself here.
    bool stageBusy() const;
    // Opens a file in the viewer, whose double-clicks and Go To steer this session's stage.
    ViewerWindow* openInViewer(const QString& path);
    // Viewers, open now or later, steer this session's stage until it closes.
    void steerFromViewers();

    // Widgets of the form, named like their object names.
    LowResPreview* lowRes = nullptr;
    HighResPreview* highRes = nullptr;
    QTabWidget* Stack_Acquisition = nullptr;
    QWidget* tab = nullptr;
    QPlainTextEdit* sysInfoBox = nullptr;
    QWidget* tab_2 = nullptr;
    QLabel* TextLabel1 = nullptr;
    VideoStack* insetStack = nullptr;
    QSpinBox* frameCountSelector = nullptr;
    QLabel* TextLabel2_2 = nullptr;
    QSpinBox* frameRangeSelector = nullptr;
    QLabel* TextLabel2_2_2 = nullptr;
    QSlider* zSlider = nullptr;
    QPushButton* focusStackButton = nullptr;
    // Stack whole live frames instead of the small region; off at start.
    QCheckBox* fullFrameCheck = nullptr;
    // Fuses a whole-frame stack into one picture sharp throughout.
    QPushButton* allInFocusButton = nullptr;
    // Which stack frame is sharpest, or that none clearly is.
    QLabel* focusMeasureLabel = nullptr;
    // Sharpness against z of the stack, the slider's frame marked.
    FocusCurve* focusCurve = nullptr;
    QWidget* tab_3 = nullptr;
    QLabel* TextLabel1_6 = nullptr;
    QLabel* TextLabel1_5 = nullptr;
    QLineEdit* jobNameEdit = nullptr;
    QPushButton* PushButton6 = nullptr;
    QPushButton* PushButton7 = nullptr;
    QPushButton* resetAcquisitionButton = nullptr;
    QLabel* TextLabel1_4 = nullptr;
    QSpinBox* densityBox = nullptr;
    QLabel* TextLabel2_4 = nullptr;
    QLabel* TextLabel3 = nullptr;
    QLineEdit* totalBox = nullptr;
    QLabel* TextLabel4 = nullptr;
    QPushButton* createJobButton = nullptr;
    // Region scan over the job's corners.
    QLabel* overlapLabel = nullptr;
    QSpinBox* overlapBox = nullptr;
    QComboBox* scanFocusBox = nullptr;
    QSpinBox* scanFocusEveryBox = nullptr;
    QLabel* scanSizeLabel = nullptr;
    QCheckBox* correctLightBox = nullptr;
    QPushButton* scanRegionButton = nullptr;
    QLabel* TextLabel1_2 = nullptr;
    QLineEdit* xCoord = nullptr;
    QLabel* TextLabel1_3_4_2 = nullptr;
    QLabel* TextLabel1_2_2_2 = nullptr;
    QLineEdit* yCoord = nullptr;
    QLabel* TextLabel1_3_2_2_2 = nullptr;
    QLabel* TextLabel2_3 = nullptr;
    QLineEdit* zCoord = nullptr;
    QLabel* TextLabel1_3_3_2_2 = nullptr;
    QPushButton* showCurrentPosition = nullptr;
    QPushButton* frameGrabButton = nullptr;
    QLabel* TextLabel1_3 = nullptr;
    QFrame* Line2 = nullptr;
    QPushButton* AFButton = nullptr;
    QPushButton* slowFocusButton = nullptr;
    QLabel* TextLabel2 = nullptr;
    QLabel* timeLabel = nullptr;

    QAction* newSessionAction = nullptr;
    QAction* fileOpenAction = nullptr;
    QAction* fileSaveAction = nullptr;
    QAction* fileSaveAsAction = nullptr;
    QAction* filePrintAction = nullptr;
    QAction* fileExitAction = nullptr;
    QAction* editUndoAction = nullptr;
    QAction* editRedoAction = nullptr;
    QAction* editCutAction = nullptr;
    QAction* editCopyAction = nullptr;
    QAction* editPasteAction = nullptr;
    QAction* editFindAction = nullptr;
    QAction* viewVideoAction = nullptr;
    // Measurements, bookmarks and notes, with their commands and list.
    MarksController* marks = nullptr;
    QAction* fileSaveStackAction = nullptr;
    QAction* fileSaveAllInFocusAction = nullptr;
    QAction* saveMosaicAction = nullptr;
    QAction* fileSaveRecipeAction = nullptr;
    QAction* fileRunRecipeAction = nullptr;

    // Session state, open to tests and to the other windows of the client.
    SessionInfo sessionInfo;
    // The session's address and tokens, and its control time.
    SessionLink link;
    ControlClock clock{link};
    JobSubmitter jobs{link};
    // The scale of the video pictures, scopeInfo.mppX and mppY, and the server's text.
    ScopeInfo scopeInfo{link};
    QPointer<VideoWindow> videoWindow;
    // Opened by the first fusion of a whole-frame stack and kept for the next.
    QPointer<AllInFocusWindow> allInFocusWindow;
    MyWebJPEG videoFetcher;
    // Moves, autofocus and position queries; the focus stack's moves go through stackRun.
    Stage stage{link};
    FocusStackRun stackRun{link};
    CoordinateTriple currentCoords;
    CoordinateTriple stackStart;
    // Stage micrometres of the top-left pixel of the stack's planes.
    QPointF stackTopLeftUm;
    CoordinateTriple jobTopLeft;
    CoordinateTriple jobBottomRight;
    int sampleCount = 0;
    QVector<double> stackZ;
    // Focus measure of each stack frame, index for index with stackZ.
    QVector<double> stackSharpness;
    bool stackAcquiring = false;
    // The last stack stopped before all its frames arrived.
    bool stackCutShort = false;
    // The stack in hand holds whole frames; when it began.
    bool stackFullFrame = false;
    QDateTime stackBegan;
    // Moves and frames of this session, for the time a region scan will take.
    ScanTiming scanTiming;
    RegionScan* regionScan = nullptr;
    // A region scan is taking its tiles: the stage is not the user's.
    bool scanRunning() const;
    // The region scan's settings as the Image Acquisition page and the stage give them now.
    ScanSettings scanSettings() const;
    // File > Save as Recipe: the position, picture size, stack and region of
    // the window as a recipe for tessan-acquire.
    void saveRecipe();
    bool saveRecipeTo(const QString& path);
    Recipe recipeFromWindow() const;
    // File > Run Recipe: runs a recipe for this session's microscope on it,
    // the stage controls disabled meanwhile; again while it runs stops it.
    void runRecipe();
    bool runRecipeFrom(const QString& path);
    bool recipeRunning() const { return recipeRunner != nullptr; }

    // While the stage reports '*', the next coordinate query waits until this
    // long after the previous request: a local server answers in microseconds.
    static constexpr int requeryIntervalMs = 100;

public slots:
    virtual void fileOpen();
    virtual void fileSave();
    virtual void fileSaveAs();
    virtual void filePrint();
    virtual void fileExit();
    virtual void editUndo();
    virtual void editRedo();
    virtual void editCut();
    virtual void begin(SessionInfo& info);
    virtual void editPaste();
    virtual void editFind();
    virtual void upButtonPressed();
    virtual void newSession();
    virtual void init();
    virtual void updateVideo();
    virtual void newCoordsHere();
    virtual void destroy();
    virtual void pointToScreen(CoordinateTriple position);
    virtual void queryCoords();
    virtual void changeDestination(CoordinateTriple& destination);
    virtual void beginZAcquire();
    virtual void zMoveComplete();
    virtual void startNextZImage(QImage& picture);
    virtual void focusSliderChanged(int index);
    virtual void nudgeUp();
    virtual void doCoarseAuto();
    virtual void sysInfoArrived();
    virtual void showCurrent();
    virtual void disableControls();
    virtual void enableControls();
    virtual void startTimer();
    virtual void tickme();
    virtual void doSlowAccurate();
    virtual void changeVideoFormat(int size);
    virtual void setC1();
    virtual void setC2();
    virtual void calcNumMovies();
    virtual void handleJobReset();
    virtual void handleCreateJob();
    // A double-click or key step from the video window: fills the fields and
    // moves there; nothing while the stage is busy or the control time is over.
    virtual void goTo(CoordinateTriple& destination);
    // A double-clicked point: the stage goes there and the sampling region to
    // the middle of the view, so the region stays on the clicked feature.
    virtual void centreOn(CoordinateTriple& destination);
    // File > Save Stack: the complete stack as one OME-TIFF, written by a worker.
    void saveStack();
    void saveStackTo(const QString& fileName);
    // Starts fusing the whole-frame stack on a worker, or cancels the fusion.
    void fuseStack();
    void saveAllInFocus();

signals:
    void physicalLocationChanged(CoordinateTriple& position);
    // A stack file was written, or failed to be (error says why).
    void stackSaved(const QString& fileName, const QString& error);
    // A fusion ended; the window shows its result unless it was cancelled.
    void fusionFinished(bool cancelled);

protected:
    // Closing the window in any way ends the session as File > Exit does.
    void closeEvent(QCloseEvent* event) override;

private:
    void buildForm();
    void buildSystemInfoTab();
    void buildFocusTab();
    void buildJobTab();
    void buildScanRow();
    void buildCoordinateBlock(QWidget* central);
    void buildAutofocusBlock(QWidget* central);
    void buildActions();
    void connectForm();
    // The region scan asks for its settings and reports by signals; the page and status line are wired here.
    void connectRegionScan();
    void showVideoWindow();
    void placeVideoWindow();
    // The remaining time in timeLabel, in the warning colour from five minutes on.
    void showRemainingTime();

    QString sessionUrl(const QString& query) const;
    // Appends plain text to sysInfoBox, as its own paragraph; never markup.
    // A "***" error also goes to the status bar, and the System Info tab is
    // marked while another page is open.
    void appendInfo(const QString& text);
    void markSystemInfo(bool unread);
    // Good news and warnings in the status bar, giving way to what stood there.
    void showNotice(const QString& notice);
    static constexpr int noticeMs = 3000;
    void sendAutofocus(const QString& status, bool accurate);
    // The final position of a move, an autofocus or a query.
    void stageArrived();
    void stageFailed(Stage::Failure kind);
    // Disables the controls for a move or an autofocus.
    void beginStageMove();
    // Fills the fields with a destination and sends the move.
    void moveToPoint(CoordinateTriple& destination);
    // True, with a word in the status bar, while coordinates typed into the fields have not been sent.
    bool keepTypedCoordinates();
    void stopStack(const QString& reason);
    void showSharpness();
    void videoFetchFailed();
    // Save Stack and All in Focus follow the stack in hand and the fusion.
    void updateStackActions();
    void showAllInFocus(const FusionResult& fused, const OmeImage& meta, const QString& text, const QString& summary);

    // From "Move" or an autofocus until the server reports the final position or fails.
    bool stageMoving = false;
    StageKeys* stageKeys = nullptr;
    RecipeRunner* recipeRunner = nullptr;
    bool stackComplete = false;
    QFutureWatcher<QString>* stackSaving = nullptr;
    QFutureWatcher<FusionResult>* fusing = nullptr;
    std::shared_ptr<FocusFusion> fusion;
    // 0 no warning given yet, 1 the five-minute one, 2 the one-minute one.
    int timeWarning = 0;
};
