#include "session/PositionReport.h"
#include "views/Calibration.h"
#include "views/OverviewMap.h"
#include "views/SlideMarks.h"

#include <QtTest>

#include <cmath>
#include <limits>

// Positions and fiducials that a broken or hostile server can send: NaN,
// infinities and numbers far beyond any stage. Found by the reply fuzzers.
class TestExtremePositions : public QObject
{
    Q_OBJECT

private slots:
    void positionsMapInsideThePicture_data();
    void positionsMapInsideThePicture();
    void absurdSlideSizeGivesDefaults();
};

namespace {

CoordinateTriple stage(float x, float y)
{
    CoordinateTriple position;
    position.x = x;
    position.y = y;
    return position;
}

void load(Calibration& c, const QByteArray& text)
{
    c.load(text.constData(), static_cast<int>(text.size()));
}

} // namespace

void TestExtremePositions::positionsMapInsideThePicture_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("fiducials");

    const QByteArray rotated("100\n200\n2900\n250\n50\n1900\n2850\n1950\n75.67\n50.325\n");
    QTest::newRow("huge, fallback") << QByteArray("+1e30 -1e30 0\n") << QByteArray();
    QTest::newRow("nan, fallback") << QByteArray("*nan nan nan\n") << QByteArray();
    QTest::newRow("infinite, rotated") << QByteArray("+inf -inf 5\n") << rotated;
    QTest::newRow("nan, rotated") << QByteArray("+nan 7 5\n") << rotated;
    // A tiny millimetre size turns an ordinary position into an enormous pixel.
    QTest::newRow("ordinary, tiny slide")
        << QByteArray("+378350 251625 0\n") << QByteArray("100\n200\n2900\n250\n50\n1900\n2850\n1950\n1e-40\n1e-30\n");
}

void TestExtremePositions::positionsMapInsideThePicture()
{
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, fiducials);
    CoordinateTriple position;
    QVERIFY(PositionReport::read(reply.constData(), static_cast<int>(reply.size()), position) !=
            PositionReport::Kind::Invalid);

    Calibration c;
    if (!fiducials.isEmpty())
        load(c, fiducials);
    const QPoint pixel = c.stageToPixel(position, 383, 246);
    QVERIFY2(QRect(191, 123, 3060 - 2 * 191 + 1, 2036 - 2 * 123 + 1).contains(pixel),
             qPrintable(QStringLiteral("%1,%2").arg(pixel.x()).arg(pixel.y())));

    // The overview does not clamp, but it must give some pixel without
    // undefined behaviour; a NaN lands on the origin.
    const QPoint overview = OverviewMap::stageToPixel(position, 383, 256);
    if (std::isnan(position.x))
        QCOMPARE(overview.x(), 0);
    else if (std::isinf(position.x))
        QVERIFY(position.x > 0 ? overview.x() > 0 : overview.x() < 0);

    // Ordinary positions map as before.
    QCOMPARE(OverviewMap::stageToPixel(stage(378350, 251625), 383, 255), QPoint(187, 126));
}

void TestExtremePositions::absurdSlideSizeGivesDefaults()
{
    Calibration c;
    load(c, "100\n200\n2900\n250\n50\n1900\n2850\n1950\n1e38\n3e38\n");
    QCOMPARE(c.slideWidthMm, 75.67f);
    QCOMPARE(c.slideHeightMm, 50.325f);
    QVERIFY(qAbs(c.scaleX - 2800.446) < 0.001);
    const CoordinateTriple back = c.pixelToStage(QPoint(-5000, 7000));
    QVERIFY(std::isfinite(back.x) && std::isfinite(back.y));

    // A slide up to a metre is still taken as sent.
    load(c, "100\n200\n2900\n250\n50\n1900\n2850\n1950\n1000\n40\n");
    QCOMPARE(c.slideWidthMm, 1000.0f);
    QCOMPARE(c.slideHeightMm, 40.0f);

    // Slide marks far off the slide are drawn at the picture's edge.
    const QByteArray marks("far 1e38 -1e38\nnan nan inf\n");
    for (const CoordinateTriple& mark : SlideMarks::read(marks.constData(), static_cast<int>(marks.size()))) {
        const QPoint pixel = c.stageToPixel(mark, 0, 0);
        QVERIFY(QRect(0, 0, 3061, 2037).contains(pixel));
    }
}

QTEST_MAIN(TestExtremePositions)
#include "tst_extremepositions.moc"
