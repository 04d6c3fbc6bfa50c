#include "SessionHarness.h"

#include "setup/ScopeBrowser.h"
#include "views/HighResPreview.h"
#include "views/LowResPreview.h"
#include "views/VideoStack.h"
#include "views/VideoView.h"
#include "views/VideoWindow.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QtTest>

namespace {

CoordinateTriple at(float x, float y, float z = 0)
{
    CoordinateTriple c;
    c.x = x;
    c.y = y;
    c.z = z;
    return c;
}

} // namespace

// The control window against the test server, one flow at a time.
class TestSession : public QObject
{
    Q_OBJECT

    SessionHarness h;

private slots:
    void init()
    {
        h = SessionHarness();
        QVERIFY(h.start());
    }

    void cleanup()
    {
        QVERIFY(h.passwordNeverSent());
        h.session.reset();
        h.server.reset();
    }

    void beginStartsTheSession()
    {
        Session* s = h.session.get();
        QCOMPARE(s->windowTitle(), "Tessan: Controlling " + h.info.scope.name + " at <" + h.info.host + ">");
        const QString prefix = h.info.requestPrefix;
        QCOMPARE(h.requests(prefix + "f=d").size(), 1);
        QCOMPARE(h.requests(prefix + "f=t").size(), 1);
        QCOMPARE(h.requests(prefix + "f=w&auth=").size(), 1);
        QVERIFY(!h.requests(prefix + "f=p&ps=1").isEmpty());
        QVERIFY(!h.requests("/small_slides/" + h.slide()).isEmpty());
        QVERIFY(!h.requests("/whole_slides/" + h.slide()).isEmpty());
        QCOMPARE(h.status(), QStringLiteral("Ready."));
        QVERIFY(h.controlsEnabled());
        // the position reply reached the window, the overview and the video read-outs
        const QVector3D stage = h.server->stagePosition(h.info.scope.name);
        QCOMPARE(QVector3D(s->currentCoords.x, s->currentCoords.y, s->currentCoords.z), stage);
        QCOMPARE(s->lowRes->physicalPosition().x, stage.x());
        QCOMPARE(s->videoWindow->xCoord->text(), VideoWindow::readout(0, stage.x()));
        QVERIFY(s->videoWindow->isVisible());
        QVERIFY(!s->videoWindow->imageView->sourcePicture().isNull());
        // the system information: scale to the window and the video view, text below the banner
        QCOMPARE(s->mppX, float(h.server->micronsPerPixel()));
        const QString rule(59, '-');
        QVERIFY(h.infoText().contains("\n" + rule + "\nBeginning control session.\n" + rule + "\n"));
        QVERIFY(s->countdownTimer.isActive() && s->remainingSeconds > 0);
        QCOMPARE(s->countdownTimer.interval(), 1000);
    }

    // Each connection begin makes, cut off from the others: its sender's
    // signal must reach its receiver.
    void beginConnections_data()
    {
        QTest::addColumn<int>("connection");
        const char* names[] = {"video format to the window",
                               "frame to the video window",
                               "frame releases controls",
                               "move reply read",
                               "position to the overview",
                               "position to the video read-outs",
                               "overview pick to the fields",
                               "overview pick to the preview",
                               "preview pick to the overview",
                               "preview pick to the fields",
                               "stack frame to the stack",
                               "stack frame to the acquisition",
                               "stack move reply",
                               "system information read",
                               "slider to the stack",
                               "time reply read"};
        for (int i = 0; i < 16; ++i)
            QTest::newRow(names[i]) << i + 1;
    }

