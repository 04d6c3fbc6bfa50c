#include "SessionHarness.h"

#include "setup/ScopeBrowser.h"
#include "views/LowResPreview.h"
#include "views/VideoView.h"
#include "views/VideoWindow.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QUrlQuery>
#include <QtTest>

class TestSession : public QObject
{
    Q_OBJECT

private:
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
        QCOMPARE(s->windowTitle(), QStringLiteral("Tessan: Controlling ") + h.info.scope.name +
                                       QStringLiteral(" at <") + h.info.host + QStringLiteral(">"));
        const QString prefix = h.info.requestPrefix;
        QCOMPARE(h.requests(prefix + QStringLiteral("f=d")).size(), 1);
        // the first frame of picture size 1, and the one that follows the
        // position reply unless the first is still under way
        QVERIFY(!h.requests(prefix + QStringLiteral("f=p&ps=1")).isEmpty());
        QVERIFY(h.requests(prefix + QStringLiteral("f=p&ps=1")).size() <= 2);
        QCOMPARE(h.requests(prefix + QStringLiteral("f=t")).size(), 1);
        QVERIFY(!h.requests(QStringLiteral("/small_slides/") + h.slide()).isEmpty());
        QVERIFY(!h.requests(QStringLiteral("/whole_slides/") + h.slide()).isEmpty());
        QCOMPARE(h.requests(prefix + QStringLiteral("f=w&auth=")).size(), 1);

        // The server took the token: it answered with the stage position.
        const QVector3D stage = h.server->stagePosition(h.info.scope.name);
        QCOMPARE(s->currentCoords.x, stage.x());
        QCOMPARE(s->currentCoords.z, stage.z());
        QCOMPARE(h.status(), QStringLiteral("Ready."));
        QVERIFY(h.controlsEnabled());

