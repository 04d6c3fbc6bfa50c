#include "views/HighResPreview.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QTest>

namespace {

class ExposedPreview : public HighResPreview
{
public:
    ExposedPreview()
        : HighResPreview(nullptr, "highRes")
    {
        resize(383, 246);
    }
    using HighResPreview::loadPixmap;

    // A plain slide picture, with the marks request (no host) failing at once.
    void loadPlainPicture()
    {
        QPixmap slide(Calibration::pictureWidth, Calibration::pictureHeight);
        slide.fill(Qt::white);
        loadPixmap(slide);
    }
};

void sendMouse(QWidget* widget, QEvent::Type type, const QPoint& pos)
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, QPointF(pos), QPointF(widget->mapToGlobal(pos)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

CoordinateTriple mm(float x, float y)
{
    CoordinateTriple c;
    c.x = x;
    c.y = y;
    return c;
}

bool hasBlue(const QImage& image, const QRect& area)
{
    const QRect r = area & image.rect();
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (image.pixel(x, y) == qRgb(0, 0, 255))
                return true;
    return false;
}

} // namespace

class TestHighRes : public QObject
{
    Q_OBJECT

private slots:
    void calibrationFromFiducials();
    void startsAtPictureCentre();
    void originShowsTopLeftWindow();
    void dragMovesTwiceTheMouse();
    void dragBeforePicture();
    void gridOfTwoByTwo();
    void degenerateCornersTerminate();
    void cornerLabelsBeforeBothCorners();
    void sameCornerPixelRestoresBase();
};

void TestHighRes::calibrationFromFiducials()
{
    Calibration calibration;
    CoordinateTriple stage = mm(378350, 251625);
    QCOMPARE(calibration.stageToPixel(stage, 383, 246), QPoint(1530, 1018));
    QCOMPARE(calibration.stageToPixel(CoordinateTriple(), 383, 246), QPoint(191, 123));

    const QByteArray file("100\n200\n2900\n250\n50\n1900\n2850\n1950\n75.67\n50.325\n");
    calibration.load(file.constData(), static_cast<int>(file.size()));
    QVERIFY(qAbs(calibration.scaleX - 2800.446) < 0.001);
    QVERIFY(qAbs(calibration.scaleY - 1700.735) < 0.001);
    QVERIFY(qAbs(calibration.angle - 0.023629) < 0.000001);
    QCOMPARE(calibration.stageToPixel(CoordinateTriple(), 383, 246), QPoint(191, 200));
    stage = mm(100000, 100000);
    QCOMPARE(calibration.stageToPixel(stage, 383, 246), QPoint(461, 546));
    const CoordinateTriple back = calibration.pixelToStage(QPoint(1000, 1000));
    QVERIFY(qAbs(back.x - 248225.7f) < 1.0f);
    QVERIFY(qAbs(back.y - 230362.9f) < 1.0f);

    // A failed request keeps the sizes read before, with the fallback scales.
    const QByteArray octal("0100\n200\n2900\n250\n50\n1900\n2850\n1950\n70\n50\n");
    calibration.load(octal.constData(), static_cast<int>(octal.size()));
    QCOMPARE(calibration.fiducialPoints[0].x(), 64);
    calibration.setFailed();
    QCOMPARE(calibration.slideWidthMm, 70.0f);
    QCOMPARE(calibration.scaleX, 3060.0);
}

void TestHighRes::startsAtPictureCentre()
{
    ExposedPreview preview;
    QCOMPARE(preview.objectName(), QStringLiteral("highRes"));
    QCOMPARE(preview.currentLocation().x, 378350.0f);
    QCOMPARE(preview.currentLocation().y, 251625.0f);
    QCOMPARE(preview.stageToPixel(preview.currentLocation()), QPoint(1530, 1018));
    QVERIFY(!preview.corner1Set);
    QVERIFY(!preview.corner2Set);
    QCOMPARE(preview.density(), 1);
}

void TestHighRes::originShowsTopLeftWindow()
{
    ExposedPreview preview;
    QPixmap slide(Calibration::pictureWidth, Calibration::pictureHeight);
    slide.fill(Qt::white);
    {
        QPainter painter(&slide);
        painter.fillRect(0, 0, 10, 10, Qt::red);
    }
    preview.loadPixmap(slide);
    CoordinateTriple origin;
    preview.setLocation(origin);
    QCOMPARE(preview.viewOrigin(), QPoint(0, 0));
    QCOMPARE(preview.stageToPixel(origin), QPoint(191, 123));
    const QImage shown = preview.grab().toImage();
    QCOMPARE(shown.pixel(5, 5), qRgb(255, 0, 0));
    QCOMPARE(shown.pixel(20, 20), qRgb(255, 255, 255));
    QCOMPARE(shown.pixel(191 - 5, 123), qRgb(0, 255, 0));
}

void TestHighRes::dragMovesTwiceTheMouse()
{
    ExposedPreview preview;
    // QSignalSpy cannot record a CoordinateTriple& argument; count instead.
    int emitted = 0;
    QObject::connect(&preview, &HighResPreview::locationChanged, &preview, [&emitted] { ++emitted; });
    const QPoint before = preview.stageToPixel(preview.currentLocation());

    sendMouse(&preview, QEvent::MouseButtonPress, QPoint(100, 100));
    QCOMPARE(emitted, 0);
    sendMouse(&preview, QEvent::MouseMove, QPoint(110, 100));
    QCOMPARE(emitted, 1);
    QCOMPARE(preview.stageToPixel(preview.currentLocation()), before + QPoint(20, 0));
    sendMouse(&preview, QEvent::MouseMove, QPoint(110, 95));
    QCOMPARE(preview.stageToPixel(preview.currentLocation()), before + QPoint(20, -10));
    QCOMPARE(preview.currentLocation().z, 0.0f);
    sendMouse(&preview, QEvent::MouseButtonRelease, QPoint(110, 95));
    QCOMPARE(emitted, 2);
}

void TestHighRes::dragBeforePicture()
{
    ExposedPreview preview;
    int emitted = 0;
    QObject::connect(&preview, &HighResPreview::locationChanged, &preview, [&emitted] { ++emitted; });
    sendMouse(&preview, QEvent::MouseButtonPress, QPoint(50, 50));
    sendMouse(&preview, QEvent::MouseMove, QPoint(40, 60));
    QCOMPARE(emitted, 1);
    QVERIFY(preview.picture().isNull());
    CoordinateTriple somewhere = mm(100000, 100000);
    preview.setLocation(somewhere);
    QCOMPARE(emitted, 1);
    const QImage shown = preview.grab().toImage();
    QCOMPARE(shown.pixel(191 - 5, 123), qRgb(0, 255, 0));
}

void TestHighRes::gridOfTwoByTwo()
{
    ExposedPreview preview;
    preview.loadPlainPicture();
    QTRY_VERIFY_WITH_TIMEOUT(!preview.basePicture().isNull(), 5000);
    preview.setLinearDensity(1);
    preview.setCorner1(mm(10, 10));
    preview.setCorner2(mm(12, 12));
    QVERIFY(preview.corner1Set && preview.corner2Set);

    // (10, 10) mm is pixel (404, 404) and (12, 12) mm is (485, 485).
    const QImage picture = preview.picture().toImage();
    QVERIFY(hasBlue(picture, QRect(404, 404, 4, 4)));
    QVERIFY(hasBlue(picture, QRect(444, 404, 4, 4)));
    QVERIFY(hasBlue(picture, QRect(404, 444, 4, 4)));
    QVERIFY(hasBlue(picture, QRect(444, 444, 4, 4)));
    QVERIFY(!hasBlue(picture, QRect(484, 404, 4, 4)));
    QVERIFY(!hasBlue(picture, QRect(404, 470, 4, 12)));
    QCOMPARE(picture.pixel(460, 404), qRgb(0, 0, 0));
}

void TestHighRes::degenerateCornersTerminate()
{
    ExposedPreview preview;
    preview.loadPlainPicture();
    QTRY_VERIFY_WITH_TIMEOUT(!preview.basePicture().isNull(), 5000);
    // Same stage x, reversed y, density zero and a thousand dots per millimetre:
    // each returns with a finite drawing.
    preview.setCorner1(mm(10, 12));
    preview.setCorner2(mm(10, 10));
    preview.setLinearDensity(0);
    preview.setCorner2(mm(20, 20));
    preview.setLinearDensity(1000);
    preview.setCorner1(mm(0, 0));
    preview.setCorner2(mm(75.67f, 50.325f));
    // The last one is capped: columns fill from the left until the cap is reached.
    const QImage capped = preview.picture().toImage();
    QVERIFY(hasBlue(capped, QRect(300, 1000, 2, 2)));
    QVERIFY(!hasBlue(capped, QRect(1000, 1000, 4, 4)));
}

void TestHighRes::cornerLabelsBeforeBothCorners()
{
    ExposedPreview preview;
    preview.loadPlainPicture();
    QTRY_VERIFY_WITH_TIMEOUT(!preview.basePicture().isNull(), 5000);
    preview.setCorner1(mm(20, 20));
    preview.setCorner1(mm(30, 30));
    QVERIFY(!preview.corner2Set);
    const QImage twoLabels = preview.picture().toImage();
    // "TL" is drawn above and right of its baseline start.
    QVERIFY(hasBlue(twoLabels, QRect(808, 795, 20, 15)));
    QVERIFY(hasBlue(twoLabels, QRect(1213, 1200, 20, 15)));

    preview.setCorner2(mm(40, 40));
    const QImage selection = preview.picture().toImage();
    QVERIFY(!hasBlue(selection, QRect(808, 795, 20, 15)));
    QVERIFY(hasBlue(selection, QRect(1213, 1200, 20, 15)));
}

void TestHighRes::sameCornerPixelRestoresBase()
{
    ExposedPreview preview;
    preview.loadPlainPicture();
    QTRY_VERIFY_WITH_TIMEOUT(!preview.basePicture().isNull(), 5000);
    preview.setCorner1(mm(20, 20));
    preview.setCorner2(mm(20.001f, 20.001f));
    QCOMPARE(preview.picture().cacheKey(), preview.basePicture().cacheKey());
}

QTEST_MAIN(TestHighRes)
#include "tst_highres.moc"
