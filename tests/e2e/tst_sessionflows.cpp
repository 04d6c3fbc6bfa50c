#include "MessageBoxCatcher.h"
#include "SessionHarness.h"

#include "setup/ScopeBrowser.h"
#include "views/HighResPreview.h"
#include "views/LowResPreview.h"
#include "views/VideoStack.h"
#include "views/VideoView.h"
#include "views/VideoWindow.h"
#include "views/WindowPlacement.h"

#include <QAction>
#include <QFileDialog>
#include <QImageReader>
#include <QLabel>
#include <QListWidget>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

// Whole flows of a control session as a user meets them, failures included.
class TestSessionFlows : public QObject
{
    Q_OBJECT

private:
    SessionHarness h;

    bool runStack()
    {
        h.session->focusStackButton->click();
        return QTest::qWaitFor([this] { return !h.session->stackAcquiring; }, 30000) && h.settle();
    }

private slots:
    void initTestCase()
    {
        OrvexServerOptions options;
        options.sessionSeconds = 330;
        QVERIFY(h.start(options));
        QVERIFY(h.moveTo(QStringLiteral("37.835"), QStringLiteral("25.1625"), QStringLiteral("1000")));
    }

    void placement()
    {
        // The video window goes right of the main window, else left, else where the desktop puts it.
        const QRect screen(0, 0, 1600, 1000);
        const QSize video(662, 604);
        QCOMPARE(WindowPlacement::beside(QRect(0, 50, 800, 600), video, screen).value_or(QPoint()), QPoint(808, 50));
        QCOMPARE(WindowPlacement::beside(QRect(900, 700, 800, 600), video, screen).value_or(QPoint()),
                 QPoint(230, 396));
        QVERIFY(!WindowPlacement::beside(QRect(400, 0, 800, 600), video, screen));
    }

