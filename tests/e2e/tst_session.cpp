#include "MessageBoxCatcher.h"
#include "SessionHarness.h"

#include "session/FocusMeasure.h"
#include "session/RegionScan.h"
#include "setup/ScopeBrowser.h"
#include "views/HighResPreview.h"
#include "views/LowResPreview.h"
#include "views/VideoStack.h"
#include "views/VideoView.h"
#include "views/VideoWindow.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QRegularExpression>
#include <QSet>
#include <QSpinBox>
#include <QUrlQuery>
#include <QtTest>

#include <numeric>

// The control window against the test server, one flow at a time.
class TestSession : public QObject
{
    Q_OBJECT

    SessionHarness h;

    // Sets a job corner by typing its place and pressing its button; the total shown.
    QString corner(QPushButton* button, const QString& x, const QString& y)
    {
        h.session->xCoord->setText(x);
        h.session->yCoord->setText(y);
        button->click();
        return h.session->totalBox->text();
    }

    // Runs a focus stack; the z of every stack move received, in order.
    QList<double> stack()
    {
        h.log.clear();
        h.session->focusStackButton->click();
        QList<double> zs;
        if (QTest::qWaitFor([this] { return !h.session->stackAcquiring; }, 60000) && h.settle())
            for (const QString& target : h.requests("f=m&b=y&x="))
                zs << QRegularExpression("&z=([-0-9.]+)&auth=").match(target).captured(1).toDouble();
        return zs;
    }

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

    void begin()
    {
        Session* s = h.session.get();
        QCOMPARE(s->windowTitle(), "Tessan: Controlling " + h.info.scope.name + " at <" + h.info.host + ">");
        const QString prefix = h.info.requestPrefix;
        for (const char* once : {"f=d", "f=t", "f=w&auth="})
            QCOMPARE(h.requests(prefix + once).size(), 1);
        QVERIFY(!h.requests(prefix + "f=p&ps=1").isEmpty());
        for (const char* picture : {"/small_slides/", "/whole_slides/"})
            QCOMPARE(h.requests(picture + h.info.scope.slides[0]).size(), 1);
        QCOMPARE(h.state(), QStringLiteral("Ready. | on"));
        // the position reached the window, the overview and the video read-outs
        const QVector3D stage = h.server->stagePosition(h.info.scope.name);
        QCOMPARE(QVector3D(s->currentCoords.x, s->currentCoords.y, s->currentCoords.z), stage);
        QCOMPARE(s->lowRes->physicalPosition().x, stage.x());
        QCOMPARE(s->videoWindow->xCoord->text(), QString::asprintf("%.4f", stage.x() * 0.0001));
        QVERIFY(s->videoWindow->isVisible());
        QVERIFY(!s->videoWindow->imageView->sourcePicture().isNull());
        QCOMPARE(s->scopeInfo.mppX, float(h.server->micronsPerPixel()));
        const QString rule(59, '-');
        QVERIFY(h.infoText().contains("\n" + rule + "\nBeginning control session.\n" + rule + "\n"));
        QCOMPARE(s->clock.countdownTimer.isActive() ? s->clock.countdownTimer.interval() : 0, 1000);
        QVERIFY(s->clock.remainingSeconds > 0);
    }

    // A pick on either preview fills the fields and moves the other preview.
    void destinationFlow()
    {
        Session* s = h.session.get();
        CoordinateTriple pick;
        pick.x = 12345;
        pick.y = 67890;
        for (float z : {2000.0f, 0.0f}) {
            pick.z = z; // from the overview with a z, then from the preview
            z > 0 ? emit s->lowRes->destinationChanged(pick) : emit s->highRes->locationChanged(pick);
            QCOMPARE(s->xCoord->text() + ' ' + s->yCoord->text() + ' ' + s->zCoord->text(),
                     QStringLiteral("1.2345 6.7890 200.0000"));
            QCOMPARE(z > 0 ? s->highRes->currentLocation().x : s->lowRes->destinationPosition().x, pick.x);
        }
    }

