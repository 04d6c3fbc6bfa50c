#include "tests/support/ReferenceFilters.h"
#include "views/ChannelStatistics.h"
#include "views/FilterPipeline.h"

#include <QTest>

#include <cstring>

Q_DECLARE_METATYPE(FilterPipeline::Settings)

namespace {

// Byte-for-byte equality of two pictures of the same size and format.
bool sameBytes(const QImage& a, const QImage& b, QString* where = nullptr)
{
    if (a.size() != b.size() || a.format() != b.format())
        return false;
    for (int y = 0; y < a.height(); ++y) {
        const auto* la = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const auto* lb = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x)
            if (la[x] != lb[x]) {
                if (where)
                    *where = QString::asprintf("(%d, %d): %08x, expected %08x", x, y, la[x], lb[x]);
                return false;
            }
    }
    return true;
}

// A picture with the given number of pixels at given (r, g, b) levels; the rest black.
QImage pictureOf(const QVector<QPair<QRgb, int>>& runs, int width = 100)
{
    int total = 0;
    for (const auto& run : runs)
        total += run.second;
    QImage picture(width, (total + width - 1) / width + 1, QImage::Format_RGB32);
    picture.fill(qRgb(0, 0, 0));
    int i = 0;
    for (const auto& run : runs)
        for (int n = 0; n < run.second; ++n, ++i)
            picture.setPixel(i % width, i / width, run.first);
    return picture;
}

} // namespace

class TestFilters : public QObject
{
    Q_OBJECT

private slots:
    void tablesMatchLiteralPasses_data();
    void tablesMatchLiteralPasses();
    void repeatedApplicationMatchesReference_data();
    void repeatedApplicationMatchesReference();
    void passesStayInsideFrameAndPicture();
    void statisticsQualifyingLevels();
    void statisticsMatchReference();
    void contrastStretchesTheQualifyingRange();
    void flatChannelIsLeftAlone();
};

void TestFilters::tablesMatchLiteralPasses_data()
{
    QTest::addColumn<int>("frameKind");
    QTest::addColumn<FilterPipeline::Settings>("settings");

    const int gains[] = {0, 20, 100, 200};
    for (int kind = 0; kind < 2; ++kind)
        for (int contrast : {0, 2})
            for (int channel = 0; channel < 4; ++channel)
                for (int gain : gains)
                    for (int filter = 0; filter < 4; ++filter)
                        for (bool invert : {false, true}) {
                            FilterPipeline::Settings s;
                            s.contrast = contrast;
                            s.channel = channel;
                            s.brightnessOn = gain != 0;
                            s.brightness = gain ? float(gain) : 100.0f;
                            s.colourFilter = filter;
                            s.invert = invert;
                            const QByteArray name = QStringLiteral("%1 contrast%2 channel%3 gain%4 filter%5 invert%6")
                                                        .arg(kind ? "sim" : "random")
                                                        .arg(contrast)
                                                        .arg(channel)
                                                        .arg(gain)
                                                        .arg(filter)
                                                        .arg(int(invert))
                                                        .toLatin1();
                            QTest::newRow(name.constData()) << kind << s;
                        }
}

void TestFilters::tablesMatchLiteralPasses()
{
    QFETCH(int, frameKind);
    QFETCH(FilterPipeline::Settings, settings);

    static const QImage randomFrame = reference::randomFrame(160, 120, 7);
    static const QImage simFrame = reference::simulatorLikeFrame(160, 120, 11);
    const QImage& frame = frameKind ? simFrame : randomFrame;
    settings.statistics = reference::statistics(frame);

    QImage expected = frame.copy();
    reference::filter(expected, settings, 640, 480);
    QImage fused = frame.copy();
    FilterPipeline(settings).apply(fused, 640, 480);
    QString where;
    QVERIFY2(sameBytes(fused, expected, &where), qPrintable(where));
}

