#include "session/Session.h"

#include "session/MarksController.h"
#include "views/FocusCurve.h"
#include "views/HighResPreview.h"
#include "views/LowResPreview.h"
#include "views/MarksPanel.h"
#include "views/RecentFiles.h"
#include "views/VideoStack.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>

namespace {

QLabel* label(QWidget* parent, const char* name, const QString& text, const QRect& geometry)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setGeometry(geometry);
    return l;
}

QPushButton* button(QWidget* parent, const char* name, const QString& text, const QRect& geometry)
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(geometry);
    return b;
}

QLineEdit* lineEdit(QWidget* parent, const char* name, const QRect& geometry)
{
    auto* e = new QLineEdit(parent);
    e->setObjectName(QString::fromLatin1(name));
    e->setGeometry(geometry);
    return e;
}

QSpinBox* spinBox(QWidget* parent, const char* name, int minimum, int maximum, int value, const QRect& geometry)
{
    auto* s = new QSpinBox(parent);
    s->setObjectName(QString::fromLatin1(name));
    s->setRange(minimum, maximum);
    s->setValue(value);
    s->setGeometry(geometry);
    return s;
}

QLabel* wrappedHelp(QWidget* parent, const char* name, const QString& text, const QRect& geometry)
{
    QLabel* l = label(parent, name, text, geometry);
    QFont font = l->font();
    font.setFamily(QStringLiteral("Arial"));
    // a smaller face so the long help fits above the controls of its tab
    font.setPointSizeF(font.pointSizeF() * 0.85);
    l->setFont(font);
    l->setTextFormat(Qt::PlainText);
    l->setWordWrap(true);
    l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return l;
}

QAction* action(QObject* owner, const char* name, const QString& text, const QString& menuText,
                const QKeySequence& shortcut)
{
    auto* a = new QAction(menuText, owner);
    a->setObjectName(QString::fromLatin1(name));
    a->setIconText(text);
    if (!shortcut.isEmpty())
        a->setShortcut(shortcut);
    return a;
}

} // namespace

QString Session::helpText()
{
    return QStringLiteral(
        "Tessan\n"
        "Version 2.03\n"
        "\n"
        "To begin, choose a destination on the slide by clicking on either preview image to the left.  You can "
        "drag the mouse for fine positioning.  When you are satisfied with your selection, press \"Move\" to move "
        "the microscope.\n"
        "\n"
        "The red square in the low-resolution preview shows the current location of the microscope.  The green "
        "circle is your current destination, which can be altered by clicking and dragging on the slide.\n"
        "\n"
        "The Autofocus buttons can be used to find tissue which is out of focus.  For manual focusing, click on "
        "the \"Focus Assist\" tab to acquire a small image stack.");
}

void Session::buildForm()
{
    resize(800, 600);
    setMinimumSize(21, 49);
    setMaximumSize(800, 600);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setWindowTitle(QStringLiteral("Tessan v2.03"));
    setWindowIconText(QStringLiteral("Up"));

    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("widget"));
    setCentralWidget(central);

    lowRes = new LowResPreview(central, "lowRes");
    lowRes->setGeometry(11, 11, 383, 255);
    lowRes->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

    highRes = new HighResPreview(central, "highRes");
    highRes->setGeometry(11, 272, 383, 246);
    highRes->setCursor(Qt::ArrowCursor);

    Stack_Acquisition = new QTabWidget(central);
    Stack_Acquisition->setObjectName(QStringLiteral("Stack_Acquisition"));
    Stack_Acquisition->setGeometry(400, 11, 389, 330);
    buildSystemInfoTab();
    buildFocusTab();
    buildJobTab();

    buildCoordinateBlock(central);
    buildAutofocusBlock(central);

    TextLabel2 = label(central, "TextLabel2", QStringLiteral("Control Time Remaining:"), QRect(400, 505, 180, 22));
    timeLabel = label(central, "timeLabel", QStringLiteral("Retrieving time..."), QRect(585, 505, 200, 22));

    buildActions();
}