    void beginConnections()
    {
        QFETCH(int, connection);
        Session* s = h.session.get();
        s->countdownTimer.stop();
        h.server->clearLog();
        CoordinateTriple pick = at(12345, 67890, 2000);
        QImage frame(168, 140, QImage::Format_RGB32);
        frame.fill(qRgb(1, 2, 3));
        switch (connection) {
        case 1:
            emit s->videoWindow->videoFormatChanged(2);
            QVERIFY(h.settle());
            QCOMPARE(h.requests("f=p&ps=2").size(), 1);
            break;
        case 2:
            emit s->videoFetcher.newImageAvailable(frame);
            QCOMPARE(s->videoWindow->imageView->sourcePicture().pixel(0, 0), frame.pixel(0, 0));
            break;
        case 3:
            s->disableControls();
            emit s->videoFetcher.newImageAvailable(frame);
            QVERIFY(h.controlsEnabled());
            break;
        case 4:
            s->currentCoords = at(1, 2, 3);
            emit s->moveFetcher.done();
            QCOMPARE(s->currentCoords.x, h.server->stagePosition(h.info.scope.name).x());
            break;
        case 5:
            emit s->physicalLocationChanged(pick);
            QCOMPARE(s->lowRes->physicalPosition().y, pick.y);
            break;
        case 6:
            emit s->physicalLocationChanged(pick);
            QCOMPARE(s->videoWindow->yCoord->text(), QStringLiteral("6.7890"));
            break;
        case 7:
        case 10:
            if (connection == 7)
                emit s->lowRes->destinationChanged(pick);
            else
                emit s->highRes->locationChanged(pick);
            QCOMPARE(s->xCoord->text(), QStringLiteral("1.2345"));
            QCOMPARE(s->yCoord->text(), QStringLiteral("6.7890"));
            QCOMPARE(s->zCoord->text(), QStringLiteral("200.0000"));
            break;
        case 8:
            emit s->lowRes->destinationChanged(pick);
            QCOMPARE(s->highRes->currentLocation().x, pick.x);
            break;
        case 9:
            emit s->highRes->locationChanged(pick);
            QCOMPARE(s->lowRes->destinationPosition().x, pick.x);
            break;
        case 11:
            emit s->stackImageFetcher.newImageAvailable(frame);
            QCOMPARE(s->insetStack->count(), 1);
            break;
        case 12:
            // a stack waiting for its last frame ends when it arrives
            s->stackAcquiring = true;
            s->framesLeft = 0;
            emit s->stackImageFetcher.newImageAvailable(frame);
            QVERIFY(!s->stackAcquiring);
            break;
        case 13:
            // a stack move reply that never came stops the stack
            s->stackAcquiring = true;
            emit s->stackMoveFetcher.done();
            QVERIFY(!s->stackAcquiring);
            break;
        case 14:
            emit s->sysInfoFetcher.done();
            QCOMPARE(h.infoText().count(QStringLiteral("Beginning control session.")), 2);
            break;
        case 15:
            s->insetStack->addImage(frame);
            s->insetStack->addImage(frame);
            s->zSlider->setValue(1);
            s->zSlider->setValue(0);
            QCOMPARE(s->insetStack->currentIndex(), 0);
            break;
        case 16:
            emit s->timeFetcher.done();
            QVERIFY(s->countdownTimer.isActive());
            break;
        }
    }

    void typedMove()
    {
        Session* s = h.session.get();
        h.server->setStageSpeed(100000.0);
        QSignalSpy frames(&s->videoFetcher, &MyWebJPEG::newImageAvailable);
        int reports = 0;
        connect(s, &Session::physicalLocationChanged, this, [&reports] { ++reports; });
        h.server->clearLog();
        s->xCoord->setText(QStringLiteral("20"));
        s->yCoord->setText(QStringLiteral("15.25"));
        s->zCoord->setText(QStringLiteral("120"));
        s->frameGrabButton->click();
        QVERIFY(h.controlsEnabled(false));
        QCOMPARE(h.status(), QStringLiteral("Moving scope..."));
        QVERIFY(h.settle());
        QCOMPARE(h.requests(h.info.requestPrefix + "f=m&x=200000&y=152500&z=1200&auth=").size(), 1);
        // while the stage moves, every report asks again; the last one is final
        QVERIFY(reports >= 2);
        QCOMPARE(h.requests("f=w&auth=").size(), reports - 1);
        QCOMPARE(s->xCoord->text(), QStringLiteral("20.000"));
        QCOMPARE(s->yCoord->text(), QStringLiteral("15.250"));
        QCOMPARE(s->zCoord->text(), QStringLiteral("120"));
        QCOMPARE(s->lowRes->physicalPosition().x, 200000.0f);
        QCOMPARE(s->videoWindow->xCoord->text(), QStringLiteral("20.0000"));
        // one frame after arrival, at picture size 1, releases the controls
        QCOMPARE(frames.size(), 1);
        QCOMPARE(h.requests("f=p&ps=1").size(), 1);
        QCOMPARE(h.status(), QStringLiteral("Ready."));
        QVERIFY(h.controlsEnabled());

        // empty or unreadable fields send 0 for their axis
        h.server->clearLog();
        s->xCoord->clear();
        s->yCoord->setText(QStringLiteral("abc"));
        QVERIFY(h.moveTo(QString(), QStringLiteral("abc"), QStringLiteral("50")));
        QCOMPARE(h.requests("f=m&x=0&y=0&z=500&auth=").size(), 1);
    }

