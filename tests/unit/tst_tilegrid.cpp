#include "acquire/ScanTiming.h"
#include "acquire/TileGrid.h"
#include "session/FocusMapRun.h"

#include <QtTest>

// The frames of a region scan, its focus points and the time it is expected to take.
class TestTileGrid : public QObject
{
    Q_OBJECT

private slots:
    void plan_data();
    void plan();
    void model_data();
    void model();
};

void TestTileGrid::plan_data()
{
    QTest::addColumn<QRectF>("regionUm"); // top-left and size
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<double>("mpp");
    QTest::addColumn<int>("overlap");
    QTest::addColumn<QString>("order");       // columns of each row in scan order; or the refusal's first words
    QTest::addColumn<QPointF>("firstCentre"); // centre of the first frame
    QTest::addColumn<double>("seconds");      // keep focus, starting on the first centre
    QTest::addColumn<double>("focusSeconds"); // autofocus every second tile
    QTest::addColumn<double>("mapSeconds");   // keep focus after the focus points, whose frames are the tiles there

    // 640 x 480 at 0.5 um: 320 x 240 um frames, 272 x 204 um apart at 15 %.
    const QSize vga(640, 480);
    QTest::newRow("4 x 3, overhang split") << QRectF(1000, 2000, 1000, 500) << vga << 0.5 << 15 << "0123 3210 0123"
                                           << QPointF(1000 - 68 + 160, 2000 - 74 + 120) << 6.456 << 9.456 << 12.044;
    QTest::newRow("smaller than a frame")
        << QRectF(1000, 2000, 100, 100) << vga << 0.5 << 15 << "0" << QPointF(1050, 2050) << 0.3 << 0.8 << 0.8;
    QTest::newRow("equal corners") << QRectF(1000, 2000, 0, 0) << vga << 0.5 << 15 << "0" << QPointF(1000, 2000) << 0.3
                                   << 0.8 << 0.8;
    QTest::newRow("exactly two frames") << QRectF(0, 0, 592, 444) << vga << 0.5 << 15 << "01 10" << QPointF(160, 120)
                                        << 1.948 << 2.948 << 3.948;
    QTest::newRow("half overlap") << QRectF(0, 0, 640, 240) << vga << 0.5 << 50 << "012" << QPointF(160, 120) << 1.22
                                  << 2.22 << 2.72;
    QTest::newRow("1280 x 960 at 0.25") << QRectF(0, 0, 500, 200) << QSize(1280, 960) << 0.25 << 20 << "01"
                                        << QPointF(-38 + 160, 100) << 0.856 << 1.356 << 1.856;
    QTest::newRow("no scale yet") << QRectF(0, 0, 500, 500) << vga << 0.0 << 15 << "The microscope has not" << QPointF()
                                  << 0.0 << 0.0 << 0.0;
    QTest::newRow("corners reversed") << QRectF(1000, 1000, -10, 20) << vga << 0.5 << 15 << "Set the top left"
                                      << QPointF() << 0.0 << 0.0 << 0.0;
    QTest::newRow("overlap below 5") << QRectF(0, 0, 500, 500) << vga << 0.5 << 4 << "The overlap" << QPointF() << 0.0
                                     << 0.0 << 0.0;
    QTest::newRow("whole slide") << QRectF(0, 0, 75000, 50000) << vga << 0.5 << 15 << "The region needs" << QPointF()
                                 << 0.0 << 0.0 << 0.0;
}

void TestTileGrid::plan()
{
    QFETCH(QRectF, regionUm);
    QFETCH(QSize, picture);
    QFETCH(double, mpp);
    QFETCH(int, overlap);
    QFETCH(QString, order);
    QFETCH(QPointF, firstCentre);
    QFETCH(double, seconds);
    QFETCH(double, focusSeconds);
    QFETCH(double, mapSeconds);

    const TileGrid grid = TileGrid::plan(regionUm.topLeft(), regionUm.bottomRight(), picture, mpp, mpp, overlap);
    if (!order.front().isDigit()) {
        QVERIFY(!grid.isValid());
        QVERIFY2(grid.refusal.startsWith(order), qPrintable(grid.refusal));
        QCOMPARE(ScanTiming::estimateSeconds(grid, QPointF(), 0, ScanTiming::Model()), 0.0);
        return;
    }
    QVERIFY2(grid.isValid(), qPrintable(grid.refusal));
    QStringList rows(grid.rows);
    for (const QPoint& tile : grid.serpentine())
        rows[tile.y()] += QString::number(tile.x());
    QCOMPARE(rows.join(QLatin1Char(' ')), order);
    QCOMPARE(grid.centreUm(0, 0), firstCentre);
    // The frames cover the region and overhang it equally on both sides.
    const QPointF last =
        grid.centreUm(grid.rows - 1, grid.cols - 1) + QPointF(grid.frameUm.width(), grid.frameUm.height()) / 2;
    const QPointF before = regionUm.topLeft() - grid.originUm, after = last - regionUm.bottomRight();
    QVERIFY(before.x() >= 0);
    QVERIFY(before.y() >= 0);
    QCOMPARE(after, before);

    const ScanTiming::Model model{100.0, 1000.0, 200.0, 500.0};
    QCOMPARE(qRound(ScanTiming::estimateSeconds(grid, firstCentre, 0, model) * 1000), qRound(seconds * 1000));
    QCOMPARE(qRound(ScanTiming::estimateSeconds(grid, firstCentre, 2, model) * 1000), qRound(focusSeconds * 1000));
    QCOMPARE(qRound(ScanTiming::estimateSeconds(grid, firstCentre, 0, model, FocusMapRun::pointsFor(grid)) * 1000),
             qRound(mapSeconds * 1000));
}

void TestTileGrid::model_data()
{
    QTest::addColumn<QVector<QPointF>>("moves"); // distance in um, ms
    QTest::addColumn<double>("moveMs");
    QTest::addColumn<double>("moveMsPerMm");

    QTest::newRow("none: defaults") << QVector<QPointF>{} << ScanTiming::Model().moveMs
                                    << ScanTiming::Model().moveMsPerMm;
    QTest::newRow("one distance: fixed part takes the rest")
        << QVector<QPointF>{{1000, 500}, {1000, 700}} << 600.0 - ScanTiming::Model().moveMsPerMm
        << ScanTiming::Model().moveMsPerMm;
    QTest::newRow("a line") << QVector<QPointF>{{0, 100}, {1000, 150}, {3000, 250}} << 100.0 << 50.0;
    QTest::newRow("slower when shorter: never negative") << QVector<QPointF>{{0, 900}, {10000, 100}} << 500.0 << 0.0;
}

void TestTileGrid::model()
{
    QFETCH(QVector<QPointF>, moves);
    QFETCH(double, moveMs);
    QFETCH(double, moveMsPerMm);
    ScanTiming timing;
    for (const QPointF& m : moves)
        timing.addMove(m.x(), m.y());
    QCOMPARE(qRound(timing.model().moveMs * 100), qRound(moveMs * 100));
    QCOMPARE(qRound(timing.model().moveMsPerMm * 100), qRound(moveMsPerMm * 100));
}

QTEST_GUILESS_MAIN(TestTileGrid)
#include "tst_tilegrid.moc"
