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

    QWidget* window(const QString& name)
    {
        return name == QLatin1String("ScopeBrowser") ? static_cast<QWidget*>(&browser)
               : name == QLatin1String("Session")    ? static_cast<QWidget*>(&session)
                                                     : static_cast<QWidget*>(&video);
    }

    // A row: place with x < 0 checks the size only; "in:" names a box the
    // widget must lie inside; props are "property=value" pairs split by ';'.
    static void row(const char* window, const char* name, const char* kind, const QString& text, const QRect& place,
                    const QString& props = QString(), const char* in = "")
    {
        QTest::addRow("%s %s", window, name) << QString::fromLatin1(window) << QString::fromLatin1(name)
                                             << QByteArray(kind) << text << place << props << QString::fromLatin1(in);
    }

private slots:
    void initTestCase()
    {
        // layouts place their widgets when the window is shown
        for (QWidget* w :
             {static_cast<QWidget*>(&browser), static_cast<QWidget*>(&session), static_cast<QWidget*>(&video)})
            w->show();
    }

    void widgets_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("kind");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QRect>("place");
        QTest::addColumn<QString>("props");
        QTest::addColumn<QString>("in");
        const QRect none;
        const QString urw = QStringLiteral("family=Helvetica [Urw]");
        const char* B = "ScopeBrowser";
        row(B, "ScopeBrowser", "QDialog", QString(), QRect(-1, -1, 759, 380),
            QStringLiteral("windowTitle=Tessan 2.03 - New Scope Session;sizeGripEnabled=true;modal=false"));
        row(B, "TextLabel1", "QLabel", "Server:", QRect(10, 10, 330, 26), {}, "row");
        row(B, "hostName", "QLineEdit", ScopeBrowser::defaultHost, QRect(10, 10, 330, 26), "readOnly=false", "row");
        row(B, "connectionStatus", "QLabel", "Ready to connect.", QRect(11, 43, 207, 32));
        row(B, "connectToServer", "QPushButton", "Connect", QRect(220, 40, 120, 32), "flat=false");
        row(B, "bannerBox", "QTextEdit", "", QRect(10, 80, 330, 170), urw);
        row(B, "TextLabel2", "QLabel", "Microscopes Available On Host", QRect(10, 260, 330, 110), "alignment=132",
            "row");
        row(B, "scopeListBox", "QListWidget", QString(), QRect(10, 260, 330, 110), {}, "row");
        row(B, "Line1", "QFrame", QString(), QRect(340, 10, 20, 360), "frameShape=5;frameShadow=48");
        row(B, "TextLabel3", "QLabel", "Microscope Description", QRect(360, 10, 370, 290), "alignment=132", "row");
        row(B, "descriptionBox", "QTextBrowser", "", QRect(360, 10, 370, 290), urw, "row");
        row(B, "TextLabel5", "QLabel", "Available Slides", QRect(360, 10, 370, 290), "alignment=132", "row");
        row(B, "slideList", "QListWidget", QString(), QRect(360, 10, 370, 290), urw + ";focusPolicy=0", "row");
        // the label may grow to the left for a wide font, never over its field
        row(B, "TextLabel1_2", "QLabel", "Username:", QRect(360, 310, 102, 22), {}, "row");
        row(B, "loginBox", "QLineEdit", "", QRect(470, 310, 90, 22));
        row(B, "TextLabel1_2_2", "QLabel", "Password:", QRect(562, 310, 72, 22), {}, "row");
        row(B, "passwordBox", "QLineEdit", "", QRect(640, 310, 90, 22), "echoMode=2");
        row(B, "cancelButton", "QPushButton", "Cancel", QRect(360, 340, 98, 32), "enabled=true");
        row(B, "reserveButton", "QPushButton", "Reserve Next Available", QRect(464, 340, 150, 32), "enabled=false");
        row(B, "beginButton", "QPushButton", "Control Scope", QRect(620, 340, 120, 32), "enabled=false");

        const char* S = "Session";
        row(S, "Session", "QMainWindow", QString(), QRect(-1, -1, 800, 600),
            QStringLiteral("windowTitle=Tessan v2.03;windowIconText=Up;maximumSize=800x600;minimumSize=21x49"));
        row(S, "lowRes", "LowResPreview", QString(), QRect(-1, -1, 383, 255));
        row(S, "highRes", "HighResPreview", QString(), QRect(-1, -1, 383, 246), "cursor=0");
        row(S, "Stack_Acquisition", "QTabWidget", QString(), QRect(-1, -1, 389, 330), "count=3");
        row(S, "tab", "QWidget", QString(), none, "tab=0:System Info");
        row(S, "sysInfoBox", "QPlainTextEdit", QString(), QRect(-1, -1, 370, 280), "readOnly=true;frameShadow=48");
        row(S, "tab_2", "QWidget", QString(), none, "tab=1:Focus Assist");
        row(S, "TextLabel1", "QLabel",
            "Press \"Get Focus Stack\" to acquire a series of small images at regular intervals along the Z axis, "
            "centered around the current Z position.  After acquiring the stack, you can use the focus slider to "
            "focus the image and press \"Move\" to acquire a full video frame.\n\nThe sampling region within the "
            "image is visible in the video window as a red rectangle.  This rectangle can be dragged with the mouse "
            "to change the sampling region.",
            none, "family=Arial;textFormat=0;wordWrap=true;alignment=129");
        row(S, "insetStack", "VideoStack", QString(), QRect(-1, -1, 168, 140),
            "minimumSize=168x140;maximumSize=168x140");
        row(S, "frameCountSelector", "QSpinBox", QString(), none, "minimum=3;maximum=120;value=15");
        row(S, "TextLabel2_2", "QLabel", "frames", none);
        row(S, "frameRangeSelector", "QSpinBox", QString(), none, "minimum=1;maximum=1000;value=200");
        row(S, "TextLabel2_2_2", "QLabel", QStringLiteral("\u00b5m total interval"), none);
        row(S, "zSlider", "QSlider", QString(), none, "orientation=1;minimum=0;maximum=29;value=0");
        row(S, "focusStackButton", "QPushButton", "Get Focus Stack", none);
        row(S, "tab_3", "QWidget", QString(), none, "tab=2:Image Acquisition");
        row(S, "TextLabel1_6", "QLabel", QString(), none, "family=Arial;wordWrap=true");
        row(S, "TextLabel1_5", "QLabel", "Job name", none);
        row(S, "jobNameEdit", "QLineEdit", "", none);
        row(S, "PushButton6", "QPushButton", "Set Top Left Corner", none);
        row(S, "PushButton7", "QPushButton", "Set Bottom Right Corner", none);
        row(S, "resetAcquisitionButton", "QPushButton", "Reset Selection", none);
        row(S, "TextLabel1_4", "QLabel", "Linear Sample Density:", none);
        row(S, "densityBox", "QSpinBox", QString(), none, "minimum=1;maximum=10");
        row(S, "TextLabel2_4", "QLabel", "samples / mm", none);
        row(S, "TextLabel3", "QLabel", "Add a total of", none);
        row(S, "totalBox", "QLineEdit", QString(), none, "readOnly=true");
        row(S, "TextLabel4", "QLabel", "sampling points", none);
        for (const char* axis : {"TextLabel1_2:X:", "TextLabel1_2_2_2:Y:", "TextLabel2_3:Z:", "TextLabel1_3_4_2:mm",
                                 "TextLabel1_3_2_2_2:mm", "TextLabel1_3_3_2_2:\u00b5m"}) {
            const QStringList parts = QString::fromUtf8(axis).split(QLatin1Char(':'));
            QTest::addRow("Session %s", qPrintable(parts[0]))
                << QString::fromLatin1(S) << parts[0] << QByteArray("QLabel") << parts.mid(1).join(QLatin1Char(':'))
                << none << QString() << QString();
        }
        for (const char* edit : {"xCoord", "yCoord", "zCoord"})
            row(S, edit, "QLineEdit", QString(), none, "readOnly=false");
        row(S, "showCurrentPosition", "QPushButton", "Show Current Position", none);
        row(S, "frameGrabButton", "QPushButton", "Move", none);
        row(S, "TextLabel1_3", "QLabel", "Find Tissue (Autofocus)", none);
        row(S, "Line2", "QFrame", QString(), none, "frameShape=4");
        row(S, "AFButton", "QPushButton", "Quick", none);
        row(S, "slowFocusButton", "QPushButton", "Accurate", none);
        row(S, "TextLabel2", "QLabel", "Control Time Remaining:", none);
        row(S, "timeLabel", "QLabel", "Retrieving time...", none);
        // actions: icon text is the action's text, text its menu text
        row(S, "newSessionAction", "QAction", "&New Session", none,
            "iconText=New Session...;shortcut=Ctrl+N;toolTip=Control another microscope");
        row(S, "fileOpenAction", "QAction", "&Open...", none, "iconText=Open;shortcut=Ctrl+O");
        row(S, "fileSaveAction", "QAction", "&Save", none, "iconText=Save;shortcut=Ctrl+S");
        row(S, "fileSaveAsAction", "QAction", "Save &As...", none, "iconText=Save As;shortcut=");
        row(S, "filePrintAction", "QAction", "&Print...", none, "iconText=Print;shortcut=Ctrl+P");
        row(S, "fileExitAction", "QAction", "E&xit", none, "iconText=Exit;shortcut=");
        row(S, "editUndoAction", "QAction", "&Undo", none, "iconText=Undo;shortcut=Ctrl+Z");
        row(S, "editRedoAction", "QAction", "&Redo", none, "iconText=Redo;shortcut=Ctrl+Y");
        row(S, "editCutAction", "QAction", "&Cut", none, "iconText=Cut;shortcut=Ctrl+X");
        row(S, "editCopyAction", "QAction", "C&opy", none, "iconText=Copy;shortcut=Ctrl+C");
        row(S, "editPasteAction", "QAction", "&Paste", none, "iconText=Paste;shortcut=Ctrl+V");
        row(S, "editFindAction", "QAction", QString(), none, "iconText=Draw Oval;shortcut=");

        const char* V = "VideoWindow";
        row(V, "VideoWindow", "QWidget", QString(), QRect(-1, -1, 662, 604), "windowTitle=Tessan: Video;" + urw);
        row(V, "CheckBox4", "QCheckBox", "Invert Video", QRect(200, 10, 230, 50), "checked=false;" + urw, "Layout23");
        row(V, "CheckBox3_2", "QCheckBox", "Gain", QRect(200, 10, 230, 50), "checked=false", "Layout23");
        row(V, "brightnessSlider_2", "QSlider", QString(), QRect(200, 10, 230, 50),
            "orientation=1;minimum=20;maximum=200;value=100", "Layout23");
        row(V, "contrastCheck", "QCheckBox", "Contrast Expansion", QRect(10, 10, 178, 51), "checked=true", "Layout18");
        row(V, "ComboBox2", "QComboBox", QString(), QRect(10, 10, 178, 51),
            "editable=false;currentIndex=0;items=Normal|Red|Green|Blue", "Layout18");
        row(V, "TextLabel1", "QLabel", "Color Channel", QRect(10, 10, 178, 51), "frameShape=0", "Layout18");
        row(V, "filterChoices", "QComboBox", QString(), QRect(440, 10, 200, 51),
            "editable=false;currentIndex=0;items=None|Red Filter|Green Filter|Blue Filter", "Layout19");
        row(V, "TextLabel4", "QLabel", "Colored Filter", QRect(440, 10, 200, 51), {}, "Layout19");
        row(V, "showFAR", "QCheckBox", "Focus Overlay", QRect(440, 10, 200, 51), "checked=true", "Layout19");
        row(V, "imageView", "VideoView", QString(), QRect(10, 100, 640, 480), "mouseTracking=false;cursor=0");
        row(V, "ComboBox3", "QComboBox", QString(), QRect(10, 70, 93, 22),
            "editable=false;currentIndex=0;items=640x480|800x600|1024x768|1280x960");
        row(V, "PushButton14", "QPushButton", "Save Image", QRect(120, 70, 101, 21), urw);
        row(V, "TextLabel1_2", "QLabel", "X:", QRect(320, 70, 330, 24), {}, "Layout6");
        row(V, "xCoord", "QLineEdit", "", QRect(320, 70, 330, 24), urw, "Layout6");
        row(V, "TextLabel1_2_3", "QLabel", "mm", QRect(320, 70, 330, 24), {}, "Layout6");
        row(V, "TextLabel1_2_2", "QLabel", "Y:", QRect(320, 70, 330, 24), {}, "Layout6");
        row(V, "yCoord", "QLineEdit", "", QRect(320, 70, 330, 24), {}, "Layout6");
        row(V, "TextLabel1_2_3_2", "QLabel", "mm", QRect(320, 70, 330, 24), {}, "Layout6");
    }

    void widgets()
    {
        QFETCH(QString, window);
        QFETCH(QString, name);
        QFETCH(QByteArray, kind);
        QFETCH(QString, text);
        QFETCH(QRect, place);
        QFETCH(QString, props);
        QFETCH(QString, in);
        QWidget* top = this->window(window);
        QObject* object = top->objectName() == name ? top : top->findChild<QObject*>(name);
        QVERIFY2(object, "no such object");
        QVERIFY2(object->inherits(kind), object->metaObject()->className());
        auto* widget = qobject_cast<QWidget*>(object);
        if (!text.isNull()) {
            const char* key = object->property("text").isValid() ? "text" : "plainText";
            QCOMPARE(object->property(key).toString(), text);
        }
        if (place.isValid() && place.x() < 0) {
            QCOMPARE(widget->size(), place.size());
        } else if (place.isValid()) {
            const QRect at(widget->mapTo(top, QPoint(0, 0)), widget->size());
            if (in.isEmpty())
                QCOMPARE(at, place);
            else
                QVERIFY2(
                    place.contains(at),
                    qPrintable(
                        QStringLiteral("at %1,%2 %3x%4").arg(at.x()).arg(at.y()).arg(at.width()).arg(at.height())));
            if (!in.isEmpty() && in != QLatin1String("row"))
                QCOMPARE(widget->parentWidget()->objectName(), in);
        }
        for (const QString& pair : props.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
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
                QVERIFY2(value.isValid(), qPrintable(key));
                if (value.canConvert<QSize>() && value.typeId() == QMetaType::QSize)
                    got = QStringLiteral("%1x%2").arg(value.toSize().width()).arg(value.toSize().height());
                else if (value.typeId() == QMetaType::QKeySequence)
                    got = value.value<QKeySequence>().toString();
                else
                    got = value.toString().isEmpty() && value.toInt() != 0 ? QString::number(value.toInt())
                                                                           : value.toString();
                bool numeric = false;
                want.toInt(&numeric);
                if (numeric)
                    got = QString::number(value.toInt());
            }
            QVERIFY2(got == want, qPrintable(key + QStringLiteral(": ") + got));
        }
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
        QCOMPARE(session.sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
        QCOMPARE(session.sizePolicy().verticalPolicy(), QSizePolicy::Expanding);
        QCOMPARE(session.lowRes->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
        // overview top left, preview below it, tabs top right, coordinates and
        // autofocus under the tabs, the control time at the bottom right
        QVERIFY(at(session.highRes).top() >= at(session.lowRes).bottom());
        QVERIFY(at(session.Stack_Acquisition).left() >= at(session.lowRes).right());
        QVERIFY(at(session.xCoord).top() > at(session.Stack_Acquisition).bottom());
        QVERIFY(at(session.AFButton).left() > at(session.xCoord).right());
        QVERIFY(at(session.timeLabel).top() > at(session.frameGrabButton).top());
        QVERIFY(at(session.timeLabel).left() > at(session.TextLabel2).left());
        QVERIFY(at(session.frameGrabButton).left() > at(session.showCurrentPosition).center().x());
        QCOMPARE(session.xCoord->palette().color(QPalette::Base), QColor(Qt::white));
        QCOMPARE(session.xCoord->minimumHeight(), session.xCoord->maximumHeight());
        QVERIFY(session.sysInfoBox->toPlainText().startsWith(Session::helpText()));
        QVERIFY(Session::helpText().endsWith("\n\nThe Autofocus buttons can be used to find tissue which is out of "
                                             "focus.  For manual focusing, click on "
                                             "the \"Focus Assist\" tab to acquire a small image stack."));
        QList<QAction*> menu = session.menuBar()->actions().value(0)->menu()->actions();
        QCOMPARE(session.menuBar()->actions().value(0)->text(), QStringLiteral("&File"));
        QCOMPARE(menu.size(), 4);
        QCOMPARE(menu[0], session.newSessionAction);
        QVERIFY(menu[1]->isSeparator() && menu[2]->isSeparator());
        QCOMPARE(menu[3], session.fileExitAction);
        // the actions outside the menu still answer their accelerators
        QVERIFY(session.actions().contains(session.editCopyAction));
        QVERIFY(session.actions().contains(session.fileSaveAction));
    }
};

QTEST_MAIN(TestForms)
#include "tst_forms.moc"
