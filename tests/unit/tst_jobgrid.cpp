#include "session/JobGrid.h"

#include <QtTest>

#include <climits>
#include <limits>

class TestJobGrid : public QObject
{
    Q_OBJECT

private slots:
    void count_data()
    {
        QTest::addColumn<float>("x1");
        QTest::addColumn<float>("y1");
        QTest::addColumn<float>("x2");
        QTest::addColumn<float>("y2");
        QTest::addColumn<int>("density");
        QTest::addColumn<int>("count");
        QTest::newRow("2 mm square, 1/mm") << 10.f << 10.f << 12.f << 12.f << 1 << 4;
        QTest::newRow("2 mm square, 10/mm") << 10.f << 10.f << 12.f << 12.f << 10 << 400;
        QTest::newRow("1 column 5 rows") << 10.f << 10.f << 10.5f << 12.25f << 2 << 5;
        QTest::newRow("from the origin") << 0.f << 0.f << 37.835f << 25.1625f << 1 << 988;
        QTest::newRow("equal corners") << 11.f << 11.f << 11.f << 11.f << 3 << 0;
        QTest::newRow("reversed") << 12.f << 12.f << 10.f << 10.f << 1 << 0;
        // 10000 / 3 truncates to 3333 units per step: 0, 3333, 6666, 9999.
        QTest::newRow("truncated steps") << 0.f << 0.f << 1.f << 0.1f << 3 << 4;
        // The grid stops before a second corner on a grid line.
        QTest::newRow("typed decimal end") << 10.f << 10.f << 12.1f << 10.05f << 10 << 21;
        QTest::newRow("huge saturates") << 0.f << 0.f << 1e9f << 1e9f << 10 << INT_MAX;
        QTest::newRow("not a number") << 0.f << 0.f << std::numeric_limits<float>::quiet_NaN() << 2.f << 1 << 0;
    }

    void count()
    {
        QFETCH(float, x1);
        QFETCH(float, y1);
        QFETCH(float, x2);
        QFETCH(float, y2);
        QFETCH(int, density);
        CoordinateTriple a;
        a.x = x1;
        a.y = y1;
        CoordinateTriple b;
        b.x = x2;
        b.y = y2;
        QTEST(JobGrid::count(a, b, density), "count");
    }

    void longAxisMatchesStepping()
    {
        // Past the stepping limit the arithmetic count continues seamlessly.
        QCOMPARE(JobGrid::positions(0.0, 2000000000.0, 1000.0), 2000000LL);
        QCOMPARE(JobGrid::positions(0.0, 3333.0 * 1500000.0 + 1.0, 10000.0 / 3.0), 1500001LL);
    }
};

QTEST_MAIN(TestJobGrid)
#include "tst_jobgrid.moc"
