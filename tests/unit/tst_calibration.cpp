#include "views/Calibration.h"

#include <QTest>

namespace {

CoordinateTriple stage(float x, float y)
{
    CoordinateTriple p;
    p.x = x;
    p.y = y;
    return p;
}

void load(Calibration& c, const QByteArray& text)
{
    c.load(text.constData(), int(text.size()));
}

const QByteArray kGoodFile("100\n200\n2900\n250\n50\n1900\n2850\n1950\n75.67\n50.325\n");

bool isFallback(const Calibration& c)
{
    return c.scaleX == 3060.0 && c.scaleY == 2036.0 && c.angle == 0.0 && c.originX == 0.0 && c.originY == 0.0;
}

} // namespace

class TestCalibration : public QObject
{
    Q_OBJECT

private slots:
    void fallbackMapsPictureCentre();
    void fiducialsFile();
    void readsScanfIntegers_data();
    void readsScanfIntegers();
    void readsOnlyTheGivenLength();
    void shortReplyAndFailedRequest();
    void degenerateFiducialsFallBack_data();
    void degenerateFiducialsFallBack();
};

void TestCalibration::fallbackMapsPictureCentre()
{
    const Calibration c;
    QVERIFY(isFallback(c));
    QCOMPARE(c.stageToPixel(stage(378350, 251625), 383, 246), QPoint(1530, 1018));
    const CoordinateTriple back = c.pixelToStage(QPoint(1530, 1018));
    QCOMPARE(back.x, 378350.0f);
    QCOMPARE(back.y, 251625.0f);
    QCOMPARE(back.z, 0.0f);
    // Clamped so that a 383 x 246 view stays inside the picture.
    QCOMPARE(c.stageToPixel(stage(0, 0), 383, 246), QPoint(191, 123));
    QCOMPARE(c.stageToPixel(stage(1e7f, 1e7f), 383, 246), QPoint(3060 - 191, 2036 - 123));
}

void TestCalibration::fiducialsFile()
{
    Calibration c;
    load(c, kGoodFile);
    QVERIFY(qAbs(c.scaleX - 2800.446) < 0.001);
    QVERIFY(qAbs(c.scaleY - 1700.735) < 0.001);
    // Mean of top = bottom = 0.017855 and left = right = 0.029403.
    QVERIFY(qAbs(c.angle - 0.023629) < 0.000001);
    QCOMPARE(c.originX, 100.0);
    QCOMPARE(c.originY, 200.0);
    QCOMPARE(c.fiducialPoints[3], QPoint(2850, 1950));
    QCOMPARE(c.slideWidthMm, 75.67f);
    QCOMPARE(c.stageToPixel(stage(0, 0), 383, 246), QPoint(191, 200));
    QCOMPARE(c.stageToPixel(stage(100000, 100000), 383, 246), QPoint(461, 546));
    const CoordinateTriple back = c.pixelToStage(QPoint(1000, 1000));
    QVERIFY(qAbs(back.x - 248225.7f) < 0.5f);
    QVERIFY(qAbs(back.y - 230362.9f) < 0.5f);
    QCOMPARE(back.z, 0.0f);
}

void TestCalibration::readsScanfIntegers_data()
{
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<int>("x");

    QTest::newRow("octal") << QByteArray("0100") << 64;
    QTest::newRow("hex") << QByteArray("0x64") << 100;
    QTest::newRow("hex upper") << QByteArray("0X1F") << 31;
    QTest::newRow("minus") << QByteArray("-12") << -12;
    QTest::newRow("plus") << QByteArray("+99") << 99;
    QTest::newRow("spaces before") << QByteArray("  \t 7") << 7;
}

void TestCalibration::readsScanfIntegers()
{
    QFETCH(QByteArray, first);
    QFETCH(int, x);
    Calibration c;
    // Any run of white space separates the numbers.
    load(c, first + " 200\t2900\n\n250 50 1900\r\n2850\n1950\n70.5  50\n");
    QCOMPARE(c.fiducialPoints[0], QPoint(x, 200));
    QCOMPARE(c.fiducialPoints[2], QPoint(50, 1900));
    QCOMPARE(c.slideWidthMm, 70.5f);
    QCOMPARE(c.slideHeightMm, 50.0f);
    QCOMPARE(c.originX, double(x));
}

