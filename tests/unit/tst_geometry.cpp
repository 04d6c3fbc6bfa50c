#include "views/Calibration.h"
#include "views/OverviewMap.h"
#include "views/SelectionGrid.h"

#include <QtTest>

#include <cmath>

namespace {

CoordinateTriple stage(float x, float y, float z = 0)
{
    CoordinateTriple c;
    c.x = x;
    c.y = y;
    c.z = z;
    return c;
}

const QByteArray rotated("100\n200\n2900\n250\n50\n1900\n2850\n1950\n75.67\n50.325\n");

} // namespace

// Stage units to pixels and back: the overview, the calibrated preview and
// the job grid drawn on it.
class TestGeometry : public QObject
{
    Q_OBJECT

private slots:
    void overview_data()
    {
        QTest::addColumn<QPointF>("stageXY");
        QTest::addColumn<QPoint>("pixel");
        QTest::newRow("origin") << QPointF(0, 0) << QPoint(0, 0);
        QTest::newRow("just under a millimetre") << QPointF(9999, 9999) << QPoint(0, 0);
        QTest::newRow("one millimetre") << QPointF(10000, 10000) << QPoint(5, 5);
        QTest::newRow("middle") << QPointF(378350, 251625) << QPoint(187, 126);
        QTest::newRow("outside, not clamped") << QPointF(1000000, -30000) << QPoint(506, -15);
        QTest::newRow("nan lands on the origin") << QPointF(qQNaN(), 0) << QPoint(0, 0);
    }

    void overview()
    {
        QFETCH(QPointF, stageXY);
        QTEST(OverviewMap::stageToPixel(stage(stageXY.x(), stageXY.y(), 99999), 383, 255), "pixel");
        // back at full resolution, z = 0
        const CoordinateTriple back = OverviewMap::pixelToStage(QPoint(100, 50), 200, 100);
        QCOMPARE(QVector3D(back.x, back.y, back.z), QVector3D(378350, 251625, 0));
        QCOMPARE(OverviewMap::pixelToStage(QPoint(1, 1), 383, 255).x, float(75.67 / 383 * 10000));
    }

    void calibrated_data()
    {
        QTest::addColumn<QByteArray>("fiducials");
        QTest::addColumn<QPointF>("stageXY");
        QTest::addColumn<QPoint>("pixel");
        // the view's 383 x 246 window stays inside the 3060 x 2036 picture
        QTest::newRow("fallback centre") << QByteArray() << QPointF(378350, 251625) << QPoint(1530, 1018);
        QTest::newRow("fallback origin clamped") << QByteArray() << QPointF(0, 0) << QPoint(191, 123);
        QTest::newRow("fallback far clamped") << QByteArray() << QPointF(1e7, 1e7) << QPoint(2869, 1913);
        QTest::newRow("rotated origin") << rotated << QPointF(0, 0) << QPoint(191, 200);
        QTest::newRow("rotated 10 mm") << rotated << QPointF(100000, 100000) << QPoint(461, 546);
        QTest::newRow("infinite") << rotated << QPointF(qInf(), -qInf()) << QPoint(-1, -1);
        QTest::newRow("nan") << QByteArray() << QPointF(qQNaN(), 7) << QPoint(-1, -1);
        QTest::newRow("huge") << QByteArray() << QPointF(1e30, -1e30) << QPoint(-1, -1);
        QTest::newRow("tiny slide") << QByteArray("100 200 2900 250 50 1900 2850 1950 1e-40 1e-30")
                                    << QPointF(378350, 251625) << QPoint(-1, -1);
    }

    void calibrated()
    {
        QFETCH(QByteArray, fiducials);
        QFETCH(QPointF, stageXY);
        QFETCH(QPoint, pixel);
        Calibration c;
        if (!fiducials.isEmpty())
            c.load(fiducials.constData(), int(fiducials.size()));
        const QPoint got = c.stageToPixel(stage(float(stageXY.x()), float(stageXY.y())), 383, 246);
        if (pixel.x() >= 0)
            QCOMPARE(got, pixel);
        QVERIFY2(QRect(191, 123, 3060 - 382 + 1, 2036 - 246 + 1).contains(got), qPrintable(QString::number(got.x())));
        const CoordinateTriple back = c.pixelToStage(QPoint(1000, 1000));
        QVERIFY(std::isfinite(back.x) && std::isfinite(back.y) && back.z == 0.0f);
    }