void Session::buildSystemInfoTab()
{
    tab = new QWidget(Stack_Acquisition);
    tab->setObjectName(QStringLiteral("tab"));
    sysInfoBox = new QPlainTextEdit(tab);
    sysInfoBox->setObjectName(QStringLiteral("sysInfoBox"));
    sysInfoBox->setGeometry(5, 5, 370, 280);
    sysInfoBox->setReadOnly(true);
    sysInfoBox->setFrameShadow(QFrame::Sunken);
    sysInfoBox->setPlainText(helpText());
    Stack_Acquisition->addTab(tab, QStringLiteral("System Info"));
}

void Session::buildFocusTab()
{
    tab_2 = new QWidget(Stack_Acquisition);
    tab_2->setObjectName(QStringLiteral("tab_2"));
    TextLabel1 = wrappedHelp(
        tab_2, "TextLabel1",
        QStringLiteral("Press \"Get Focus Stack\" to acquire a series of small images at regular intervals along the "
                       "Z axis, centered around the current Z position.  After acquiring the stack, you can use "
                       "the focus slider to focus the image and press \"Move\" to acquire a full video frame.\n"
                       "\n"
                       "The sampling region within the image is visible in the video window as a red rectangle.  "
                       "This rectangle can be dragged with the mouse to change the sampling region."),
        QRect(5, 0, 372, 118));

    insetStack = new VideoStack(tab_2, "insetStack");
    insetStack->setGeometry(5, 120, 168, 140);
    insetStack->setFixedSize(168, 140);

    frameCountSelector = spinBox(tab_2, "frameCountSelector", 3, 120, 15, QRect(180, 120, 64, 24));
    TextLabel2_2 = label(tab_2, "TextLabel2_2", QStringLiteral("frames"), QRect(250, 120, 125, 24));
    frameRangeSelector = spinBox(tab_2, "frameRangeSelector", 1, 1000, 200, QRect(180, 146, 64, 24));
    TextLabel2_2_2 = label(tab_2, "TextLabel2_2_2", QStringLiteral("µm total interval"), QRect(250, 146, 125, 24));
    focusStackButton = button(tab_2, "focusStackButton", QStringLiteral("Get Focus Stack"), QRect(180, 172, 112, 26));
    fullFrameCheck = new QCheckBox(QStringLiteral("Full frame"), tab_2);
    fullFrameCheck->setObjectName(QStringLiteral("fullFrameCheck"));
    fullFrameCheck->setGeometry(298, 172, 80, 26);
    fullFrameCheck->setToolTip(QStringLiteral("Take whole live frames at the current picture size"));

    // One line of outcome above the curve of the whole stack.
    focusMeasureLabel = label(tab_2, "focusMeasureLabel", QString(), QRect(180, 200, 195, 16));
    focusMeasureLabel->setTextFormat(Qt::PlainText);
    QFont small = focusMeasureLabel->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    focusMeasureLabel->setFont(small);
    focusCurve = new FocusCurve(tab_2, "focusCurve");
    focusCurve->setGeometry(180, 217, 195, 45);

    zSlider = new QSlider(Qt::Horizontal, tab_2);
    zSlider->setObjectName(QStringLiteral("zSlider"));
    zSlider->setRange(0, 29);
    zSlider->setValue(0);
    zSlider->setGeometry(5, 266, 262, 24);
    allInFocusButton = button(tab_2, "allInFocusButton", QStringLiteral("All in Focus"), QRect(272, 264, 103, 26));
    allInFocusButton->setToolTip(QStringLiteral("Fuse the whole-frame stack into one picture sharp throughout"));
    allInFocusButton->setEnabled(false);
    Stack_Acquisition->addTab(tab_2, QStringLiteral("Focus Assist"));
}