void TestFilters::repeatedApplicationMatchesReference_data()
{
    QTest::addColumn<FilterPipeline::Settings>("settings");
    FilterPipeline::Settings redFilter;
    redFilter.contrast = 0;
    redFilter.colourFilter = 1;
    QTest::newRow("red filter only") << redFilter;
    FilterPipeline::Settings all;
    all.channel = 2;
    all.brightnessOn = true;
    all.brightness = 140.0f;
    all.colourFilter = 3;
    all.invert = true;
    QTest::newRow("everything on") << all;
}

void TestFilters::repeatedApplicationMatchesReference()
{
    QFETCH(FilterPipeline::Settings, settings);
    const QImage frame = reference::simulatorLikeFrame(200, 150, 3);
    settings.statistics = reference::statistics(frame);
    QImage expected = frame.copy();
    QImage fused = frame.copy();
    const FilterPipeline pipeline(settings);
    for (int round = 1; round <= 3; ++round) {
        reference::filter(expected, settings, 640, 480);
        pipeline.apply(fused, 640, 480);
        QString where;
        QVERIFY2(sameBytes(fused, expected, &where), qPrintable(QStringLiteral("round %1 %2").arg(round).arg(where)));
    }
    if (settings.colourFilter == 1) {
        // Three rounds of the red filter: green 200 -> 160 -> 128 -> 102.
        QImage one(1, 1, QImage::Format_RGB32);
        one.setPixel(0, 0, qRgb(200, 200, 50));
        for (int round = 0; round < 3; ++round)
            pipeline.apply(one, 640, 480);
        QCOMPARE(one.pixel(0, 0), qRgb(200, 102, 25));
    }
}

void TestFilters::passesStayInsideFrameAndPicture()
{
    FilterPipeline::Settings s;
    s.contrast = 0;
    s.invert = true;
    const FilterPipeline pipeline(s);

    // A picture smaller than the frame size: every pixel it has, nothing beyond.
    QImage small = reference::randomFrame(100, 50, 5);
    QImage expected = small.copy();
    reference::filter(expected, s, 1280, 960);
    pipeline.apply(small, 1280, 960);
    QVERIFY(sameBytes(small, expected));

    // A picture larger than the frame size keeps the pixels outside it.
    const QImage large = reference::randomFrame(700, 500, 6);
    QImage filtered = large.copy();
    pipeline.apply(filtered, 640, 480);
    const QRgb corner = large.pixel(639, 479);
    QCOMPARE(filtered.pixel(639, 479), qRgb(255 - qRed(corner), 255 - qGreen(corner), 255 - qBlue(corner)));
    QCOMPARE(filtered.pixel(640, 10), large.pixel(640, 10));
    QCOMPARE(filtered.pixel(10, 480), large.pixel(10, 480));
    QCOMPARE(filtered.copy(640, 0, 60, 500), large.copy(640, 0, 60, 500));
    QCOMPARE(filtered.copy(0, 480, 700, 20), large.copy(0, 480, 700, 20));

    // A grey picture is turned into 32-bit RGB first.
    QImage grey(4, 2, QImage::Format_Grayscale8);
    grey.fill(30);
    pipeline.apply(grey, 640, 480);
    QCOMPARE(grey.format(), QImage::Format_RGB32);
    QCOMPARE(grey.pixel(3, 1), qRgb(225, 225, 225));

    // Nothing on: the picture is not touched at all, alpha included.
    FilterPipeline::Settings none;
    none.contrast = 0;
    QVERIFY(FilterPipeline(none).isIdentity());
    QImage translucent(2, 2, QImage::Format_ARGB32);
    translucent.fill(qRgba(10, 20, 30, 40));
    FilterPipeline(none).apply(translucent, 640, 480);
    QCOMPARE(translucent.pixel(1, 1), qRgba(10, 20, 30, 40));
}