    void calibrationRoundTrip()
    {
        Calibration c;
        CoordinateTriple back = c.pixelToStage(QPoint(1530, 1018));
        QCOMPARE(QPointF(back.x, back.y), QPointF(378350, 251625));
        c.load(rotated.constData(), int(rotated.size()));
        // mean of the edge angles 0.017855 and 0.029403
        QVERIFY(qAbs(c.angle - 0.023629) < 0.000001);
        back = c.pixelToStage(QPoint(1000, 1000));
        QVERIFY(qAbs(back.x - 248225.7f) < 0.5f && qAbs(back.y - 230362.9f) < 0.5f);
        // a failed request returns to the fallback scales but keeps the sizes read
        const QByteArray other("100\n200\n2900\n250\n50\n1900\n2850\n1950\n70\n40\n");
        c.load(other.constData(), int(other.size()));
        c.setFailed();
        QCOMPARE(c.scaleX, 3060.0);
        QCOMPARE(c.slideWidthMm, 70.0f);
    }

    void gridStep_data()
    {
        QTest::addColumn<QPoint>("pixels");
        QTest::addColumn<QPointF>("stageSpan");
        QTest::addColumn<int>("density");
        QTest::addColumn<int>("step");
        // about 40.44 pixels per millimetre with the fallback calibration
        QTest::newRow("2 mm, density 1") << QPoint(404, 485) << QPointF(100000, 120000) << 1 << 40;
        QTest::newRow("2 mm, density 10") << QPoint(404, 485) << QPointF(100000, 120000) << 10 << 4;
        QTest::newRow("sub-pixel raised to one") << QPoint(0, 100) << QPointF(0, 1e7) << 10 << 1;
        QTest::newRow("equal stage values") << QPoint(400, 500) << QPointF(50000, 50000) << 1 << 1000000000;
        QTest::newRow("reversed points away") << QPoint(400, 500) << QPointF(120000, 100000) << 1 << 0;
        QTest::newRow("density zero") << QPoint(404, 485) << QPointF(100000, 120000) << 0 << 0;
    }

    void gridStep()
    {
        QFETCH(QPoint, pixels);
        QFETCH(QPointF, stageSpan);
        QFETCH(int, density);
        QTEST(SelectionGrid::step(pixels.x(), pixels.y(), float(stageSpan.x()), float(stageSpan.y()), density), "step");
    }

    void gridPoints_data()
    {
        QTest::addColumn<QRect>("pixels");
        QTest::addColumn<QRectF>("mm");
        QTest::addColumn<int>("density");
        QTest::addColumn<int>("count");
        QTest::addColumn<QPoint>("last");
        QTest::newRow("2 x 2") << QRect(QPoint(404, 404), QPoint(485, 485)) << QRectF(10, 10, 2, 2) << 1 << 4
                               << QPoint(444, 444);
        QTest::newRow("column by column")
            << QRect(QPoint(404, 404), QPoint(485, 445)) << QRectF(10, 10, 2, 1) << 1 << 2 << QPoint(444, 404);
        QTest::newRow("same stage x") << QRect(QPoint(400, 400), QPoint(500, 481)) << QRectF(10, 10, 0, 2) << 1 << 2
                                      << QPoint(400, 440);
        QTest::newRow("reversed pixels") << QRect(QPoint(500, 500), QPoint(400, 400)) << QRectF(10, 10, 2, 2) << 1 << 0
                                         << QPoint();
        QTest::newRow("same pixel") << QRect(QPoint(400, 400), QPoint(400, 400)) << QRectF(10, 10, 0, 0) << 1 << 0
                                    << QPoint();
        QTest::newRow("capped") << QRect(QPoint(0, 0), QPoint(3060, 2036)) << QRectF(0, 0, 1000, 1000) << 1
                                << SelectionGrid::maxPoints << QPoint(-1, -1);
    }

    void gridPoints()
    {
        QFETCH(QRect, pixels);
        QFETCH(QRectF, mm);
        QFETCH(int, density);
        QFETCH(int, count);
        QFETCH(QPoint, last);
        const CoordinateTriple a = stage(float(mm.left() * 1e4), float(mm.top() * 1e4));
        const CoordinateTriple b = stage(float(mm.right() * 1e4), float(mm.bottom() * 1e4));
        const QVector<QPoint> grid = SelectionGrid::points(pixels.topLeft(), pixels.bottomRight(), a, b, density);
        QCOMPARE(grid.size(), count);
        if (count > 0 && last.x() >= 0)
            QCOMPARE(grid.last(), last);
        if (count > 0)
            QCOMPARE(grid.first(), pixels.topLeft());
    }
};

QTEST_MAIN(TestGeometry)
#include "tst_geometry.moc"
