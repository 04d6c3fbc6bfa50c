#include "views/SelectionGrid.h"

#include <QTest>

Q_DECLARE_METATYPE(CoordinateTriple)

namespace {

CoordinateTriple stage(float xMm, float yMm)
{
    CoordinateTriple c;
    c.x = xMm * 10000.0f;
    c.y = yMm * 10000.0f;
    return c;
}

} // namespace

class TestSelectionGrid : public QObject
{
    Q_OBJECT

private slots:
    void step_data();
    void step();
    void points_data();
    void points();
    void cappedAtMaximum();
};

void TestSelectionGrid::step_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<float>("stageFrom");
    QTest::addColumn<float>("stageTo");
    QTest::addColumn<int>("density");
    QTest::addColumn<int>("expected");

    // About 40.44 pixels per millimetre with the fallback calibration.
    QTest::newRow("2 mm, density 1") << 404 << 485 << 100000.0f << 120000.0f << 1 << 40;
    QTest::newRow("2 mm, density 10") << 404 << 485 << 100000.0f << 120000.0f << 10 << 4;
    QTest::newRow("sub-pixel raised to one") << 0 << 100 << 0.0f << 1.0e7f << 10 << 1;
    QTest::newRow("equal stage values: endless step") << 400 << 500 << 50000.0f << 50000.0f << 1 << 1000000000;
    QTest::newRow("reversed order points away") << 400 << 500 << 120000.0f << 100000.0f << 1 << 0;
    QTest::newRow("all equal") << 400 << 400 << 50000.0f << 50000.0f << 1 << 1;
    QTest::newRow("density zero") << 404 << 485 << 100000.0f << 120000.0f << 0 << 0;
    QTest::newRow("density negative") << 404 << 485 << 100000.0f << 120000.0f << -2 << 0;
}

void TestSelectionGrid::step()
{
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(float, stageFrom);
    QFETCH(float, stageTo);
    QFETCH(int, density);
    QFETCH(int, expected);
    QCOMPARE(SelectionGrid::step(from, to, stageFrom, stageTo, density), expected);
}

void TestSelectionGrid::points_data()
{
    QTest::addColumn<QPoint>("a");
    QTest::addColumn<QPoint>("b");
    QTest::addColumn<CoordinateTriple>("corner1");
    QTest::addColumn<CoordinateTriple>("corner2");
    QTest::addColumn<int>("density");
    QTest::addColumn<int>("count");
    QTest::addColumn<QPoint>("last");

    QTest::newRow("2 x 2 at density 1") << QPoint(404, 404) << QPoint(485, 485) << stage(10, 10) << stage(12, 12) << 1
                                        << 4 << QPoint(444, 444);
    QTest::newRow("column by column") << QPoint(404, 404) << QPoint(485, 445) << stage(10, 10) << stage(12, 11) << 1
                                      << 2 << QPoint(444, 404);
    QTest::newRow("same stage x: one column")
        << QPoint(400, 400) << QPoint(500, 481) << stage(10, 10) << stage(10, 12) << 1 << 2 << QPoint(400, 440);
    QTest::newRow("reversed pixels: no grid")
        << QPoint(500, 500) << QPoint(400, 400) << stage(10, 10) << stage(12, 12) << 1 << 0 << QPoint();
    QTest::newRow("reversed stage: no grid")
        << QPoint(400, 400) << QPoint(500, 500) << stage(12, 12) << stage(10, 10) << 1 << 0 << QPoint();
    QTest::newRow("same pixel") << QPoint(400, 400) << QPoint(400, 400) << stage(10, 10) << stage(10, 10) << 1 << 0
                                << QPoint();
    QTest::newRow("sub-pixel step: every pixel")
        << QPoint(0, 0) << QPoint(12, 12) << stage(0, 0) << stage(1000, 1000) << 10 << 100 << QPoint(9, 9);
}

void TestSelectionGrid::points()
{
    QFETCH(QPoint, a);
    QFETCH(QPoint, b);
    QFETCH(CoordinateTriple, corner1);
    QFETCH(CoordinateTriple, corner2);
    QFETCH(int, density);
    QFETCH(int, count);
    QFETCH(QPoint, last);

    const QVector<QPoint> grid = SelectionGrid::points(a, b, corner1, corner2, density);
    QCOMPARE(grid.size(), count);
    if (count > 0) {
        QCOMPARE(grid.first(), a);
        QCOMPARE(grid.last(), last);
    }
}

void TestSelectionGrid::cappedAtMaximum()
{
    // A one-pixel step over the whole picture would be six million dots.
    const QVector<QPoint> grid =
        SelectionGrid::points(QPoint(0, 0), QPoint(3060, 2036), stage(0, 0), stage(1000, 1000), 1);
    QCOMPARE(grid.size(), SelectionGrid::maxPoints);
    QCOMPARE(SelectionGrid::points(QPoint(0, 0), QPoint(100, 100), stage(0, 0), stage(1000, 1000), 1, 7).size(), 7);
}

QTEST_MAIN(TestSelectionGrid)
#include "tst_selectiongrid.moc"
