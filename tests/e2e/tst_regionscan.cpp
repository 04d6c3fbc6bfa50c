#include "MessageBoxCatcher.h"
#include "SessionHarness.h"

#include "imaging/FlatField.h"
#include "imaging/MosaicStitcher.h"
#include "session/MarksController.h"
#include "session/RegionScan.h"
#include "session/ScanStorage.h"
#include "views/MosaicView.h"
#include "views/MosaicWindow.h"
#include "views/VideoWindow.h"

#include <QComboBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QWheelEvent>
#include <QtTest>

// Region scans against the test server: the tiles in serpentine order, the
// mosaic stitched and saved as a pyramid that tifffile reads back, a
// cancelled scan and one with a missing tile kept, and the refusals.
class TestRegionScan : public QObject
{
    Q_OBJECT

    SessionHarness h;
    QTemporaryDir dir;

    RegionScan* region() const { return h.session->regionScan; }

    void markRegion(const QString& x0, const QString& y0, const QString& x1, const QString& y1)
    {
        Session* s = h.session.get();
        s->resetAcquisitionButton->click();
        s->xCoord->setText(x0);
        s->yCoord->setText(y0);
        s->PushButton6->click();
        s->xCoord->setText(x1);
        s->yCoord->setText(y1);
        s->PushButton7->click();
    }

    // Stage x and y of every move of the scan, in the order sent.
    QVector<QPoint> moves() const
    {
        QVector<QPoint> out;
        const QRegularExpression move(QStringLiteral("f=m&x=(\\d+)&y=(\\d+)&"));
        for (const QString& r : h.requests(QStringLiteral("f=m&")))
            if (const auto m = move.match(r); m.hasMatch())
                out.append(QPoint(m.captured(1).toInt(), m.captured(2).toInt()));
        return out;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QVERIFY(h.start());
        QTRY_VERIFY(h.session->scopeInfo.mppX > 0.0f && h.session->clock.countdownTimer.isActive());
    }

    void scan_data()
    {
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<bool>("cancel");     // after the first tile
        QTest::addColumn<QString>("outcome"); // in the result
        QTest::addColumn<int>("moveCount");
        QTest::addColumn<int>("placed");
        QTest::addColumn<QString>("retry");   // in the messages
        QTest::addColumn<QString>("missing"); // tile ids, row by row
        QTest::addColumn<int>("focus");       // the scan's focus choice; 3, the focus map, on the tilted slide
        QTest::addColumn<QString>("area");    // corners in mm, then the picture size
        const QString square = "20.0 15.0 20.4 15.3 1", glass = "39.83 23.88 40.23 24.18 1";
        const QString wide = "20.0 15.0 21.2 15.7 2"; // 4 x 3 of 800 x 600

        QTest::newRow("2 x 2, serpentine") << QStringList() << false << "done: 4 of 4 tiles taken." << 4 << 4 << ""
                                           << "" << 0 << square;
        // tile 0 taken, the serpentine's 1, 3 and 2 never reached
        QTest::newRow("cancelled keeps the first tile")
            << QStringList() << true << "cancelled after 1 of 4 tiles; the mosaic keeps the 1 taken." << 1 << 1 << ""
            << "1 2 3" << 0 << square;
        // an unreadable picture must not pass for the tile: the fetcher repeats the last one
        QTest::newRow("unreadable frame retried")
            << QStringList{"p:garbage:1"} << false << "done: 4 of 4 tiles taken." << 4 << 4
            << "Tile row 1, column 1: frame failed (the picture could not be read); trying again."
            << "" << 0 << square;
        QTest::newRow("move retried, frame missing")
            << QStringList{"m:500:1", "p:500:2"} << false << "3 of 4 tiles taken. Missing: row 1, column 1." << 5 << 3
            << "Tile row 1, column 1: move failed (the server did not answer); trying again."
            << "0" << 0 << square;
        // 3 x 3 focus points, their frames the tiles there, then the three tiles between; the first
        // autofocus retried
        QTest::newRow("focus map on the tilted slide")
            << QStringList{"a:500:1"} << false << "done: 12 of 12 tiles taken." << 12 << 12
            << "Focus point 1: autofocus failed (the server did not answer); trying again."
            << "" << 3 << wide;
        // the server's autofocus answers some z over bare glass too: the point's frame shows it has nothing
        // to focus on; a plane through the other three focuses the glass tile, taken again
        QTest::newRow("focus map, a point on bare glass")
            << QStringList() << false << "done: 4 of 4 tiles taken." << 5 << 4
            << "Focus point 3 at 40166.0, 24131.9 µm left out: its frame shows nothing to focus on (bare glass?)."
            << "" << 3 << glass;
        // cancelled after the first focus point: no tile taken, nothing to save
        QTest::newRow("focus map cancelled")
            << QStringList() << true << "cancelled after 0 of 4 tiles; the mosaic keeps the 0 taken." << 1 << 0 << ""
            << "0 1 2 3" << 3 << square;
    }