        QCOMPARE(s->mppX, float(h.server->micronsPerPixel()));
        QVERIFY(h.infoText().contains(QString(59, QLatin1Char('-')) + QStringLiteral("\nBeginning control session.")));
        QVERIFY(s->countdownTimer.isActive());
        QVERIFY(s->remainingSeconds > 0);
    }

    void typedMove()
    {
        Session* s = h.session.get();
        QList<CoordinateTriple> reports;
        connect(s, &Session::physicalLocationChanged, this, [&reports](CoordinateTriple& c) { reports.append(c); });
        QSignalSpy frames(&s->videoFetcher, &MyWebJPEG::newImageAvailable);
        h.server->clearLog();

        s->xCoord->setText(QStringLiteral("1.5"));
        s->yCoord->setText(QStringLiteral("2,25")); // typed on a decimal-comma desktop
        s->zCoord->setText(QStringLiteral("100"));
        s->frameGrabButton->click();
        QVERIFY(h.controlsDisabled());
        QCOMPARE(h.status(), QStringLiteral("Moving scope..."));
        QVERIFY(h.settle());

        QCOMPARE(h.requests(h.info.requestPrefix + QStringLiteral("f=m&x=15000&y=22500&z=1000&auth=")).size(), 1);
        QCOMPARE(s->xCoord->text(), QStringLiteral("1.500"));
        QCOMPARE(s->yCoord->text(), QStringLiteral("2.250"));
        QCOMPARE(s->zCoord->text(), QStringLiteral("100"));
        QVERIFY(!reports.isEmpty());
        QCOMPARE(reports.last().x, 15000.f);
        QCOMPARE(reports.last().y, 22500.f);
        QCOMPARE(reports.last().z, 1000.f);
        QCOMPARE(frames.size(), 1);
        QCOMPARE(h.requests(QStringLiteral("f=p&ps=1")).size(), 1);
        QCOMPARE(h.status(), QStringLiteral("Ready."));
        QVERIFY(h.controlsEnabled());
        QCOMPARE(h.session->lowRes->physicalPosition().x, 15000.f);

        // An empty or non-numeric field sends 0 for its axis; so does a
        // comma that cannot be a decimal mark.
        h.server->clearLog();
        s->xCoord->setText(QStringLiteral("1,000.5"));
        s->yCoord->setText(QStringLiteral("abc"));
        s->zCoord->setText(QStringLiteral("50"));
        s->frameGrabButton->click();
        QVERIFY(h.settle());
        QCOMPARE(h.requests(QStringLiteral("f=m&x=0&y=0&z=500&auth=")).size(), 1);

        SessionHarness::shoot(s, QStringLiteral("session-after-move"));
        SessionHarness::shoot(s->videoWindow, QStringLiteral("video-after-move"));
    }

    void movingRepliesChainQueries()
    {
        Session* s = h.session.get();
        // About two seconds along x; a local server answers at once, so
        // without pacing this move would cost hundreds of queries.
        h.server->setStageSpeed((378350.0 - 200000.0) / 2.0);
        QStringList statusAtMovingReport;
        int movingReports = 0;
        connect(s, &Session::physicalLocationChanged, this, [&, s](CoordinateTriple&) {
            if (s->moveFetcher.length() > 0 && s->moveFetcher.data()[0] == '*') {
                ++movingReports;
                statusAtMovingReport << h.status();
            }
        });
        h.server->clearLog();
        QElapsedTimer clock;
        clock.start();
        QVERIFY(h.moveTo(QStringLiteral("20"), QStringLiteral("15"), QStringLiteral("120")));
        QVERIFY(movingReports >= 5);
        QVERIFY2(movingReports <= clock.elapsed() / Session::requeryIntervalMs + 2,
                 qPrintable(QStringLiteral("%1 queries in %2 ms").arg(movingReports).arg(clock.elapsed())));
        QCOMPARE(h.requests(QStringLiteral("f=w&auth=")).size(), movingReports);
        QCOMPARE(statusAtMovingReport.count(QStringLiteral("Moving scope...")), movingReports);
        QCOMPARE(s->xCoord->text(), QStringLiteral("20.000"));
        QVERIFY(h.controlsEnabled());
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
        QCOMPARE(s->mppX, 0.5f);
        QVERIFY(h.infoText().contains(QStringLiteral("\nCamera: ")));
        QVERIFY(!h.infoText().contains(QLatin1Char('\r')));
        const QVector3D stage = h.server->stagePosition(h.info.scope.name);
        QCOMPARE(s->videoWindow->yCoord->text(), QString::asprintf("%.4f", stage.y() * 0.0001));
        QVERIFY(!s->videoWindow->imageView->sourcePicture().isNull());

        // "Move" with the fields as the report left them stays where it is.
        h.server->clearLog();
        s->frameGrabButton->click();
        QVERIFY(h.settle());
        const QUrlQuery move(h.requests(QStringLiteral("f=m&x=")).value(0).section(QLatin1Char('?'), 1));
        QVERIFY(qAbs(move.queryItemValue(QStringLiteral("x")).toDouble() - stage.x()) <= 5.0);
        QVERIFY(qAbs(move.queryItemValue(QStringLiteral("y")).toDouble() - stage.y()) <= 5.0);
        QVERIFY(qAbs(move.queryItemValue(QStringLiteral("z")).toDouble() - stage.z()) <= 5.0);
    }

    void failedRequestsReleaseControls_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("message");
        QTest::newRow("move fails") << QStringLiteral("m:500:1")
                                    << QStringLiteral("***Error fetching coordinates from microscope.  The server "
                                                      "may be malfunctioning.");
        QTest::newRow("move garbled") << QStringLiteral("m:status:1")
                                      << QStringLiteral("***Error fetching coordinates from microscope.  The "
                                                        "server returned an invalid sequence.");
        QTest::newRow("frame fails") << QStringLiteral("p:500:1")
                                     << QStringLiteral("***Error fetching video frame from microscope.");
        QTest::newRow("frame unreadable")
            << QStringLiteral("p:garbage:1") << QStringLiteral("***Error decoding video frame from microscope.");
    }

    void failedRequestsReleaseControls()
    {
        QFETCH(QString, fault);
        QFETCH(QString, message);
        Session* s = h.session.get();
        const CoordinateTriple before = s->currentCoords;
        QVERIFY(h.server->addFault(fault));
        s->xCoord->setText(QStringLiteral("3"));
        s->frameGrabButton->click();
        QVERIFY(h.settle());
        QVERIFY2(h.infoText().contains(message), qPrintable(h.infoText().right(300)));
        QVERIFY(h.controlsEnabled());
        if (!fault.startsWith(QLatin1Char('p'))) {
            QCOMPARE(s->currentCoords.x, before.x);
            QCOMPARE(h.status(), message.mid(3));
        }
    }

    void countdown()
    {
        Session* s = h.session.get();
        s->countdownTimer.stop();

        s->remainingSeconds = 95;
        s->tickme();
        QCOMPARE(s->timeLabel->text(), QStringLiteral("01:34"));

        // 6060 is a multiple of 30: that tick asks the server too
        s->remainingSeconds = 6061;
        s->tickme();
        QCOMPARE(s->timeLabel->text(), QStringLiteral("101:00"));
        QVERIFY(h.settle());
        s->countdownTimer.stop();

        h.server->clearLog();
        s->remainingSeconds = 30;
        s->tickme();
        QCOMPARE(s->timeLabel->text(), QStringLiteral("00:29"));
        s->remainingSeconds = 31;
        s->tickme();
        QCOMPARE(s->timeLabel->text(), QStringLiteral("00:30"));
        QVERIFY(h.settle());
        // Only the tick onto 30 asked the server again.
        QCOMPARE(h.requests(QStringLiteral("f=t")).size(), 1);
        // Its reply corrects the count and starts the stopped countdown again.
        QVERIFY(s->remainingSeconds > 31);
        QVERIFY(s->countdownTimer.isActive());
        s->countdownTimer.stop();

        s->remainingSeconds = 1;
        s->tickme();
        QCOMPARE(s->timeLabel->text(), QStringLiteral("00:00"));
        QVERIFY(s->controlExpired);
        QVERIFY(!s->countdownTimer.isActive());
        QVERIFY(h.controlsDisabled());
        QVERIFY(h.infoText().contains(QStringLiteral("***Your control time has expired.  If you wish to continue "
                                                     "controlling the microscope, you may choose \"New Session\" "
                                                     "from the File menu to schedule additional time.")));

        // Neither a video frame nor a failed move releases them any more.
        QSignalSpy frames(&s->videoFetcher, &MyWebJPEG::newImageAvailable);
        s->changeVideoFormat(1);
        QVERIFY(frames.wait(5000));
        QVERIFY(h.server->addFault(QStringLiteral("m:500:1")));
        s->queryCoords();
        QVERIFY(h.settle());
        QVERIFY(h.controlsDisabled());
    }

    void countdownStartsFromUnreadableReply()
    {
        // A time reply without a number keeps the count; a short tick lets the
        // countdown run out without waiting in real time.
        Session* s = h.session.get();
        s->countdownTimer.stop();
        s->countdownInterval = 20;
        s->remainingSeconds = 3;
        QVERIFY(h.server->addFault(QStringLiteral("t:empty:1")));
        s->timeFetcher.setUrl(OrvexUrl::session(h.info.host, h.info.requestPrefix, QStringLiteral("f=t")));
        s->timeFetcher.start();
        QTRY_VERIFY_WITH_TIMEOUT(s->controlExpired, 5000);
        QCOMPARE(s->timeLabel->text(), QStringLiteral("00:00"));
        QVERIFY(!h.infoText().contains(QStringLiteral("Unable to query")));
    }

    void autofocusFindsThePlane()
    {
        Session* s = h.session.get();
        QVERIFY(h.moveTo(QStringLiteral("37.835"), QStringLiteral("25.1625"), QStringLiteral("200")));
        const double plane = h.server->focalPlaneAt(h.slide(), s->currentCoords.x, s->currentCoords.y);

        h.server->clearLog();
        s->AFButton->click();
        QCOMPARE(h.status(), QStringLiteral("Performing Autofocus..."));
        QVERIFY(h.controlsDisabled());
        QVERIFY(h.settle(30000));
        QCOMPARE(h.requests(h.info.requestPrefix + QStringLiteral("f=a&auth=")).size(), 1);
        QCOMPARE(h.status(), QStringLiteral("Ready."));
        QVERIFY(h.controlsEnabled());
        QVERIFY2(qAbs(s->currentCoords.z - plane) <= 100.0,
                 qPrintable(QStringLiteral("%1 vs %2").arg(s->currentCoords.z).arg(plane)));

        QVERIFY(h.moveTo(QStringLiteral("37.835"), QStringLiteral("25.1625"), QStringLiteral("150")));
        h.server->clearLog();
        s->slowFocusButton->click();
        QCOMPARE(h.status(), QStringLiteral("This more accurate autofocus may take a while; please be patient."));
        QCOMPARE(s->moveFetcher.stallTimeout(), 600000);
        QVERIFY(h.settle(60000));
        QCOMPARE(h.requests(h.info.requestPrefix + QStringLiteral("f=r&auth=")).size(), 1);
        QVERIFY(qAbs(s->currentCoords.z - plane) <= 50.0);
        SessionHarness::shoot(s, QStringLiteral("session-after-autofocus"));
        SessionHarness::shoot(s->videoWindow, QStringLiteral("video-after-autofocus"));

        // Every other request keeps the default transfer timeout.
        s->queryCoords();
        QCOMPARE(s->moveFetcher.stallTimeout(), MyHTTP::defaultStallTimeoutMs);
        QVERIFY(h.settle());
    }

    void pictureSizeChange()
    {
        Session* s = h.session.get();
        h.server->clearLog();
        // the signal carries a reference, which a QSignalSpy cannot keep
        int width = 0;
        connect(&s->videoFetcher, &MyWebJPEG::newImageAvailable, this,
                [&width](QImage& frame) { width = frame.width(); });
        emit s->videoWindow->videoFormatChanged(2);
        QTRY_VERIFY(width != 0);
        QCOMPARE(h.requests(h.info.requestPrefix + QStringLiteral("f=p&ps=2")).size(), 1);
        QVERIFY(!h.requests(QStringLiteral("f=p&ps=2"))[0].contains(QStringLiteral("auth")));
        QCOMPARE(width, 800);

        // The next move's frame comes at the new size.
        h.server->clearLog();
        QVERIFY(h.moveTo(QStringLiteral("2"), QStringLiteral("2"), QStringLiteral("100")));
        QCOMPARE(h.requests(QStringLiteral("f=p&ps=2")).size(), 1);
        QVERIFY(h.requests(QStringLiteral("f=p&ps=1")).isEmpty());
    }

    void destinationsAndCurrentPosition()
    {
        Session* s = h.session.get();
        s->zCoord->setText(QStringLiteral("77"));
        CoordinateTriple pick;
        pick.x = 12345;
        pick.y = 67890;
        s->changeDestination(pick);
        QCOMPARE(s->xCoord->text(), QStringLiteral("1.2345"));
        QCOMPARE(s->yCoord->text(), QStringLiteral("6.7890"));
        QCOMPARE(s->zCoord->text(), QStringLiteral("77"));
        pick.z = 2000;
        s->changeDestination(pick);
        QCOMPARE(s->zCoord->text(), QStringLiteral("200.0000"));

        // A pick on the overview reaches the fields too.
        emit s->lowRes->destinationChanged(pick);
        QCOMPARE(s->xCoord->text(), QStringLiteral("1.2345"));

        h.server->clearLog();
        s->showCurrentPosition->click();
        QCOMPARE(s->xCoord->text(), QString::asprintf("%.3f", double(s->currentCoords.x) * 0.0001));
        QCOMPARE(s->zCoord->text(), QString::asprintf("%.0f", double(s->currentCoords.z) * 0.1));
        QCOMPARE(s->lowRes->destinationPosition().x, s->currentCoords.x);
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
        QVERIFY(h.requests(QStringLiteral("_slides/")).isEmpty());
        QCOMPARE(h.status(), QStringLiteral("Ready."));
    }

    void newSessionOpensSetupDialog()
    {
        h.session->newSessionAction->trigger();
        ScopeBrowser* browser = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* b = qobject_cast<ScopeBrowser*>(w))
                browser = b;
        QVERIFY(browser);
        QCOMPARE(browser->hostName->text(), h.info.host);
        delete browser;
    }

    void saveAndExit()
    {
        Session* s = h.session.get();
        s->fileSaveAction->trigger();
        QCOMPARE(h.status(), QStringLiteral("Saving is disabled in Tessan"));
        QPointer<VideoWindow> video = s->videoWindow;
        s->fileExitAction->trigger();
        QTRY_VERIFY(video.isNull() || !video->isVisible());
        QVERIFY(!s->isVisible());
    }
};

QTEST_MAIN(TestSession)
#include "tst_session.moc"