void Session::buildJobTab()
{
    tab_3 = new QWidget(Stack_Acquisition);
    tab_3->setObjectName(QStringLiteral("tab_3"));
    TextLabel1_6 = wrappedHelp(
        tab_3, "TextLabel1_6",
        QStringLiteral("Use the \"Set Top Left Corner\" and \"Set Bottom Right Corner\" buttons to define a "
                       "rectangular region to sample on the high-res preview image in the bottom right of this "
                       "window. Enter a name for the job, select a linear sample density, and then click "
                       "\"Create Job\" to put your job in the queue. Once the job is complete, it will show up in "
                       "Stelvar with the name you give it here."),
        QRect(5, 0, 372, 72));

    TextLabel1_5 = label(tab_3, "TextLabel1_5", QStringLiteral("Job name"), QRect(5, 74, 70, 24));
    jobNameEdit = lineEdit(tab_3, "jobNameEdit", QRect(80, 74, 295, 24));
    PushButton6 = button(tab_3, "PushButton6", QStringLiteral("Set Top Left Corner"), QRect(5, 101, 183, 26));
    PushButton7 = button(tab_3, "PushButton7", QStringLiteral("Set Bottom Right Corner"), QRect(192, 101, 183, 26));
    TextLabel1_4 = label(tab_3, "TextLabel1_4", QStringLiteral("Linear Sample Density:"), QRect(5, 130, 160, 24));
    densityBox = spinBox(tab_3, "densityBox", 1, 10, 1, QRect(170, 130, 56, 24));
    TextLabel2_4 = label(tab_3, "TextLabel2_4", QStringLiteral("samples / mm"), QRect(232, 130, 140, 24));
    TextLabel3 = label(tab_3, "TextLabel3", QStringLiteral("Add a total of"), QRect(5, 157, 110, 24));
    totalBox = lineEdit(tab_3, "totalBox", QRect(118, 157, 90, 24));
    totalBox->setReadOnly(true);
    TextLabel4 = label(tab_3, "TextLabel4", QStringLiteral("sampling points"), QRect(214, 157, 160, 24));
    resetAcquisitionButton =
        button(tab_3, "resetAcquisitionButton", QStringLiteral("Reset Selection"), QRect(5, 184, 183, 26));
    createJobButton = button(tab_3, "createJobButton", QStringLiteral("Create Job"), QRect(192, 184, 183, 26));
    buildScanRow();
    Stack_Acquisition->addTab(tab_3, QStringLiteral("Image Acquisition"));
}

void Session::buildScanRow()
{
    // The scan shares the corners of the job above.
    auto* rule = new QFrame(tab_3);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    rule->setGeometry(5, 213, 370, 4);
    overlapLabel = label(tab_3, "overlapLabel", QStringLiteral("Overlap"), QRect(5, 243, 56, 24));
    overlapBox = spinBox(tab_3, "overlapBox", 5, 50, 15, QRect(62, 243, 64, 24));
    overlapBox->setSuffix(QStringLiteral(" %"));
    scanFocusBox = new QComboBox(tab_3);
    scanFocusBox->setObjectName(QStringLiteral("scanFocusBox"));
    scanFocusBox->addItems({QStringLiteral("Keep focus"), QStringLiteral("Autofocus every tile"),
                            QStringLiteral("Autofocus every N tiles"), QStringLiteral("Focus map")});
    scanFocusBox->setItemData(3,
                              QStringLiteral("Autofocus at up to 3 × 3 points first, fit a surface through them and "
                                             "take every tile at its height"),
                              Qt::ToolTipRole);
    scanFocusBox->setGeometry(132, 243, 186, 24);
    scanFocusEveryBox = spinBox(tab_3, "scanFocusEveryBox", 2, 100, 4, QRect(322, 243, 53, 24));
    scanFocusEveryBox->setPrefix(QStringLiteral("N="));
    scanFocusEveryBox->setEnabled(false);
    scanSizeLabel = label(tab_3, "scanSizeLabel", QString(), QRect(5, 270, 183, 26));
    scanSizeLabel->setTextFormat(Qt::PlainText);
    scanRegionButton = button(tab_3, "scanRegionButton", QStringLiteral("Scan Region"), QRect(192, 270, 183, 26));
    scanRegionButton->setToolTip(QStringLiteral("Take overlapping frames over the region between the two corners, "
                                                "at the live picture size, and stitch them into one picture"));
    overlapBox->setToolTip(QStringLiteral("How much neighbouring frames share, for stitching them"));
    correctLightBox = new QCheckBox(QStringLiteral("Correct uneven light"), tab_3);
    correctLightBox->setObjectName(QStringLiteral("correctLightBox"));
    correctLightBox->setChecked(true);
    correctLightBox->setGeometry(5, 218, 370, 22);
    correctLightBox->setToolTip(
        QStringLiteral("Learn the camera's light fall-off from the tiles themselves and even it "
                       "out; the profile is saved beside the mosaic"));
}