    void move()
    {
        Session* s = h.session.get();
        // about two seconds along x, against a server that answers at once
        h.server->setStageSpeed((378350.0 - 200000.0) / 2.0);
        QSignalSpy frames(&s->videoFetcher, &MyWebJPEG::newImageAvailable);
        int reports = 0;
        connect(s, &Session::physicalLocationChanged, this, [&reports] { ++reports; });
        h.log.clear();
        s->xCoord->setText(QStringLiteral("20"));
        s->yCoord->setText(QStringLiteral("15,25")); // typed on a decimal-comma desktop
        s->zCoord->setText(QStringLiteral("120"));
        QElapsedTimer clock;
        clock.start();
        s->changeVideoFormat(1); // a frame on its way must not release the controls mid-move
        s->frameGrabButton->click();
        QCOMPARE(h.state(), QStringLiteral("Moving scope... | off"));
        QVERIFY(frames.wait(10000));
        QVERIFY(!s->stageBusy());
        QVERIFY(h.settle());
        QCOMPARE(h.requests(h.info.requestPrefix + "f=m&x=200000&y=152500&z=1200&auth=").size(), 1);
        // while the stage moves every report asks again, paced; the last is final
        QVERIFY(reports >= 5);
        QVERIFY2(reports <= clock.elapsed() / Session::requeryIntervalMs + 3,
                 qPrintable(QStringLiteral("%1 reports in %2 ms").arg(reports).arg(clock.elapsed())));
        QCOMPARE(h.requests("f=w&auth=").size(), reports - 1);
        QCOMPARE(s->xCoord->text() + ' ' + s->yCoord->text() + ' ' + s->zCoord->text(),
                 QStringLiteral("20.000 15.250 120"));
        QCOMPARE(s->lowRes->physicalPosition().x, 200000.0f);
        QCOMPARE(s->videoWindow->xCoord->text(), QStringLiteral("20.0000"));
        // one frame after arrival releases the controls
        QCOMPARE(frames.size(), 1);
        QCOMPARE(h.state(), QStringLiteral("Ready. | on"));
        // empty or unreadable fields (a comma that is no decimal mark) send 0;
        // "Show Current Position" sends nothing
        h.log.clear();
        QVERIFY(h.moveTo(QString(), QStringLiteral("1,000.5"), QStringLiteral("50")));
        QCOMPARE(h.requests("f=m&x=0&y=0&z=500&auth=").size(), 1);
        h.log.clear();
        s->xCoord->clear();
        s->showCurrentPosition->click();
        QCOMPARE(s->xCoord->text(), QStringLiteral("0.000"));
        QCOMPARE(s->highRes->currentLocation().x, s->currentCoords.x);
        QVERIFY(h.settle());
        QCOMPARE(h.log, QStringList());
    }

    // An old CGI server: HTTP/1.0 without Content-Length, CRLF line ends and
    // positions with decimals, read alike on every desktop.
    void legacyServer()
    {
        OrvexServerOptions options;
        options.legacy = true;
        h = SessionHarness();
        QVERIFY(h.start(options));
        Session* s = h.session.get();
        QCOMPARE(s->scopeInfo.mppX, 0.5f);
        QVERIFY(h.infoText().contains("\nCamera: "));
        QVERIFY(!h.infoText().contains('\r'));
        const QVector3D stage = h.server->stagePosition(h.info.scope.name);
        QCOMPARE(s->videoWindow->yCoord->text(), QString::asprintf("%.4f", stage.y() * 0.0001));
        QVERIFY(!s->videoWindow->imageView->sourcePicture().isNull());
        // "Move" with the fields as the report left them stays where it is
        h.log.clear();
        s->frameGrabButton->click();
        QVERIFY(h.settle());
        const QUrlQuery sent(h.requests("f=m&x=").value(0).section('?', 1));
        for (const char* axis : {"x", "y", "z"})
            QVERIFY(qAbs(sent.queryItemValue(axis).toDouble() - stage[axis[0] - 'x']) <= 5.0);
    }

