#include "session/MarksController.h"
#include "session/Session.h"
#include "setup/ScopeBrowser.h"
#include "views/HighResPreview.h"
#include "views/LowResPreview.h"
#include "views/VideoWindow.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTextBrowser>
#include <QtTest>

// The three forms as the user meets them: every widget's name, kind, text,
// place and settings, one row each.
class TestForms : public QObject
{
    Q_OBJECT

    ScopeBrowser browser;
    Session session;
    VideoWindow video;

private slots:
    void initTestCase()
    {
        // layouts place their widgets when the window is shown
        for (QWidget* w :
             {static_cast<QWidget*>(&browser), static_cast<QWidget*>(&session), static_cast<QWidget*>(&video)})
            w->show();
    }

    // One line a widget: window | object name | kind | text ("~": none) |
    // place x,y,w,h (x "-": size only; "in " first: somewhere inside) |
    // properties "name=value;..." ("family", "items", "tab", "cursor" are read specially).
    void widgets_data()
    {
        QTest::addColumn<QStringList>("row");
        const char* table =
            R"(B|ScopeBrowser|QDialog|~|-,-,759,380|windowTitle=Tessan 2.03 - New Scope Session;sizeGripEnabled=true;modal=false
B|TextLabel1|QLabel|Server:|in 10,10,330,26|
B|hostName|QLineEdit|localhost:8642|in 10,10,330,26|readOnly=false
B|connectionStatus|QLabel|Ready to connect.|11,43,207,32|
B|connectToServer|QPushButton|Connect|220,40,120,32|flat=false
B|bannerBox|QTextEdit||10,80,330,170|family=Helvetica [Urw]
B|TextLabel2|QLabel|Microscopes Available On Host|in 10,260,330,110|alignment=132
B|scopeListBox|QListWidget|~|in 10,260,330,110|
B|Line1|QFrame|~|340,10,20,360|frameShape=5;frameShadow=48
B|TextLabel3|QLabel|Microscope Description|in 360,10,370,290|alignment=132
B|descriptionBox|QTextBrowser||in 360,10,370,290|family=Helvetica [Urw]
B|TextLabel5|QLabel|Available Slides|in 360,10,370,290|alignment=132
B|slideList|QListWidget|~|in 360,10,370,290|family=Helvetica [Urw];focusPolicy=0
B|TextLabel1_2|QLabel|Username:|in 340,310,122,22|
B|loginBox|QLineEdit||470,310,90,22|
B|TextLabel1_2_2|QLabel|Password:|in 562,310,72,22|
B|passwordBox|QLineEdit||640,310,90,22|echoMode=2
B|cancelButton|QPushButton|Cancel|360,340,98,32|enabled=true
B|reserveButton|QPushButton|Reserve Next Available|464,340,150,32|enabled=false
B|beginButton|QPushButton|Control Scope|620,340,120,32|enabled=false
S|Session|QMainWindow|~|-,-,800,600|windowTitle=Tessan v2.03;windowIconText=Up;maximumSize=800x600;minimumSize=21x49
S|lowRes|LowResPreview|~|-,-,383,255|
S|highRes|HighResPreview|~|-,-,383,246|cursor=0
S|Stack_Acquisition|QTabWidget|~|-,-,389,330|count=4
S|tab|QWidget|~||tab=0:System Info
S|sysInfoBox|QPlainTextEdit|~|-,-,370,280|readOnly=true;frameShadow=48
S|tab_2|QWidget|~||tab=1:Focus Assist
S|TextLabel1|QLabel|~||family=Arial;textFormat=0;wordWrap=true;alignment=129
S|insetStack|VideoStack|~|-,-,168,140|minimumSize=168x140;maximumSize=168x140
S|frameCountSelector|QSpinBox|~||minimum=3;maximum=120;value=15
S|TextLabel2_2|QLabel|frames||
S|frameRangeSelector|QSpinBox|~||minimum=1;maximum=1000;value=200
S|TextLabel2_2_2|QLabel|µm total interval||
S|zSlider|QSlider|~||orientation=1;minimum=0;maximum=29;value=0
S|focusStackButton|QPushButton|Get Focus Stack||
S|tab_3|QWidget|~||tab=2:Image Acquisition
S|TextLabel1_6|QLabel|~||family=Arial;wordWrap=true
S|TextLabel1_5|QLabel|Job name||
S|jobNameEdit|QLineEdit|||
S|PushButton6|QPushButton|Set Top Left Corner||
S|PushButton7|QPushButton|Set Bottom Right Corner||
S|resetAcquisitionButton|QPushButton|Reset Selection||
S|TextLabel1_4|QLabel|Linear Sample Density:||
S|densityBox|QSpinBox|~||minimum=1;maximum=10
S|TextLabel2_4|QLabel|samples / mm||
S|TextLabel3|QLabel|Add a total of||
S|totalBox|QLineEdit|~||readOnly=true
S|TextLabel4|QLabel|sampling points||
S|TextLabel1_2|QLabel|X:||
S|xCoord|QLineEdit|~||readOnly=false
S|TextLabel1_3_4_2|QLabel|mm||
S|TextLabel1_2_2_2|QLabel|Y:||
S|yCoord|QLineEdit|~||readOnly=false
S|TextLabel1_3_2_2_2|QLabel|mm||
S|TextLabel2_3|QLabel|Z:||
S|zCoord|QLineEdit|~||readOnly=false
S|TextLabel1_3_3_2_2|QLabel|µm||
S|showCurrentPosition|QPushButton|Show Current Position||
S|frameGrabButton|QPushButton|Move||
S|TextLabel1_3|QLabel|Find Tissue (Autofocus)||
S|Line2|QFrame|~||frameShape=4
S|AFButton|QPushButton|Quick||
S|slowFocusButton|QPushButton|Accurate||
S|TextLabel2|QLabel|Control Time Remaining:||
S|timeLabel|QLabel|Retrieving time...||
S|newSessionAction|QAction|&New Session||iconText=New Session...;shortcut=Ctrl+N;toolTip=Control another microscope
S|fileOpenAction|QAction|&Open...||iconText=Open;shortcut=Ctrl+O
S|fileSaveAction|QAction|&Save||iconText=Save;shortcut=Ctrl+S
S|fileSaveAsAction|QAction|Save &As...||iconText=Save As;shortcut=
S|filePrintAction|QAction|&Print...||iconText=Print;shortcut=Ctrl+P
S|fileExitAction|QAction|E&xit||iconText=Exit;shortcut=
S|editUndoAction|QAction|&Undo||iconText=Undo;shortcut=Ctrl+Z
S|editRedoAction|QAction|&Redo||iconText=Redo;shortcut=Ctrl+Y
S|editCutAction|QAction|&Cut||iconText=Cut;shortcut=Ctrl+X
S|editCopyAction|QAction|C&opy||iconText=Copy;shortcut=Ctrl+C
S|editPasteAction|QAction|&Paste||iconText=Paste;shortcut=Ctrl+V
S|editFindAction|QAction|~||iconText=Draw Oval;shortcut=
V|VideoWindow|QWidget|~|-,-,662,604|windowTitle=Tessan: Video;family=Helvetica [Urw]
V|CheckBox4|QCheckBox|Invert Video|in 200,10,230,50|checked=false;family=Helvetica [Urw]
V|CheckBox3_2|QCheckBox|Gain|in 200,10,230,50|checked=false
V|brightnessSlider_2|QSlider|~|in 200,10,230,50|orientation=1;minimum=20;maximum=200;value=100
V|contrastCheck|QCheckBox|Contrast Expansion|in 10,10,178,51|checked=true
V|ComboBox2|QComboBox|~|in 10,10,178,51|editable=false;currentIndex=0;items=Normal|Red|Green|Blue
V|TextLabel1|QLabel|Color Channel|in 10,10,178,51|frameShape=0
V|filterChoices|QComboBox|~|in 440,10,200,51|editable=false;currentIndex=0;items=None|Red Filter|Green Filter|Blue Filter
V|TextLabel4|QLabel|Colored Filter|in 440,10,200,51|
V|showFAR|QCheckBox|Focus Overlay|in 440,10,200,51|checked=true
V|imageView|VideoView|~|10,100,640,480|mouseTracking=false;cursor=0
V|ComboBox3|QComboBox|~|10,70,93,22|editable=false;currentIndex=0;items=640x480|800x600|1024x768|1280x960
V|PushButton14|QPushButton|Save Image|120,70,101,21|family=Helvetica [Urw]
V|TextLabel1_2|QLabel|X:|in 320,70,330,24|
V|xCoord|QLineEdit||in 320,70,330,24|family=Helvetica [Urw]
V|TextLabel1_2_3|QLabel|mm|in 320,70,330,24|
V|TextLabel1_2_2|QLabel|Y:|in 320,70,330,24|
V|yCoord|QLineEdit||in 320,70,330,24|
V|TextLabel1_2_3_2|QLabel|mm|in 320,70,330,24|)";
        for (const QString& line : QString::fromUtf8(table).split('\n')) {
            const QStringList row = line.split('|');
            QTest::addRow("%s %s", qPrintable(row[0]), qPrintable(row[1])) << row;
        }
    }

    void widgets()
    {
        QFETCH(QStringList, row);
        QWidget* top = row[0] == "B"   ? static_cast<QWidget*>(&browser)
                       : row[0] == "S" ? static_cast<QWidget*>(&session)
                                       : static_cast<QWidget*>(&video);
        QObject* object = top->objectName() == row[1] ? top : top->findChild<QObject*>(row[1]);
        QVERIFY2(object, "no such object");
        QVERIFY2(object->inherits(row[2].toLatin1()), object->metaObject()->className());
        auto* widget = qobject_cast<QWidget*>(object);
        if (row[3] != QLatin1String("~"))
            QCOMPARE(object->property(object->property("text").isValid() ? "text" : "plainText").toString(), row[3]);
        const bool inside = row[4].startsWith("in ");
        const QStringList place = row[4].mid(inside ? 3 : 0).split(',');
        if (place.size() == 4 && place[0] == QLatin1String("-")) {
            QCOMPARE(widget->size(), QSize(place[2].toInt(), place[3].toInt()));
        } else if (place.size() == 4) {
            const QRect want(place[0].toInt(), place[1].toInt(), place[2].toInt(), place[3].toInt());
            const QRect at(widget->mapTo(top, QPoint(0, 0)), widget->size());
            QVERIFY2(
                inside ? want.contains(at) : at == want,
                qPrintable(QStringLiteral("at %1,%2 %3x%4").arg(at.x()).arg(at.y()).arg(at.width()).arg(at.height())));
        }
        // the combo boxes' items hold "|" too
        const QString props = row.mid(5).join('|');
        for (const QString& pair : props.split(';', Qt::SkipEmptyParts)) {
            const QString key = pair.section(QLatin1Char('='), 0, 0);
            const QString want = pair.section(QLatin1Char('='), 1);
            QString got;
            if (key == QLatin1String("family"))
                got = widget->font().family();
            else if (key == QLatin1String("items")) {
                auto* box = qobject_cast<QComboBox*>(widget);
                for (int i = 0; i < box->count(); ++i)
                    got += (i ? QStringLiteral("|") : QString()) + box->itemText(i);
            } else if (key == QLatin1String("tab")) {
                auto* tabs = qobject_cast<QTabWidget*>(widget->parentWidget()->parentWidget());
                got = QString::number(tabs->indexOf(widget)) + QLatin1Char(':') + tabs->tabText(tabs->indexOf(widget));
            } else if (key == QLatin1String("cursor")) {
                got = QString::number(widget->cursor().shape());
            } else {
                const QVariant value = object->property(key.toLatin1());
                const QSize size = value.toSize();
                bool numeric = false;
                want.toInt(&numeric);
                got = numeric ? QString::number(value.toInt())
                      : value.typeId() == QMetaType::QSize
                          ? QStringLiteral("%1x%2").arg(size.width()).arg(size.height())
                      : value.typeId() == QMetaType::QKeySequence ? value.value<QKeySequence>().toString()
                                                                  : value.toString();
                QVERIFY2(value.isValid(), qPrintable(key));
            }
            QVERIFY2(got == want, qPrintable(key + QStringLiteral(": ") + got));
        }
    }

    // The control window's slots in their declared order; later slots follow them.
    void sessionSlotOrder()
    {
        const QString order = "fileOpen() fileSave() fileSaveAs() filePrint() fileExit() editUndo() editRedo() "
                              "editCut() begin(SessionInfo&) editPaste() editFind() upButtonPressed() newSession() "
                              "init() updateVideo() newCoordsHere() destroy() pointToScreen(CoordinateTriple) "
                              "queryCoords() changeDestination(CoordinateTriple&) beginZAcquire() zMoveComplete() "
                              "startNextZImage(QImage&) focusSliderChanged(int) nudgeUp() doCoarseAuto() "
                              "sysInfoArrived() showCurrent() disableControls() enableControls() startTimer() "
                              "tickme() doSlowAccurate() changeVideoFormat(int) setC1() setC2() calcNumMovies() "
                              "handleJobReset() handleCreateJob()";
        const QMetaObject& meta = Session::staticMetaObject;
        QStringList declared;
        for (int i = meta.methodOffset(); i < meta.methodCount(); ++i)
            if (meta.method(i).methodType() == QMetaMethod::Slot)
                declared << QString::fromLatin1(meta.method(i).methodSignature());
        QCOMPARE(declared.mid(0, 39).join(' '), order);
    }

    void browserFocusOrder()
    {
        const QList<QWidget*> order = {browser.connectToServer, browser.beginButton,    browser.cancelButton,
                                       browser.reserveButton,   browser.scopeListBox,   browser.slideList,
                                       browser.hostName,        browser.descriptionBox, browser.loginBox,
                                       browser.passwordBox};
        QList<QWidget*> chain;
        QWidget* w = browser.connectToServer;
        do {
            if (order.contains(w))
                chain << w;
            w = w->nextInFocusChain();
        } while (w != browser.connectToServer);
        QCOMPARE(chain, order);
    }

    void sessionArrangement()
    {
        const auto at = [this](QWidget* w) { return QRect(w->mapTo(&session, QPoint(0, 0)), w->size()); };
        QCOMPARE(session.sizePolicy(), QSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding));
        QCOMPARE(session.lowRes->sizePolicy(), QSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed));
        // overview top left, preview below, tabs right; coordinates then autofocus under them
        QVERIFY(at(session.highRes).top() >= at(session.lowRes).bottom());
        QVERIFY(at(session.Stack_Acquisition).left() >= at(session.lowRes).right());
        QVERIFY(at(session.xCoord).top() > at(session.Stack_Acquisition).bottom());
        QVERIFY(at(session.AFButton).left() > at(session.xCoord).right());
        QVERIFY(at(session.timeLabel).top() > at(session.frameGrabButton).top());
        QCOMPARE(session.xCoord->palette().color(QPalette::Base), QColor(Qt::white));
        QCOMPARE(session.xCoord->minimumHeight(), session.xCoord->maximumHeight());
        QVERIFY(session.sysInfoBox->toPlainText().contains(
            "To begin, choose a destination on the slide by clicking on either preview image to the left.  You can "
            "drag the mouse for fine positioning.  When you are satisfied with your selection, press \"Move\" to "
            "move the microscope.\n\nThe red square in the low-resolution preview shows the current location of the "
            "microscope.  The green circle is your current destination, which can be altered by clicking and dragging "
            "on the slide.\n\nThe Autofocus buttons can be used to find tissue which is out of focus.  For manual "
            "focusing, click on the \"Focus Assist\" tab to acquire a small image stack."));
        QCOMPARE(session.TextLabel1->text(),
                 "Press \"Get Focus Stack\" to acquire a series of small images at regular intervals along the Z axis, "
                 "centered around the current Z position.  After acquiring the stack, you can use the focus slider to "
                 "focus the image and press \"Move\" to acquire a full video frame.\n\nThe sampling region within the "
                 "image is visible in the video window as a red rectangle.  This rectangle can be dragged with the "
                 "mouse to change the sampling region.");
        QList<QAction*> menu = session.menuBar()->actions().value(0)->menu()->actions();
        QCOMPARE(session.menuBar()->actions().value(0)->text(), QStringLiteral("&File"));
        QStringList texts;
        for (const QAction* action : menu)
            texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
        QCOMPARE(texts.join(QLatin1Char('|')),
                 QStringLiteral("&New Session|&Open...|Open &Recent|-|Save &Stack...|Save &All-in-Focus...|Save "
                                "&Mosaic...|Save as &Recipe...|R&un Recipe...|-|"
                                "&Export Marks...|&Import Marks...|-|E&xit"));
        // the actions outside the menu still answer their accelerators
        QVERIFY(session.actions().contains(session.editCopyAction));
        QVERIFY(session.actions().contains(session.fileSaveAction));
    }
};

QTEST_MAIN(TestForms)
#include "tst_forms.moc"