void Session::buildCoordinateBlock(QWidget* central)
{
    auto* block = new QWidget(central);
    block->setObjectName(QStringLiteral("coordinateBlock"));
    block->setGeometry(400, 348, 215, 150);

    QPalette white = block->palette();
    white.setColor(QPalette::Base, Qt::white);
    auto coordinate = [block, &white](const char* name, int y) {
        QLineEdit* e = lineEdit(block, name, QRect(28, y, 130, 24));
        e->setPalette(white);
        e->setFixedHeight(24);
        return e;
    };
    TextLabel1_2 = label(block, "TextLabel1_2", QStringLiteral("X:"), QRect(2, 0, 24, 24));
    xCoord = coordinate("xCoord", 0);
    TextLabel1_3_4_2 = label(block, "TextLabel1_3_4_2", QStringLiteral("mm"), QRect(164, 0, 40, 24));
    TextLabel1_2_2_2 = label(block, "TextLabel1_2_2_2", QStringLiteral("Y:"), QRect(2, 28, 24, 24));
    yCoord = coordinate("yCoord", 28);
    TextLabel1_3_2_2_2 = label(block, "TextLabel1_3_2_2_2", QStringLiteral("mm"), QRect(164, 28, 40, 24));
    TextLabel2_3 = label(block, "TextLabel2_3", QStringLiteral("Z:"), QRect(2, 56, 24, 24));
    zCoord = coordinate("zCoord", 56);
    TextLabel1_3_3_2_2 = label(block, "TextLabel1_3_3_2_2", QStringLiteral("µm"), QRect(164, 56, 40, 24));
    showCurrentPosition =
        button(block, "showCurrentPosition", QStringLiteral("Show Current Position"), QRect(0, 86, 210, 28));
    frameGrabButton = button(block, "frameGrabButton", QStringLiteral("Move"), QRect(106, 118, 104, 28));
}

void Session::buildAutofocusBlock(QWidget* central)
{
    auto* block = new QWidget(central);
    block->setObjectName(QStringLiteral("autofocusBlock"));
    block->setGeometry(622, 348, 167, 100);
    TextLabel1_3 = label(block, "TextLabel1_3", QStringLiteral("Find Tissue (Autofocus)"), QRect(0, 0, 167, 22));
    TextLabel1_3->setAlignment(Qt::AlignCenter);
    Line2 = new QFrame(block);
    Line2->setObjectName(QStringLiteral("Line2"));
    Line2->setFrameShape(QFrame::HLine);
    Line2->setFrameShadow(QFrame::Sunken);
    Line2->setGeometry(0, 22, 167, 6);
    AFButton = button(block, "AFButton", QStringLiteral("Quick"), QRect(0, 34, 80, 28));
    slowFocusButton = button(block, "slowFocusButton", QStringLiteral("Accurate"), QRect(86, 34, 81, 28));
}