void TestFilters::statisticsQualifyingLevels()
{
    ChannelStatistics s;
    // Green: levels 0, 40 and 200 qualify; 10 and 250 have only 50 pixels each.
    s.compute(pictureOf({{qRgb(0, 0, 0), 60},
                         {qRgb(0, 40, 0), 51},
                         {qRgb(0, 200, 0), 80},
                         {qRgb(0, 10, 0), 50},
                         {qRgb(0, 250, 0), 50}}));
    QCOMPARE(s.minimum[1], 40);
    QCOMPARE(s.maximum[1], 200);
    QCOMPARE(s.range[1], 160);
    // Red only ever black: nothing from 1 up qualifies.
    QCOMPARE(s.minimum[0], 0);
    QCOMPARE(s.maximum[0], 0);
    QCOMPARE(s.range[0], 0);

    // Too few pixels for any level at all.
    s.compute(pictureOf({{qRgb(9, 9, 9), 10}}, 5));
    QCOMPARE(s.maximum[2], 0);
    QCOMPARE(s.range[2], 0);

    // A grey 8-bit picture counts like its 32-bit conversion.
    QImage grey = reference::simulatorLikeFrame(320, 240, 2).convertToFormat(QImage::Format_Grayscale8);
    s.compute(grey);
    const ChannelStatistics expected = reference::statistics(grey.convertToFormat(QImage::Format_RGB32));
    for (int c = 0; c < 3; ++c) {
        QCOMPARE(s.minimum[c], expected.minimum[c]);
        QCOMPARE(s.maximum[c], expected.maximum[c]);
    }
    QVERIFY(s.range[0] > 0);
}

void TestFilters::statisticsMatchReference()
{
    // Odd widths exercise the pixels after the last group of four.
    const QImage frames[] = {reference::randomFrame(643, 37, 9), reference::simulatorLikeFrame(641, 481, 4),
                             reference::simulatorLikeFrame(3, 200, 8)};
    for (const QImage& frame : frames) {
        ChannelStatistics s;
        s.compute(frame);
        const ChannelStatistics expected = reference::statistics(frame);
        for (int c = 0; c < 3; ++c) {
            QCOMPARE(s.minimum[c], expected.minimum[c]);
            QCOMPARE(s.maximum[c], expected.maximum[c]);
            QCOMPARE(s.range[c], expected.range[c]);
        }
    }
}

void TestFilters::contrastStretchesTheQualifyingRange()
{
    FilterPipeline::Settings s;
    s.statistics.compute(pictureOf({{qRgb(20, 0, 0), 60},
                                    {qRgb(120, 0, 0), 60},
                                    {qRgb(220, 0, 0), 60},
                                    {qRgb(10, 0, 0), 50},
                                    {qRgb(240, 0, 0), 50}}));
    QCOMPARE(s.statistics.minimum[0], 20);
    QCOMPARE(s.statistics.maximum[0], 220);
    const FilterPipeline pipeline(s);
    QCOMPARE(pipeline.level(0, 20), 0);
    QCOMPARE(pipeline.level(0, 220), 255);
    QCOMPARE(pipeline.level(0, 120), 127);
    QCOMPARE(pipeline.level(0, 10), 0);
    QCOMPARE(pipeline.level(0, 240), 255);
}

void TestFilters::flatChannelIsLeftAlone()
{
    // Blue has a single qualifying level, so its range is 0; red still stretches.
    FilterPipeline::Settings s;
    s.statistics.compute(pictureOf({{qRgb(50, 0, 90), 60}, {qRgb(150, 0, 90), 60}}));
    QCOMPARE(s.statistics.range[2], 0);
    QCOMPARE(s.statistics.range[1], 0);
    const FilterPipeline pipeline(s);
    for (int v = 0; v < 256; ++v) {
        QCOMPARE(pipeline.level(2, v), v);
        QCOMPARE(pipeline.level(1, v), v);
    }
    QCOMPARE(pipeline.level(0, 100), 127);

    // Shown as a grey channel, the flat channel still passes through unchanged.
    s.channel = 3;
    QImage one(1, 1, QImage::Format_RGB32);
    one.setPixel(0, 0, qRgb(150, 7, 90));
    FilterPipeline(s).apply(one, 640, 480);
    QCOMPARE(one.pixel(0, 0), qRgb(90, 90, 90));
}

QTEST_MAIN(TestFilters)
#include "tst_filters.moc"