    void failures_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("message");
        const QString coordinates = QStringLiteral("***Error fetching coordinates from microscope.  The server ");
        QTest::newRow("move fails") << "m:500:1" << coordinates + "may be malfunctioning.";
        QTest::newRow("move garbled") << "m:status:1" << coordinates + "returned an invalid sequence.";
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
        s->clock.countdownTimer.stop();
        s->clock.remainingSeconds = 31;
        const QImage shown = s->videoWindow->imageView->sourcePicture();
        QVERIFY(h.server->addFault(fault));
        if (fault.startsWith('t')) {
            s->tickme();
        } else {
            s->xCoord->setText(QStringLiteral("3"));
            s->frameGrabButton->click();
        }
        QVERIFY(h.settle());
        QVERIFY2(h.infoText().contains(message), qPrintable(h.infoText().right(200)));
        QCOMPARE(h.state(), message.mid(3) + " | on");
        // an unreadable frame keeps the picture that was shown
        if (fault.startsWith('p'))
            QCOMPARE(s->videoWindow->imageView->sourcePicture(), shown);
        // a failed time request leaves the count running on its own
        QCOMPARE(s->clock.remainingSeconds, fault.startsWith('t') ? 30 : 31);
    }

    void countdown()
    {
        Session* s = h.session.get();
        s->clock.countdownTimer.stop();
        const auto shown = [s](int from) {
            s->clock.remainingSeconds = from;
            s->tickme();
            return s->timeLabel->text();
        };
        QCOMPARE(shown(95), QStringLiteral("01:34"));
        QCOMPARE(shown(6061), QStringLiteral("101:00"));
        // 6060 is a multiple of 30: the time asked for then must not come back later
        QVERIFY(h.settle());
        QCOMPARE(shown(30), QStringLiteral("00:29"));

        QCOMPARE(shown(1), QStringLiteral("00:00"));
        QVERIFY(s->clock.controlExpired);
        QVERIFY(!s->clock.countdownTimer.isActive());
        QCOMPARE(h.state(), QStringLiteral("Your control time has expired. | off"));
        QVERIFY(h.infoText().endsWith("\n***Your control time has expired.  If you wish to continue controlling the "
                                      "microscope, you may choose \"New Session\" from the File menu to schedule "
                                      "additional time."));
        // neither a new frame nor a failed move releases them any more
        QSignalSpy frames(&s->videoFetcher, &MyWebJPEG::newImageAvailable);
        s->changeVideoFormat(1);
        QVERIFY(frames.wait(5000));
        QVERIFY(h.server->addFault(QStringLiteral("m:500:1")));
        s->updateVideo();
        QVERIFY(h.settle());
        QCOMPARE(h.infoText().count("The server may be malfunctioning."), 1);
        QVERIFY(h.controlsEnabled(false));
        // a late time reply restarts the countdown; the controls stay off
        s->clock.timeFetcher.start();
        QVERIFY(h.settle());
        QVERIFY(s->clock.countdownTimer.isActive());
        QVERIFY(h.controlsEnabled(false));
    }

    void autofocus_data()
    {
        QTest::addColumn<bool>("accurate");
        QTest::addColumn<QString>("status");
        QTest::newRow("quick") << false << "Performing Autofocus...";
        QTest::newRow("accurate") << true << "This more accurate autofocus may take a while; please be patient.";
    }

    void autofocus()
    {
        QFETCH(bool, accurate);
        Session* s = h.session.get();
        QVERIFY(h.moveTo(QStringLiteral("37.835"), QStringLiteral("25.1625"), QStringLiteral("200")));
        const double plane = h.server->focalPlaneAt(h.info.scope.slides[0], s->currentCoords.x, s->currentCoords.y);
        h.log.clear();
        (accurate ? s->slowFocusButton : s->AFButton)->click();
        QTEST(h.status(), "status");
        QVERIFY(h.controlsEnabled(false));
        QCOMPARE(s->stage.positionFetcher().stallTimeout(), accurate ? 600000 : MyHTTP::defaultStallTimeoutMs);
        QVERIFY(h.settle(60000));
        QCOMPARE(h.requests(h.info.requestPrefix + (accurate ? "f=r&auth=" : "f=a&auth=")).size(), 1);
        QCOMPARE(h.state(), QStringLiteral("Ready. | on"));
        QVERIFY2(qAbs(s->currentCoords.z - plane) <= (accurate ? 50 : 100), qPrintable(QString::number(plane)));
        s->queryCoords();
        QCOMPARE(s->stage.positionFetcher().stallTimeout(), MyHTTP::defaultStallTimeoutMs);
    }

    void focusStack()
    {
        Session* s = h.session.get();
        // start 20 um over the focal plane: the stack spans -93.3 to +93.3 um
        const int startUm = qRound(h.server->focalPlaneAt(h.info.scope.slides.value(0), 378350, 251625) / 10) + 20;
        const double step = 2000.0 / 15;
        const double first = startUm * 10.0 - 7 * step;
        QVERIFY(h.moveTo(QStringLiteral("37.835"), QStringLiteral("25.1625"), QString::number(startUm)));
        s->zSlider->setValue(2);
        // without a stack the slider leaves the field alone
        QCOMPARE(s->zCoord->text(), QString::number(startUm));
        const QList<double> zs = stack();
        // 15 frames 133.3 units apart around the start, each the picture of the region
        QCOMPARE(zs.size(), 15);
        for (int k = 0; k < zs.size(); ++k)
            QVERIFY(qAbs(zs[k] - (first + step * k)) < 1e-5);
        QCOMPARE(h.requests(h.info.requestPrefix + "f=m&b=y&x=378350.000000&y=251625.000000&z=").size(), 15);
        QCOMPARE(h.requests(h.info.requestPrefix + "f=p&ps=1&x=16&y=30&inset=1").size(), 15);
        QCOMPARE(QPoint(s->insetStack->count(), s->zSlider->maximum()), QPoint(15, 14));
        QCOMPARE(h.state(), QStringLiteral(" | on"));
        // the sharpest frame is shown: 5 and 6 lie 6.7 um either side of the focal plane
        const int best = s->zSlider->value();
        QVERIFY2(best == 5 || best == 6, qPrintable(QString::number(best)));
        QCOMPARE(s->insetStack->currentIndex(), best);
        QVERIFY(s->focusMeasureLabel->text().contains(QStringLiteral("Sharpest: frame %1").arg(best + 1)));
        // the slider puts a frame's z in the field and "Move" goes there, y shown to three places
        const int pick = 3;
        s->zSlider->setValue(pick);
        QCOMPARE(s->zCoord->text(), QString::number(startUm - 53));
        h.log.clear();
        s->frameGrabButton->click();
        QVERIFY(h.settle());
        QCOMPARE(h.requests(QStringLiteral("f=m&x=378350&y=251630&z=%1&").arg((startUm - 53) * 10)).size(), 1);
    }

    void stackPlanes_data()
    {
        QTest::addColumn<int>("frames");
        QTest::addColumn<int>("rangeUm");
        QTest::addColumn<double>("step");
        QTest::newRow("120 frames over 60 um") << 120 << 60 << 5.0;
        QTest::newRow("4 frames over 3 um") << 4 << 3 << 7.5;
    }

    // Every plane at its own z, evenly apart and centred on the start.
    void stackPlanes()
    {
        QFETCH(int, frames);
        QFETCH(int, rangeUm);
        QFETCH(double, step);
        QVERIFY(h.moveTo(QStringLiteral("37.835"), QStringLiteral("25.1625"), QStringLiteral("1000")));
        h.session->frameCountSelector->setValue(frames);
        h.session->frameRangeSelector->setValue(rangeUm);
        const QList<double> zs = stack();
        QCOMPARE(QSet<double>(zs.begin(), zs.end()).size(), frames);
        for (int k = 1; k < zs.size(); ++k)
            QVERIFY2(qAbs(zs[k] - zs[k - 1] - step) < 1e-5, qPrintable(QString::number(zs[k] - zs[k - 1])));
        QVERIFY(qAbs(std::accumulate(zs.begin(), zs.end(), 0.0) / frames - 10000.0) < 1e-5);
    }

    // "Get Focus Stack" again during a stack (the button enabled by a live
    // frame) starts over: none of the first stack's frames stays.
    void stackStartedAgain()
    {
        Session* s = h.session.get();
        QVERIFY(h.moveTo(QStringLiteral("37.835"), QStringLiteral("25.1625"), QStringLiteral("1000")));
        s->frameCountSelector->setValue(5);
        // each wait returns at a plane, before the next is asked for: polling
        // would miss the second plane on a busy machine
        QSignalSpy planes(&s->stackRun, &FocusStackRun::planeTaken);
        s->focusStackButton->click();
        while (planes.size() < 2)
            QVERIFY(planes.wait());
        QCOMPARE(s->insetStack->count(), 2);
        QImage frame(640, 480, QImage::Format_RGB32);
        emit s->videoFetcher.newImageAvailable(frame);
        s->focusStackButton->click();
        QVERIFY(QTest::qWaitFor([s] { return !s->stackAcquiring; }, 60000));
        QVERIFY(h.settle());
        // 5 frames 40 um apart, centred on the start
        QCOMPARE(s->stackZ, (QVector<double>{9200, 9600, 10000, 10400, 10800}));
        QCOMPARE(s->insetStack->count(), 5);
    }

    void stacksEndingEarly_data()
    {
        QTest::addColumn<QString>("startZ");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("frames");
        QTest::addColumn<QString>("message");
        const auto row = [](const char* tag, const char* z, const char* fault, int frames, const char* why) {
            QTest::newRow(tag) << QString(z) << QString(fault) << frames
                               << "***Focus stack stopped: the " + QString(why);
        };
        const char* range = "next position lies outside the focus range.";
        row("below the range", "50", "", 0, range);
        // from 29900 the frames from 29900 - 7 x 133.3 up stay below 30000 for 8 frames
        row("off the top", "2990", "", 8, range);
        row("move fails", "1000", "mb:500:1", 0, "server did not answer.");
        row("move refused", "1000", "wrong key", 0, "server refused the stage move (-BAD_AUTH).");
        row("picture fails", "1000", "inset:500:1", 2, "server did not answer.");
        row("picture unreadable", "1000", "inset:garbage:1", 2, "server sent a picture that could not be read.");
        row("first picture unreadable", "1000", "inset:garbage:1", 0, "server sent a picture that could not be read.");
    }

    void stacksEndingEarly()
    {
        QFETCH(QString, startZ);
        QFETCH(QString, fault);
        QFETCH(int, frames);
        QFETCH(QString, message);
        Session* s = h.session.get();
        QVERIFY(h.moveTo(QStringLiteral("37.835"), QStringLiteral("25.1625"), startZ));
        // a picture fault strikes the third picture, or the first
        connect(&s->stackRun, &FocusStackRun::planeTaken, this, [this, s, fault] {
            if (fault.startsWith("inset") && s->insetStack->count() == 2)
                h.server->addFault(fault);
        });
        if (fault.startsWith("mb") || (fault.startsWith("inset") && frames == 0))
            QVERIFY(h.server->addFault(fault));
        if (fault == "wrong key")
            s->link.auth.setKey(QStringLiteral("not the password")); // every token is refused
        stack();
        QVERIFY2(h.infoText().endsWith(message), qPrintable(h.infoText().right(100)));
        // the frames taken stay browsable with their own z
        QCOMPARE(QPoint(s->stackZ.size(), s->zSlider->maximum()), QPoint(frames, qMax(0, frames - 1)));
        QCOMPARE(s->insetStack->count(), frames);
        QCOMPARE(h.state(), message.mid(3) + " | on");
        if (frames == 2) {
            QVERIFY2(s->focusMeasureLabel->text().contains("cut short after 2 frames"),
                     qPrintable(s->focusMeasureLabel->text()));
            s->zSlider->setValue(0);
            s->zSlider->setValue(1);
            QCOMPARE(s->zCoord->text(), QStringLiteral("920"));
        }
    }

    void jobCounts()
    {
        Session* s = h.session.get();
        s->resetAcquisitionButton->click();
        QCOMPARE(corner(s->PushButton6, "10", "10"), QStringLiteral("0"));
        QCOMPARE(corner(s->PushButton7, "12", "12"), QStringLiteral("4"));
        QCOMPARE(std::pair(s->highRes->corner1Set, s->highRes->corner2Set), std::pair(true, true));
        s->densityBox->setValue(10);
        QCOMPARE(s->totalBox->text() + ' ' + QString::number(s->highRes->density()), QStringLiteral("400 10"));
        // a first corner beyond the second is refused: (0, 0) is in force
        s->densityBox->setValue(1);
        QCOMPARE(corner(s->PushButton6, "13", "13"), QStringLiteral("144"));
        // a refused second corner leaves nothing to sample
        QCOMPARE(corner(s->PushButton7, "0", "12"), QStringLiteral("0"));
        // a second corner alone counts from the stage origin
        s->resetAcquisitionButton->click();
        QCOMPARE(std::pair(s->highRes->corner1Set, s->highRes->corner2Set), std::pair(false, false));
        QCOMPARE(s->totalBox->text(), QStringLiteral("0"));
        QCOMPARE(corner(s->PushButton7, "37.835", "25.1625"), QStringLiteral("988"));
    }

    void createJob_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("outcome");
        // the name goes out percent-encoded
        const QString refused = QStringLiteral("***Job kidney was not accepted: ");
        QTest::newRow("accepted") << "  liver a&b#2  " << QString() << "Job   liver a&b#2   submitted.";
        QTest::newRow("unreachable") << "kidney" << QStringLiteral("cj:refuse:4")
                                     << refused + "the server could not be reached.";
        QTest::newRow("blank name") << "   " << QString() << "You must enter a name for your job.";
        QTest::newRow("nothing to sample") << "empty" << QString() << QString();
    }

    void createJob()
    {
        QFETCH(QString, name);
        QFETCH(QString, fault);
        QFETCH(QString, outcome);
        Session* s = h.session.get();
        corner(s->PushButton6, "10.5", "20.25");
        corner(s->PushButton7, outcome.isEmpty() ? "10.5" : "12", "22.5");
        s->densityBox->setValue(2);
        h.server->addFault(fault);
        s->jobNameEdit->setText(name);
        h.log.clear();
        MessageBoxCatcher catcher;
        s->createJobButton->click();
        QVERIFY(h.settle());
        if (name.trimmed().isEmpty() || outcome.isEmpty()) {
            // nothing sent, the selection kept
            QVERIFY(h.requests("f=cj").isEmpty());
            QCOMPARE(catcher.texts, outcome.isEmpty() ? QStringList() : QStringList{outcome});
            QCOMPARE(s->totalBox->text(), QString(outcome.isEmpty() ? "0" : "15"));
            return;
        }
        QVERIFY(!h.requests(h.info.requestPrefix + "f=cj&auth=").isEmpty());
        QVERIFY(h.requests("f=cj&").first().endsWith(
            "&ld=2&tlx=105000.0000&tly=202500.0000&brx=120000.0000&bry=225000.0000&n=" +
            QString(fault.isEmpty() ? "%20%20liver%20a%26b%232%20%20" : "kidney")));
        QVERIFY2(h.infoText().contains(outcome), qPrintable(h.infoText().right(300)));
        if (fault.isEmpty()) {
            QCOMPARE(h.server->jobs().size(), 1);
            QVERIFY(h.server->jobs().last().contains(name));
            QCOMPARE(h.status(), outcome);
            // the selection is reset for the next job
            QCOMPARE(s->jobNameEdit->text() + '|' + s->totalBox->text(), QStringLiteral("|0"));
            QCOMPARE(std::pair(s->highRes->corner1Set, s->highRes->corner2Set), std::pair(false, false));
        } else {
            // the message carries what is needed to submit again
            QVERIFY(h.infoText().contains("(10.5000, 20.2500) mm and (12.0000, 22.5000) mm, 2 samples / mm"));
        }
    }

    // What goes out and what is shown for replies the protocol allows.
    void wire_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("outcome");
        const auto row = [](const char* tag, const char* fault, const char* action, const char* outcome) {
            QTest::newRow(tag) << QString(fault) << QString(action) << QString(outcome);
        };
        const char* started = "1 frame, 1 time request, counting";
        row("'+' while the first frame comes", "p:drip:1", "begin", started);
        row("time reply ended by NUL", "t:nulend:1", "begin", started);
        row("empty job reply", "cj:empty:1", "job", "Job wire submitted. | 1 job");
        row("job reply of unknown form", "cj:status:1", "job", "Job wire submitted. | 1 job");
        row("exit kept for the mosaic", "", "exit", "video shown, session open");
        row("double-click keeps typed x", "", "double-click", "12.5, 0 moves");
        row("stack end keeps typed x", "", "stack", "12.5, 0 moves");
    }

    void wire()
    {
        QFETCH(QString, fault);
        QFETCH(QString, action);
        Session* s = h.session.get();
        const int focusUm = qRound(h.server->focalPlaneAt(h.info.scope.slides.value(0), 378350, 251625) / 10);
        QVERIFY(h.moveTo(QStringLiteral("37.835"), QStringLiteral("25.1625"), QString::number(focusUm)));
        QTRY_VERIFY(s->scopeInfo.mppX > 0.0f && s->clock.countdownTimer.isActive());
        h.log.clear();
        QVERIFY(fault.isEmpty() || h.server->addFault(fault));
        MessageBoxCatcher catcher;
        s->xCoord->setText(QStringLiteral("12.5"));
        s->xCoord->setModified(action == "double-click" || action == "stack"); // typed, not sent
        QString outcome;
        if (action == "begin") {
            h.session.reset();
            QVERIFY(h.open(h.info));
            outcome = QStringLiteral("%1 frame, %2 time request, %3")
                          .arg(h.requests("f=p&ps=1").size())
                          .arg(h.requests("f=t").size())
                          .arg(h.session->clock.countdownTimer.isActive() ? "counting" : "waiting");
        } else if (action == "job") {
            corner(s->PushButton6, "10", "10");
            corner(s->PushButton7, "12", "12");
            s->jobNameEdit->setText(QStringLiteral("wire"));
            s->createJobButton->click();
            QVERIFY(h.settle());
            outcome = h.status() + QStringLiteral(" | %1 job").arg(h.server->jobs().size());
        } else if (action == "exit") {
            QSignalSpy finished(s->regionScan, &RegionScan::mosaicFinished);
            corner(s->PushButton6, "20", "15");
            corner(s->PushButton7, "20", "15");
            s->scanRegionButton->click(); // one tile
            QVERIFY(finished.wait(30000));
            s->fileExitAction->trigger(); // "Cancel" to the unsaved mosaic
            outcome = QStringLiteral("video %1, session %2")
                          .arg(s->videoWindow->isVisible() ? "shown" : "hidden", s->isVisible() ? "open" : "closed");
        } else {
            CoordinateTriple elsewhere = s->currentCoords;
            elsewhere.x += 500;
            if (action == "double-click")
                emit s->videoWindow->centreRequested(elsewhere);
            else
                s->frameCountSelector->setValue(5);
            const QList<double> zs = action == "stack" ? stack() : QList<double>();
            QVERIFY(action != "stack" || (zs.size() == 5 && s->zSlider->value() == 2));
            QVERIFY(h.settle());
            outcome = s->xCoord->text() + QStringLiteral(", %1 moves").arg(h.requests("f=m&x=").size());
        }
        QTEST(outcome, "outcome");
    }

    void menu()
    {
        Session* s = h.session.get();
        s->newSessionAction->trigger();
        std::unique_ptr<ScopeBrowser> browser(topLevelWindow<ScopeBrowser>());
        QVERIFY(browser);
        QVERIFY(browser->isVisible());
        QCOMPARE(browser->hostName->text(), h.info.host);
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
