#include "views/LowResPreview.h"
#include "views/OverviewMap.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTest>

Q_DECLARE_METATYPE(CoordinateTriple)

namespace {

void sendMouse(QWidget* widget, QEvent::Type type, const QPoint& pos, Qt::MouseButtons buttons)
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, QPointF(pos), QPointF(widget->mapToGlobal(pos)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

CoordinateTriple at(float x, float y, float z = 0)
{
    CoordinateTriple c;
    c.x = x;
    c.y = y;
    c.z = z;
    return c;
}

int countColour(const QImage& image, QRgb colour, const QRect& area = QRect())
{
    const QRect r = area.isNull() ? image.rect() : area & image.rect();
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            n += image.pixel(x, y) == colour;
    return n;
}

class ExposedPreview : public LowResPreview
{
public:
    using LowResPreview::loadImage;
};

} // namespace

class TestLowRes : public QObject
{
    Q_OBJECT

private slots:
    void pixelToStage_data();
    void pixelToStage();
    void stageToPixel_data();
    void stageToPixel();
    void pressAndDragEmit();
    void markersOverPictureWithoutEmitting();
};

void TestLowRes::pixelToStage_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QPoint>("pixel");
    QTest::addColumn<float>("x");
    QTest::addColumn<float>("y");

    QTest::newRow("origin") << QSize(383, 255) << QPoint(0, 0) << 0.0f << 0.0f;
    QTest::newRow("centre of even widget") << QSize(200, 100) << QPoint(100, 50) << 378350.0f << 251625.0f;
    QTest::newRow("full resolution") << QSize(383, 255) << QPoint(1, 1) << float(75.67 / 383 * 10000)
                                     << float(50.325 / 255 * 10000);
}

void TestLowRes::pixelToStage()
{
    QFETCH(QSize, size);
    QFETCH(QPoint, pixel);
    QFETCH(float, x);
    QFETCH(float, y);
    const CoordinateTriple c = OverviewMap::pixelToStage(pixel, size.width(), size.height());
    QCOMPARE(c.x, x);
    QCOMPARE(c.y, y);
    QCOMPARE(c.z, 0.0f);
}

void TestLowRes::stageToPixel_data()
{
    QTest::addColumn<CoordinateTriple>("position");
    QTest::addColumn<QPoint>("pixel");

    QTest::newRow("origin") << at(0, 0) << QPoint(0, 0);
    QTest::newRow("just under a millimetre") << at(9999, 9999) << QPoint(0, 0);
    QTest::newRow("one millimetre") << at(10000, 10000) << QPoint(5, 5);
    QTest::newRow("z ignored") << at(10000, 0, 99999) << QPoint(5, 0);
    QTest::newRow("middle") << at(378350, 251625) << QPoint(187, 126);
    QTest::newRow("outside, not clamped") << at(1000000, -30000) << QPoint(506, -15);
}

void TestLowRes::stageToPixel()
{
    QFETCH(CoordinateTriple, position);
    QFETCH(QPoint, pixel);
    QCOMPARE(OverviewMap::stageToPixel(position, 383, 255), pixel);
}

void TestLowRes::pressAndDragEmit()
{
    LowResPreview preview;
    preview.resize(200, 100);
    // QSignalSpy cannot record a CoordinateTriple& argument; count instead.
    int emitted = 0;
    QObject::connect(&preview, &LowResPreview::destinationChanged, &preview, [&emitted] { ++emitted; });

    sendMouse(&preview, QEvent::MouseButtonPress, QPoint(0, 0), Qt::LeftButton);
    QCOMPARE(emitted, 1);
    QCOMPARE(preview.destinationPosition().x, 0.0f);
    QCOMPARE(preview.destinationPosition().y, 0.0f);

    sendMouse(&preview, QEvent::MouseMove, QPoint(100, 50), Qt::LeftButton);
    QCOMPARE(emitted, 2);
    QCOMPARE(preview.destinationPosition().x, 378350.0f);
    QCOMPARE(preview.destinationPosition().y, 251625.0f);
    QCOMPARE(preview.destinationPosition().z, 0.0f);

    sendMouse(&preview, QEvent::MouseButtonRelease, QPoint(100, 50), Qt::NoButton);
    QCOMPARE(emitted, 2);
}

void TestLowRes::markersOverPictureWithoutEmitting()
{
    ExposedPreview preview;
    preview.resize(383, 255);
    int emitted = 0;
    QObject::connect(&preview, &LowResPreview::destinationChanged, &preview, [&emitted] { ++emitted; });
    CoordinateTriple d = at(378350, 251625, 55);
    preview.setDestination(d);
    CoordinateTriple p = at(100000, 100000, 66);
    preview.setPhysical(p);
    QCOMPARE(emitted, 0);
    QCOMPARE(preview.destinationPosition().z, 55.0f);

    // Before any picture: the two outlines on the background.
    QImage blank = preview.grab().toImage();
    QVERIFY(countColour(blank, qRgb(255, 0, 0)) > 20);
    QVERIFY(countColour(blank, qRgb(0, 255, 0)) > 50);

    QImage slide(1530, 1018, QImage::Format_RGB32);
    slide.fill(qRgb(250, 250, 240));
    preview.loadImage(slide);
    const QImage shown = preview.grab().toImage();
    QCOMPARE(shown.pixel(300, 30), qRgb(250, 250, 240));
    // Red square with its top-left at (p.x - 7, p.y - 5), p = (50, 50).
    QCOMPARE(shown.pixel(43, 45), qRgb(255, 0, 0));
    QCOMPARE(shown.pixel(58, 55), qRgb(255, 0, 0));
    // Green circle in the 32 x 32 box around (187, 126): its left and right ends.
    QVERIFY(countColour(shown, qRgb(0, 255, 0), QRect(170, 122, 3, 9)) > 0);
    QVERIFY(countColour(shown, qRgb(0, 255, 0), QRect(201, 122, 3, 9)) > 0);
    QCOMPARE(countColour(shown, qRgb(0, 255, 0), QRect(180, 120, 14, 12)), 0);
    QVERIFY(!preview.pictureStatus().isUnavailable());
}

QTEST_MAIN(TestLowRes)
#include "tst_lowres.moc"