void Session::buildActions()
{
    newSessionAction = action(this, "newSessionAction", QStringLiteral("New Session..."),
                              QStringLiteral("&New Session"), QKeySequence(Qt::CTRL | Qt::Key_N));
    newSessionAction->setToolTip(QStringLiteral("Control another microscope"));
    fileOpenAction = action(this, "fileOpenAction", QStringLiteral("Open"), QStringLiteral("&Open..."),
                            QKeySequence(Qt::CTRL | Qt::Key_O));
    fileSaveAction = action(this, "fileSaveAction", QStringLiteral("Save"), QStringLiteral("&Save"),
                            QKeySequence(Qt::CTRL | Qt::Key_S));
    fileSaveAsAction =
        action(this, "fileSaveAsAction", QStringLiteral("Save As"), QStringLiteral("Save &As..."), QKeySequence());
    filePrintAction = action(this, "filePrintAction", QStringLiteral("Print"), QStringLiteral("&Print..."),
                             QKeySequence(Qt::CTRL | Qt::Key_P));
    fileExitAction = action(this, "fileExitAction", QStringLiteral("Exit"), QStringLiteral("E&xit"), QKeySequence());
    editUndoAction = action(this, "editUndoAction", QStringLiteral("Undo"), QStringLiteral("&Undo"),
                            QKeySequence(Qt::CTRL | Qt::Key_Z));
    editRedoAction = action(this, "editRedoAction", QStringLiteral("Redo"), QStringLiteral("&Redo"),
                            QKeySequence(Qt::CTRL | Qt::Key_Y));
    editCutAction = action(this, "editCutAction", QStringLiteral("Cut"), QStringLiteral("&Cut"),
                           QKeySequence(Qt::CTRL | Qt::Key_X));
    editCopyAction = action(this, "editCopyAction", QStringLiteral("Copy"), QStringLiteral("C&opy"),
                            QKeySequence(Qt::CTRL | Qt::Key_C));
    editPasteAction = action(this, "editPasteAction", QStringLiteral("Paste"), QStringLiteral("&Paste"),
                             QKeySequence(Qt::CTRL | Qt::Key_V));
    editFindAction =
        action(this, "editFindAction", QStringLiteral("Draw Oval"), QStringLiteral("Draw Oval"), QKeySequence());
    viewVideoAction = action(this, "viewVideoAction", QStringLiteral("Video Window"), QStringLiteral("&Video Window"),
                             QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V));
    viewVideoAction->setToolTip(QStringLiteral("Show the live video window again"));
    fileSaveStackAction = action(this, "fileSaveStackAction", QStringLiteral("Save Stack"),
                                 QStringLiteral("Save &Stack..."), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    fileSaveStackAction->setToolTip(QStringLiteral("Save the focus stack as one OME-TIFF file"));
    fileSaveStackAction->setEnabled(false);
    fileSaveAllInFocusAction = action(this, "fileSaveAllInFocusAction", QStringLiteral("Save All-in-Focus"),
                                      QStringLiteral("Save &All-in-Focus..."), QKeySequence());
    fileSaveAllInFocusAction->setEnabled(false);

    // Actions outside the menu still answer their accelerators as window actions.
    addActions({newSessionAction, fileOpenAction, fileSaveAction, fileSaveAsAction, filePrintAction, fileExitAction,
                editUndoAction, editRedoAction, editCutAction, editCopyAction, editPasteAction, editFindAction,
                viewVideoAction, fileSaveStackAction, fileSaveAllInFocusAction});

    QMenu* fileMenu = menuBar()->addMenu(QStringLiteral("&File"));
    fileMenu->setObjectName(QStringLiteral("fileMenu"));
    fileMenu->addAction(newSessionAction);
    fileMenu->addAction(fileOpenAction);
    RecentFiles::attach(fileMenu->addMenu(QStringLiteral("Open &Recent")), this,
                        [this](const QString& path) { openInViewer(path); });
    fileMenu->addSeparator();
    fileMenu->addAction(fileSaveStackAction);
    fileMenu->addAction(fileSaveAllInFocusAction);
    saveMosaicAction = action(this, "saveMosaicAction", QStringLiteral("Save Mosaic"),
                              QStringLiteral("Save &Mosaic..."), QKeySequence());
    saveMosaicAction->setEnabled(false);
    fileMenu->addAction(saveMosaicAction);
    fileSaveRecipeAction = action(this, "fileSaveRecipeAction", QStringLiteral("Save as Recipe"),
                                  QStringLiteral("Save as &Recipe..."), QKeySequence());
    fileSaveRecipeAction->setToolTip(
        QStringLiteral("Save the position, stack and region as a recipe for tessan-acquire"));
    fileMenu->addAction(fileSaveRecipeAction);
    fileRunRecipeAction = action(this, "fileRunRecipeAction", QStringLiteral("Run Recipe"),
                                 QStringLiteral("R&un Recipe..."), QKeySequence());
    fileRunRecipeAction->setToolTip(QStringLiteral("Run a recipe on this session's microscope"));
    fileMenu->addAction(fileRunRecipeAction);
    fileMenu->addSeparator();
    fileMenu->addAction(fileExitAction);

    QMenu* editMenu = menuBar()->addMenu(QStringLiteral("&Edit"));
    editMenu->setObjectName(QStringLiteral("editMenu"));

    QMenu* viewMenu = menuBar()->addMenu(QStringLiteral("&View"));
    viewMenu->setObjectName(QStringLiteral("viewMenu"));
    viewMenu->addAction(viewVideoAction);

    marks = new MarksController(this);
    marks->addToMenus(fileMenu, fileExitAction, editMenu, viewMenu);
    Stack_Acquisition->addTab(marks->panel(), QStringLiteral("Marks"));
}