    void failureInSight()
    {
        Session* s = h.session.get();
        s->Stack_Acquisition->setCurrentIndex(1);
        // information marks nothing, a failure does
        emit s->scopeInfo.sysInfoFetcher.done();
        QVERIFY(s->Stack_Acquisition->tabIcon(0).isNull());
        QVERIFY(h.server->addFault(QStringLiteral("m:500:1")));
        s->xCoord->setText(QStringLiteral("30"));
        QTest::keyClick(s->xCoord, Qt::Key_Return);
        QCOMPARE(h.status(), QStringLiteral("Moving scope..."));
        QVERIFY(h.settle());
        QCOMPARE(h.status(),
                 QStringLiteral("Error fetching coordinates from microscope.  The server may be malfunctioning."));
        QScrollBar* bar = s->sysInfoBox->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), bar->maximum());
        QVERIFY(!s->Stack_Acquisition->tabIcon(0).isNull());
        // a time warning gives the failure back after a few seconds
        s->clock.remainingSeconds = 300;
        s->tickme();
        QCOMPARE(h.status(), QStringLiteral("5 minutes of control time left."));
        QTRY_VERIFY_WITH_TIMEOUT(h.status().startsWith(QStringLiteral("Error fetching coordinates")), 6000);
        s->Stack_Acquisition->setCurrentIndex(0);
        QVERIFY(s->Stack_Acquisition->tabIcon(0).isNull());
    }

    void videoWindowComesBack()
    {
        Session* s = h.session.get();
        QPointer<VideoWindow> video = s->videoWindow;
        QTest::mouseClick(video->imageView, Qt::LeftButton, {}, QPoint(300, 200));
        const QPoint place = video->pos();
        video->close();
        QVERIFY(video);
        QVERIFY(!video->isVisible());
        s->viewVideoAction->trigger();
        QVERIFY(video->isVisible());
        QCOMPARE(video->pos(), place);

        h.log.clear();
        s->frameCountSelector->setValue(3);
        QVERIFY(runStack());
        QCOMPARE(h.requests(QStringLiteral("inset=1")), h.requests(QStringLiteral("&x=216&y=130&inset=1")));
        QCOMPARE(h.requests(QStringLiteral("inset=1")).size(), 3);
    }

    void frameSavedWithItsPlace()
    {
        Session* s = h.session.get();
        QTemporaryDir dir;
        VideoView* view = s->videoWindow->imageView;
        QString suggested;
        QString saveDialog;
        SessionHarness::answerSaveDialog(view, dir.filePath(QStringLiteral("frame")), [&](QFileDialog* dialog) {
            suggested = QFileInfo(dialog->selectedFiles().value(0)).fileName();
            saveDialog = QStringList{dialog->acceptMode() == QFileDialog::AcceptSave ? "save" : "open",
                                     dialog->isModal() ? "modal" : "modeless",
                                     dialog->fileMode() == QFileDialog::AnyFile ? "any file" : "existing",
                                     dialog->defaultSuffix(),
                                     dialog->nameFilters().value(0),
                                     dialog->testOption(QFileDialog::DontConfirmOverwrite) ? "replaces" : "asks"}
                             .join(QLatin1Char('|'));
        });
        s->videoWindow->PushButton14->click();
        QCOMPARE(saveDialog, QStringLiteral("save|modal|any file|jpg|JPEG pictures (*.jpg *.jpeg)|asks"));
        const CoordinateTriple& at = s->currentCoords;
        const QString place = QString::asprintf("_x%.4f_y%.4f_", at.x * 0.0001, at.y * 0.0001);
        QVERIFY2(suggested.startsWith(h.info.scope.slides.value(0) + place), qPrintable(suggested));

        // written on a worker, under a temporary name until complete
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath(QStringLiteral("frame.jpg"))), 30000);
        QImageReader reader(dir.filePath(QStringLiteral("frame.jpg")));
        QVERIFY(reader.canRead());
        const QString text = reader.text(QStringLiteral("Tessan"));
        for (const QString& field : {QString::asprintf("Stage X: %.4f mm; Stage Y: %.4f mm; Stage Z: %.1f µm",
                                                       at.x * 0.0001, at.y * 0.0001, at.z * 0.1),
                                     QStringLiteral("Picture: 640 x 480 pixels; Microscope: ") + h.info.scope.name,
                                     "Slide: " + h.info.scope.slides.value(0), "Server: " + h.info.host,
                                     QStringLiteral("Filters: Contrast Expansion on, ")})
            QVERIFY2(text.contains(field), qPrintable(text));
        QVERIFY(!text.contains(QStringLiteral("Scale: 0 x")));
    }

    void returnOpensTheSelectedScope()
    {
        h.server->schedule(QStringLiteral("demo"), QStringLiteral("Orvex-BF-40x"));
        h.log.clear();
        MessageBoxCatcher boxes;
        QPointer<ScopeBrowser> browser = new ScopeBrowser;
        browser->show();
        browser->loginBox->setText(QStringLiteral("demo"));
        browser->passwordBox->setText(QStringLiteral("orvex-demo"));
        QTest::keyClick(browser->passwordBox, Qt::Key_Return); // nothing to control yet
        browser->hostName->setText(QStringLiteral("  http://") + h.info.host + QStringLiteral(" "));
        QTest::keyClick(browser->hostName, Qt::Key_Return);
        QTRY_COMPARE(browser->connectionStatus->text(), QStringLiteral("Connection Successful"));
        browser->scopeListBox->setCurrentRow(1);
        QTest::keyClick(browser->passwordBox, Qt::Key_Return);
        QTRY_VERIFY2(browser.isNull(), qPrintable(boxes.texts.join('|')));
        QCOMPARE(h.requests(QStringLiteral("f=ticket")).size(), 1);
        Session* opened = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* session = qobject_cast<Session*>(w); session && session != h.session.get())
                opened = session;
        QVERIFY(opened);
        QCOMPARE(opened->sessionInfo.scope.name, QStringLiteral("Orvex-BF-40x"));
        QCOMPARE(opened->sessionInfo.host, h.info.host);
        // closing the window frees it and its video window
        QPointer<Session> session = opened;
        QPointer<VideoWindow> video = opened->videoWindow;
        opened->close();
        QTRY_VERIFY(session.isNull() && video.isNull());
    }

    // Closing ends the session at once: nothing more reaches the server, not
    // the position query waiting its turn while the stage moves, nor the time.
    void closingEndsTheSession()
    {
        Session* s = h.session.get();
        QTRY_VERIFY_WITH_TIMEOUT(!s->lowRes->isBusy() && !s->highRes->isBusy(), 30000);
        h.server->setStageSpeed(1000);
        s->xCoord->setText(QStringLiteral("30"));
        s->frameGrabButton->click();
        QTRY_VERIFY(s->stage.isWaitingToQuery());
        s->clock.remainingSeconds = 31;
        s->clock.countdownTimer.start(1);
        QSignalSpy sent(h.server.get(), &OrvexServer::requestReceived);
        s->close();
        QVERIFY(!s->videoWindow->isVisible());
        QVERIFY2(!sent.wait(1000), qPrintable(sent.value(0).value(0).toString()));
        h.server->setStageSpeed(OrvexServerOptions().stageSpeed);
    }

    void timeRunsOut()
    {
        // The first two time requests fail; the next answer starts a fast countdown.
        QVERIFY(h.server->addFault(QStringLiteral("t:500:2")));
        h.log.clear();
        h.session = std::make_unique<Session>();
        Session* s = h.session.get();
        s->clock.countdownInterval = 2;
        QSignalSpy messages(s->statusBar(), &QStatusBar::messageChanged);
        s->show();
        s->begin(h.info);
        QTRY_VERIFY_WITH_TIMEOUT(s->clock.countdownTimer.isActive(), 10000);
        QVERIFY(h.requests(QStringLiteral("f=t")).size() >= 3);
        QVERIFY(h.server->addFault(QStringLiteral("t:500")));
        QTRY_VERIFY_WITH_TIMEOUT(s->clock.controlExpired, 30000);
        QStringList shown;
        for (const QList<QVariant>& message : std::as_const(messages))
            shown << message.value(0).toString();
        QVERIFY2(shown.contains(QStringLiteral("5 minutes of control time left.")), qPrintable(shown.join('|')));
        QVERIFY(shown.contains(QStringLiteral("1 minute of control time left.")));
        QVERIFY(shown.contains(QStringLiteral("Your control time has expired.")));
        QCOMPARE(s->timeLabel->palette().color(QPalette::WindowText), QColor(200, 0, 0));
    }
};

QTEST_MAIN(TestSessionFlows)
#include "tst_sessionflows.moc"