    void scan()
    {
        QFETCH(QStringList, faults);
        QFETCH(bool, cancel);
        QFETCH(QString, outcome);
        QFETCH(int, moveCount);
        QFETCH(int, placed);
        QFETCH(QString, retry);
        QFETCH(int, focus);
        QFETCH(QString, area);

        Session* s = h.session.get();
        const QStringList corners = area.split(' ');
        const bool wide = corners[4] == "2";
        s->videoWindow->ComboBox3->setCurrentIndex(corners[4].toInt() - 1);
        QVERIFY(h.settle());
        if (focus == 3)
            h.server->addScope(h.info.scope.name, false, QString(), {QStringLiteral("tilted-51")});
        s->scanFocusBox->setCurrentIndex(focus);
        // 640 x 480 frames at 0.5 um overlapping by 15 % cover 0.4 x 0.3 mm in 2 x 2.
        markRegion(corners[0], corners[1], corners[2], corners[3]);
        h.log.clear();
        for (const QString& rule : faults)
            QVERIFY(h.server->addFault(rule));
        QObject context;
        bool stageLocked = true;
        connect(&region()->scan, &TileScan::tileTaken, &context, [&] {
            stageLocked = stageLocked && h.controlsEnabled(false) && !s->scanRegionButton->text().contains("Region");
            // a double-click or key step in the video window must not move the stage away
            CoordinateTriple elsewhere = s->currentCoords;
            elsewhere.x += 5000;
            s->goTo(elsewhere);
            if (cancel)
                region()->cancelScan();
        });
        connect(&region()->focusRun, &FocusMapRun::progress, &context, [&](int done) {
            if (cancel && done == 1)
                region()->cancelScan();
        });
        // the frames of the scan, before the live video's after it
        const QString frame = "f=p&ps=" + corners[4];
        int frames = -1;
        connect(&region()->scan, &TileScan::finished, &context, [&] { frames = h.requests(frame).size(); });
        QSignalSpy finished(region(), &RegionScan::mosaicFinished);
        MessageBoxCatcher catcher;
        s->scanRegionButton->click();
        QVERIFY(catcher.text().startsWith(wide ? "Scan 12 tiles (4 × 3) of 800 × 600 pixels?"
                                               : "Scan 4 tiles (2 × 2) of 640 × 480 pixels?"));
        QVERIFY(finished.wait(60000));
        h.server->clearFaults();
        QVERIFY(stageLocked);
        QVERIFY2(region()->result.endsWith(outcome), qPrintable(region()->result));
        QVERIFY(h.infoText().contains(region()->result.mid(region()->result.startsWith("***") ? 3 : 0)));
        QVERIFY(retry.isEmpty() || h.infoText().contains(retry));
        // four tiles are too few to learn the light from, and the user is told
        QVERIFY(h.infoText().contains("The light of this mosaic was not evened"));

        const QVector<QPoint> sent = moves();
        QCOMPARE(sent.size(), moveCount);
        if (focus == 3 && !cancel) {
            // a kept point's frame, at the scan's picture size, is its tile: one visit, one frame
            QCOMPARE(frames, moveCount);
            for (const FocusSurface::Point& p : region()->focusSurface.points())
                QCOMPARE(sent.count(QPoint(qRound(p.xUm * 10), qRound(p.yUm * 10))), 1);
            // every other tile's move carries the focus map's z, within the depth of field of the slide's focus
            const QRegularExpression move(QStringLiteral("f=m&x=(\\d+)&y=(\\d+)&z=(\\d+)"));
            const QStringList sentMoves = h.requests(QStringLiteral("f=m&"));
            for (const QString& r : sentMoves.mid(FocusMapRun::pointsFor(region()->scan.grid()).size())) {
                const auto m = move.match(r);
                const double truth = h.server->focalPlaneAt(QStringLiteral("tilted-51"), m.captured(1).toDouble(),
                                                            m.captured(2).toDouble());
                QVERIFY2(qAbs(m.captured(3).toDouble() - truth) <= 14.0, qPrintable(r + " " + QString::number(truth)));
            }
        }
        if (moveCount == 4) {
            // left to right along the first row, right to left along the second
            QVERIFY(sent[0].x() < sent[1].x());
            QVERIFY(sent[1].x() == sent[2].x());
            QVERIFY(sent[3].x() == sent[0].x());
            QVERIFY(sent[0].y() == sent[1].y());
            QVERIFY(sent[1].y() < sent[2].y());
            QVERIFY(sent[2].y() == sent[3].y());
        }
        int present = 0;
        QStringList missing;
        for (const TilePlacement& p : region()->stitcher()->placements()) {
            if (p.missing)
                missing << QString::number(p.id);
            else
                ++present;
        }
        QCOMPARE(present, placed);
        missing.sort();
        QTEST(missing.join(' '), "missing");
        QVERIFY(h.settle());
        QVERIFY(h.controlsEnabled(true));
        QCOMPARE(s->scanRegionButton->text(), QStringLiteral("Scan Region"));
        if (present == 0) {
            QVERIFY(!region()->hasMosaic());
            return;
        }

        // The window shows the mosaic; a double-click there moves the stage to the point.
        MosaicView* view = region()->window()->view;
        QCOMPARE(view->mosaicSize(), region()->stitcher()->mosaicSize());
        // the wheel zooms around the pointer
        const QPointF pointer(view->width() * 0.3, view->height() * 0.6);
        const QPointF under = view->stagePoint(pointer);
        const double zoom = view->zoom();
        QWheelEvent wheel(pointer, view->mapToGlobal(pointer), QPoint(), QPoint(0, 240), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(view, &wheel);
        QCOMPARE(view->zoom(), zoom * 1.5625);
        QVERIFY((view->stagePoint(pointer) - under).manhattanLength() < 1e-6);
        const QPoint middle = view->rect().center();
        const QPointF target = view->stagePoint(middle);
        QTest::mouseDClick(view, Qt::LeftButton, Qt::NoModifier, middle);
        QVERIFY(h.settle());
        QVERIFY(qAbs(s->currentCoords.x - target.x() * 10.0) <= 1.0);

        // a bookmark there goes beside the saved mosaic, in its pixels
        QVERIFY(s->marks->addBookmark(QStringLiteral("centre")));
        const QString path = dir.filePath(QString::fromLatin1(QTest::currentDataTag()).left(6) + ".ome.tif");
        QSignalSpy saved(region(), &RegionScan::saved);
        region()->saveMosaicTo(path);
        QVERIFY(saved.wait(60000));
        QVERIFY2(saved.first().at(0).toBool(), qPrintable(saved.first().at(1).toString()));
        QProcess python;
        python.start("/usr/bin/python3",
                     {QFINDTESTDATA("../unit/pyramid_layout.py"), path, dir.filePath(QStringLiteral("ome.xml"))});
        QVERIFY(python.waitForFinished(60000));
        QVERIFY2(python.exitCode() == 0, python.readAllStandardError().constData());
        const QJsonObject file = QJsonDocument::fromJson(python.readAllStandardOutput()).object();
        const QSize size = region()->stitcher()->mosaicSize();
        const QPointF origin = region()->stitcher()->mosaicOriginUm();
        QVERIFY(file["ome"].toBool());
        QFile xml(dir.filePath(QStringLiteral("ome.xml")));
        QVERIFY(xml.open(QIODevice::ReadOnly));
        QCOMPARE(xml.readAll().contains("<M K=\"Focus surface\">" + region()->focusSurface.kindName().toUtf8()),
                 focus == 3);
        QCOMPARE(file["levels"].toArray().first(), QJsonValue(QJsonArray{size.width(), size.height()}));
        QCOMPARE(file["tiles"], QJsonValue(QJsonArray() << QJsonArray{512, 512}));
        QCOMPARE(file["physical"], QJsonValue(QJsonArray{0.5, 0.5, "µm"}));
        // the stage position of the top-left pixel
        const QJsonArray at = file["position"].toArray();
        QVERIFY(qAbs(at[0].toDouble() - origin.x()) < 0.01);
        QVERIFY(qAbs(at[1].toDouble() - origin.y()) < 0.01);
        QFile marks(path.chopped(8) + ".geojson");
        QVERIFY(marks.open(QIODevice::ReadOnly));
        // the bookmark just made is the last of the marks on this mosaic
        const QJsonArray point =
            QJsonDocument::fromJson(marks.readAll())["features"].toArray().last()["geometry"]["coordinates"].toArray();
        const QPointF pixel = (QPointF(s->currentCoords.x, s->currentCoords.y) / 10.0 - origin) / 0.5;
        QVERIFY((QPointF(point[0].toDouble(), point[1].toDouble()) - pixel).manhattanLength() < 0.01);
    }

    // The tiles' folder taken away while the scan runs (as a full disk would
    // refuse them): the scan stops, and the status bar and System Info say why.
    void unstorableTileStopsTheScan()
    {
        QVERIFY(h.settle());
        markRegion("20.0", "15.0", "20.4", "15.3");
        QObject context;
        connect(&region()->scan, &TileScan::tileTaken, &context,
                [this] { QDir(region()->stitcher()->plan().cacheDir).removeRecursively(); });
        QSignalSpy finished(region(), &RegionScan::mosaicFinished);
        MessageBoxCatcher catcher;
        h.session->scanRegionButton->click();
        QVERIFY(finished.wait(60000));
        const QString shown = h.session->statusBar()->currentMessage();
        QVERIFY2(shown.contains("could not be stored and are missing: Cannot write tile"), qPrintable(shown));
        QVERIFY(h.infoText().contains("could not be stored and are missing: Cannot write tile"));
        const QVector<TilePlacement> placed = region()->stitcher()->placements();
        QVERIFY(std::any_of(placed.cbegin(), placed.cend(), [](const TilePlacement& p) { return p.missing; }));
        // a save to a disk without room for the mosaic is refused with the figures, and writes nothing
        region()->storageProbe = [](const QString&) { return ScanStorage::Volume{"/", 1000}; };
        QSignalSpy saved(region(), &RegionScan::saved);
        region()->saveMosaicTo(dir.filePath("full.ome.tif"));
        region()->storageProbe = ScanStorage::volumeOf;
        QCOMPARE(saved.size(), 1);
        QVERIFY2(saved[0][1].toString().contains("MB for the mosaic in "), qPrintable(saved[0][1].toString()));
        QVERIFY(!QFile::exists(dir.filePath("full.ome.tif")));
        QVERIFY(h.settle());
    }

    // The light learnt by one scan evens the session's next scan at the same
    // picture size, which learns none of its own.
    void lightProfileCarriedToTheNextScan()
    {
        QVERIFY(h.settle());
        h.session->scanFocusBox->setCurrentIndex(0);
        std::shared_ptr<const FlatField> first;
        for (const char* left : {"20.0", "22.0"}) {
            markRegion(left, "15.0", QString::number(QString(left).toDouble() + 0.7, 'f', 1), "15.55");
            QSignalSpy finished(region(), &RegionScan::mosaicFinished);
            MessageBoxCatcher catcher;
            h.session->scanRegionButton->click();
            QVERIFY(catcher.text().startsWith("Scan 9 tiles (3 × 3)"));
            QVERIFY(finished.wait(60000));
            QVERIFY(region()->stitcher()->flatField());
            if (!first)
                first = region()->stitcher()->flatField();
        }
        QCOMPARE(region()->stitcher()->flatField(), first);
    }

    void refused_data()
    {
        QTest::addColumn<int>("secondsLeft");
        QTest::addColumn<QStringList>("corners");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<qint64>("freeBytes"); // on the disk of the tiles and the mosaic; < 0: as it is

        QTest::newRow("control time too short") << 10 << QStringList{"20.0", "15.0", "23.0", "18.0"}
                                                << "The scan of 165 tiles would take about" << qint64(-1);
        QTest::newRow("no region") << 1000 << QStringList() << "Set the top left and the bottom right corner"
                                   << qint64(-1);
        // a job would count from the stage origin; a scan of that is refused
        QTest::newRow("bottom right only") << 1000 << QStringList{"0", "0", "20.4", "15.3"}
                                           << "Set the top left and the bottom right corner" << qint64(-1);
        // tiles and mosaic on one disk add up: about 3 MB for 2 x 2 tiles of 640 x 480
        QTest::newRow("disk too full") << 1000 << QStringList{"20.0", "15.0", "20.4", "15.3"} << "MB for the mosaic in "
                                       << qint64(2400000);
    }

    void refused()
    {
        QFETCH(int, secondsLeft);
        QFETCH(QStringList, corners);
        QFETCH(QString, reason);
        QFETCH(qint64, freeBytes);
        Session* s = h.session.get();
        if (freeBytes >= 0)
            region()->storageProbe = [freeBytes](const QString&) { return ScanStorage::Volume{"/", freeBytes}; };
        QVERIFY(h.settle());
        if (!corners.isEmpty())
            markRegion(corners[0], corners[1], corners[2], corners[3]);
        else
            s->resetAcquisitionButton->click();
        s->clock.remainingSeconds = secondsLeft;
        h.log.clear();
        MessageBoxCatcher catcher;
        s->scanRegionButton->click();
        QCOMPARE(catcher.title(), QStringLiteral("Cannot scan the region"));
        QVERIFY2(catcher.text().contains(reason), qPrintable(catcher.text()));
        QVERIFY(h.settle());
        QVERIFY(!region()->isBusy());
        QVERIFY(h.requests("f=m&").isEmpty());
        QVERIFY2(freeBytes < 0 || catcher.text().contains(", but only 2 MB are free there."),
                 qPrintable(catcher.text()));
        s->clock.remainingSeconds = 1000;
        region()->storageProbe = ScanStorage::volumeOf;
    }
};

QTEST_MAIN(TestRegionScan)
#include "tst_regionscan.moc"