void TestCalibration::readsOnlyTheGivenLength()
{
    // The bytes after the reply belong to nobody: a slice without terminator.
    const QByteArray buffer = kGoodFile.left(kGoodFile.size() - 1) + "999999";
    Calibration c;
    c.load(buffer.constData(), int(kGoodFile.size() - 1));
    QCOMPARE(c.slideHeightMm, 50.325f);

    // Cut in the middle of the last number: only its digits up to the cut count.
    const int cut = int(kGoodFile.indexOf("50.325") + 2);
    c.load(buffer.constData(), cut);
    QCOMPARE(c.slideHeightMm, 50.0f);

    // Cut before the last number: nine values, so the default sizes.
    c.load(buffer.constData(), int(kGoodFile.indexOf("50.325")));
    QCOMPARE(c.slideWidthMm, 75.67f);
    QCOMPARE(c.slideHeightMm, 50.325f);
    QCOMPARE(c.fiducialPoints[3], QPoint(2850, 1950));

    // Nothing to read: the corners read before still calibrate.
    c.load(nullptr, 10);
    c.load(buffer.constData(), -1);
    QVERIFY(qAbs(c.scaleX - 2800.446) < 0.001);
    QCOMPARE(c.slideWidthMm, 75.67f);
}

void TestCalibration::shortReplyAndFailedRequest()
{
    Calibration c;
    load(c, QByteArray("100\n200\n2900\n250\n50\n1900\n2850\n1950\n70\n40\n"));
    QCOMPARE(c.slideWidthMm, 70.0f);

    // Two values: the first corner moves, the others stay, the sizes reset.
    load(c, QByteArray("110\n210\n"));
    QCOMPARE(c.fiducialPoints[0], QPoint(110, 210));
    QCOMPARE(c.fiducialPoints[1], QPoint(2900, 250));
    QCOMPARE(c.slideWidthMm, 75.67f);
    QCOMPARE(c.originX, 110.0);
    QVERIFY(c.scaleX > 2700 && c.scaleX < 2900);

    // A failed request keeps the sizes and points of the last file.
    load(c, QByteArray("100\n200\n2900\n250\n50\n1900\n2850\n1950\n70\n40\n"));
    c.setFailed();
    QVERIFY(isFallback(c));
    QCOMPARE(c.slideWidthMm, 70.0f);
    QCOMPARE(c.slideHeightMm, 40.0f);
    QCOMPARE(c.fiducialPoints[1], QPoint(2900, 250));
}

void TestCalibration::degenerateFiducialsFallBack_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<float>("widthMm");

    QTest::newRow("zero top edge") << QByteArray("100 200 100 200 50 1900 2850 1950 70 40") << 70.0f;
    QTest::newRow("zero left edge") << QByteArray("100 200 2900 250 100 200 2850 1950 70 40") << 70.0f;
    QTest::newRow("diagonal pair") << QByteArray("100 200 2900 250 50 1900 100 200 70 40") << 70.0f;
    QTest::newRow("all at origin") << QByteArray("0 0 0 0 0 0 0 0 70 40") << 70.0f;
    QTest::newRow("empty reply") << QByteArray() << 75.67f;
    QTest::newRow("foreign reply") << QByteArray("<html>Not Found</html>") << 75.67f;
    QTest::newRow("nan size") << QByteArray("100 200 2900 250 50 1900 2850 1950 nan 40") << 75.67f;
    QTest::newRow("infinite size") << QByteArray("100 200 2900 250 50 1900 2850 1950 70 inf") << 75.67f;
    QTest::newRow("zero size") << QByteArray("100 200 2900 250 50 1900 2850 1950 0 40") << 75.67f;
}

void TestCalibration::degenerateFiducialsFallBack()
{
    QFETCH(QByteArray, reply);
    QFETCH(float, widthMm);
    Calibration c;
    load(c, reply);
    QCOMPARE(c.slideWidthMm, widthMm);
    QVERIFY(std::isfinite(c.slideHeightMm) && c.slideHeightMm > 0.0f);
    if (widthMm == 70.0f || reply.isEmpty() || reply.startsWith('<')) {
        QVERIFY(isFallback(c));
        if (widthMm != 70.0f)
            QCOMPARE(c.stageToPixel(stage(378350, 251625), 383, 246), QPoint(1530, 1018));
    } else {
        // Good corners with unusable sizes: the corners still calibrate.
        QVERIFY(qAbs(c.scaleX - 2800.446) < 0.001);
        QCOMPARE(c.slideHeightMm, 50.325f);
    }
    const CoordinateTriple back = c.pixelToStage(QPoint(1000, 1000));
    QVERIFY(std::isfinite(back.x) && std::isfinite(back.y));
    const QPoint p = c.stageToPixel(stage(100000, 100000), 383, 246);
    QVERIFY(QRect(191, 123, 3060 - 2 * 191 + 1, 2036 - 2 * 123 + 1).contains(p));
}

QTEST_MAIN(TestCalibration)
#include "tst_calibration.moc"