    void failures_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("message");
        QTest::newRow("move fails") << "m:500:1"
                                    << "***Error fetching coordinates from microscope.  The server may be "
                                       "malfunctioning.";
        QTest::newRow("move garbled") << "m:status:1"
                                      << "***Error fetching coordinates from microscope.  The server returned an "
                                         "invalid sequence.";
        QTest::newRow("frame fails") << "p:500:1"
                                     << "***Error fetching video frame from microscope.";
        QTest::newRow("frame unreadable") << "p:garbage:1"
                                          << "***Error decoding video frame from microscope.";
        QTest::newRow("time fails") << "t:500:1"
                                    << "***Error - Unable to query server for remaining control time";
    }

    void failures()
    {
        QFETCH(QString, fault);
        QFETCH(QString, message);
        Session* s = h.session.get();
        s->countdownTimer.stop();
        const int count = s->remainingSeconds = 31;
        QVERIFY(h.server->addFault(fault));
        if (fault.startsWith('t')) {
            s->tickme();
        } else {
            s->xCoord->setText(QStringLiteral("3"));
            s->frameGrabButton->click();
        }
        QVERIFY(h.settle());
        QVERIFY2(h.infoText().contains(message), qPrintable(h.infoText().right(200)));
        QVERIFY(h.controlsEnabled());
        // a failed time request leaves the count running on its own
        QCOMPARE(s->remainingSeconds, fault.startsWith('t') ? count - 1 : count);
    }

    void countdown()
    {
        Session* s = h.session.get();
        s->countdownTimer.stop();
        s->remainingSeconds = 95;
        s->tickme();
        QCOMPARE(s->timeLabel->text(), QStringLiteral("01:34"));
        s->remainingSeconds = 6061;
        s->tickme();
        QCOMPARE(s->timeLabel->text(), QStringLiteral("101:00"));
        QVERIFY(h.settle());
        s->countdownTimer.stop();

        // only the tick from 31 onto 30 asks the server again
        const auto tick = [this, s](int from) {
            h.server->clearLog();
            s->remainingSeconds = from;
            s->tickme();
            const bool asked = s->timeFetcher.isBusy();
            h.settle();
            s->countdownTimer.stop();
            return asked ? h.requests("f=t").size() : -h.requests("f=t").size();
        };
        QCOMPARE(tick(32), 0);
        QCOMPARE(tick(31), 1);
        QCOMPARE(s->timeLabel->text(), QStringLiteral("00:30"));
        // the reply corrects the count
        QVERIFY(s->remainingSeconds > 31);
        QCOMPARE(tick(30), 0);
        QCOMPARE(s->timeLabel->text(), QStringLiteral("00:29"));

        s->remainingSeconds = 1;
        s->tickme();
        QCOMPARE(s->timeLabel->text(), QStringLiteral("00:00"));
        QVERIFY(s->controlExpired && !s->countdownTimer.isActive() && h.controlsEnabled(false));
        QVERIFY(h.infoText().endsWith(
            "\n***Your control time has expired.  If you wish to continue controlling the microscope, you may choose "
            "\"New Session\" from the File menu to schedule additional time."));

        // neither a new frame nor a failed move releases them any more
        QSignalSpy frames(&s->videoFetcher, &MyWebJPEG::newImageAvailable);
        s->changeVideoFormat(1);
        QVERIFY(frames.wait(5000));
        QVERIFY(h.server->addFault(QStringLiteral("m:500:1")));
        s->updateVideo();
        QVERIFY(h.settle());
        QCOMPARE(h.infoText().count("The server may be malfunctioning."), 1);
        QVERIFY(h.controlsEnabled(false));
        // a late time reply restarts the countdown, the controls stay off
        s->timeFetcher.start();
        QVERIFY(h.settle());
        QVERIFY(s->countdownTimer.isActive() && h.controlsEnabled(false));
    }

    void unreadableTimeReplyExpiresAtOnce()
    {
        Session* s = h.session.get();
        s->countdownTimer.stop();
        s->countdownInterval = 20;
        s->remainingSeconds = 0;
        QVERIFY(h.server->addFault(QStringLiteral("t:empty:1")));
        s->timeFetcher.start();
        QTRY_VERIFY_WITH_TIMEOUT(s->controlExpired, 5000);
        QCOMPARE(s->timeLabel->text(), QStringLiteral("00:00"));
        QVERIFY(!h.infoText().contains(QStringLiteral("Unable to query")));
    }

    void autofocus_data()
    {
        QTest::addColumn<bool>("accurate");
        QTest::addColumn<QString>("status");
        QTest::addColumn<double>("tolerance");
        QTest::newRow("quick") << false << "Performing Autofocus..." << 100.0;
        QTest::newRow("accurate") << true << "This more accurate autofocus may take a while; please be patient."
                                  << 50.0;
    }

    void autofocus()
    {
        QFETCH(bool, accurate);
        Session* s = h.session.get();
        QVERIFY(h.moveTo(QStringLiteral("37.835"), QStringLiteral("25.1625"), QStringLiteral("200")));
        const double plane = h.server->focalPlaneAt(h.slide(), s->currentCoords.x, s->currentCoords.y);
        h.server->clearLog();
        (accurate ? s->slowFocusButton : s->AFButton)->click();
        QTEST(h.status(), "status");
        QVERIFY(h.controlsEnabled(false));
        QCOMPARE(s->moveFetcher.stallTimeout(), accurate ? 600000 : MyHTTP::defaultStallTimeoutMs);
        QVERIFY(h.settle(60000));
        QCOMPARE(h.requests(h.info.requestPrefix + (accurate ? "f=r&auth=" : "f=a&auth=")).size(), 1);
        QCOMPARE(h.status(), QStringLiteral("Ready."));
        QVERIFY(h.controlsEnabled());
        QFETCH(double, tolerance);
        QVERIFY2(qAbs(s->currentCoords.z - plane) <= tolerance, qPrintable(QString::number(s->currentCoords.z)));
        s->queryCoords();
        QCOMPARE(s->moveFetcher.stallTimeout(), MyHTTP::defaultStallTimeoutMs);
    }

    void pictureSize()
    {
        Session* s = h.session.get();
        h.server->clearLog();
        int width = 0;
        connect(&s->videoFetcher, &MyWebJPEG::newImageAvailable, this, [&width](QImage& f) { width = f.width(); });
        emit s->videoWindow->ComboBox3->activated(1);
        QTRY_COMPARE(width, 800);
        QCOMPARE(h.requests(h.info.requestPrefix + "f=p&ps=2").size(), 1);
        QVERIFY(h.requests("auth=").isEmpty());
        // the next move's frame comes at the new size
        h.server->clearLog();
        QVERIFY(h.moveTo(QStringLiteral("2"), QStringLiteral("2"), QStringLiteral("100")));
        QVERIFY(!h.requests("f=p&ps=2").isEmpty());
        QCOMPARE(h.requests("f=p&ps=").filter("f=p&ps=2").size(), h.requests("f=p&ps=").size());
    }

    void showCurrentPosition()
    {
        Session* s = h.session.get();
        h.server->clearLog();
        s->xCoord->clear();
        s->showCurrentPosition->click();
        QCOMPARE(s->xCoord->text(), QString::asprintf("%.3f", double(s->currentCoords.x) * 0.0001));
        QCOMPARE(s->zCoord->text(), QString::asprintf("%.0f", double(s->currentCoords.z) * 0.1));
        QCOMPARE(s->lowRes->destinationPosition().x, s->currentCoords.x);
        QCOMPARE(s->highRes->currentLocation().x, s->currentCoords.x);
        // nothing was started, so nothing can arrive
        QVERIFY(!s->moveFetcher.isBusy() && h.settle());
        QVERIFY(h.server->requestLog().isEmpty());
    }

    void microscopeWithoutSlides()
    {
        SessionInfo bare = h.info;
        bare.scope.slides.clear();
        h.session.reset();
        h.server->clearLog();
        QVERIFY(h.open(bare));
        QVERIFY(h.infoText().contains(QStringLiteral("***This microscope lists no slides.")));
        QVERIFY(h.requests("_slides/").isEmpty());
        QCOMPARE(h.status(), QStringLiteral("Ready."));
    }

    void menu()
    {
        Session* s = h.session.get();
        s->newSessionAction->trigger();
        ScopeBrowser* browser = topLevelWindow<ScopeBrowser>();
        QVERIFY(browser);
        QCOMPARE(browser->hostName->text(), h.info.host);
        delete browser;
        s->fileSaveAction->trigger();
        QCOMPARE(h.status(), QStringLiteral("Saving is disabled in Tessan"));
        QTRY_VERIFY_WITH_TIMEOUT(h.status().isEmpty(), 4000);
        QPointer<VideoWindow> video = s->videoWindow;
        s->fileExitAction->trigger();
        QTRY_VERIFY(video.isNull() || !video->isVisible());
        QVERIFY(!s->isVisible());
    }
};

QTEST_MAIN(TestSession)
#include "tst_session.moc"
