#include "views/HighResPreview.h"
#include "views/LowResPreview.h"
#include "views/VideoView.h"
#include "views/VideoWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QSlider>
#include <QtTest>

namespace {

// The top half one colour, the bottom half another.
QImage twoTone(QRgb top, QRgb bottom, int width = 640, int height = 480)
{
    QImage frame(width, height, QImage::Format_RGB32);
    frame.fill(bottom);
    for (int y = 0; y < height / 2; ++y)
        std::fill_n(reinterpret_cast<QRgb*>(frame.scanLine(y)), width, top);
    return frame;
}

void mouse(QWidget* widget, QEvent::Type type, const QPoint& at)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, QPointF(at), QPointF(widget->mapToGlobal(at)),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

CoordinateTriple stage(float x, float y, float z = 0)
{
    CoordinateTriple c;
    c.x = x;
    c.y = y;
    c.z = z;
    return c;
}

int count(const QImage& image, QRgb colour, const QRect& area)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += image.pixel(x, y) == colour;
    return n;
}

class OpenHighRes : public HighResPreview
{
public:
    using HighResPreview::loadPixmap;
};

} // namespace

// The picture widgets and the video window, without a server.
class TestViews : public QObject
{
    Q_OBJECT

private slots:
    void filters_data()
    {
        QTest::addColumn<int>("contrast");
        QTest::addColumn<int>("channel");
        QTest::addColumn<int>("gain");
        QTest::addColumn<int>("filter");
        QTest::addColumn<bool>("invert");
        QTest::addColumn<uint>("top");
        QTest::addColumn<uint>("patch");
        // (200, 100, 50) over (100, 60, 25), and 50 pixels of (150, 110, 40): too few to count,
        // so expansion maps red 100..200, green 60..100, blue 25..50 to 0..255; gain 0 is off
        const auto row = [](const char* tag, int contrast, int channel, int gain, int filter, bool invert, QRgb top,
                            QRgb patch) {
            QTest::newRow(tag) << contrast << channel << gain << filter << invert << uint(top) << uint(patch);
        };
        row("nothing", 0, 0, 0, 0, false, qRgb(200, 100, 50), qRgb(150, 110, 40));
        row("contrast expansion", 2, 0, 0, 0, false, qRgb(255, 255, 255), qRgb(127, 255, 153));
        row("contrast, blue channel", 2, 3, 0, 0, false, qRgb(255, 255, 255), qRgb(153, 153, 153));
        row("contrast, gain 150", 2, 0, 150, 0, false, qRgb(255, 255, 255), qRgb(190, 255, 229));
        row("contrast, red filter", 2, 0, 0, 1, false, qRgb(255, 204, 204), qRgb(127, 204, 122));
        row("contrast, invert", 2, 0, 0, 0, true, qRgb(0, 0, 0), qRgb(128, 0, 102));
        row("contrast, red, gain, blue filter, invert", 2, 1, 150, 3, true, qRgb(51, 51, 0), qRgb(103, 103, 65));
        row("green channel", 0, 2, 0, 0, false, qRgb(100, 100, 100), qRgb(110, 110, 110));
        row("gain 200", 0, 0, 200, 0, false, qRgb(255, 200, 100), qRgb(255, 220, 80));
        row("green filter", 0, 0, 0, 2, false, qRgb(160, 100, 40), qRgb(120, 110, 32));
        row("red filter, invert", 0, 0, 0, 1, true, qRgb(55, 175, 215), qRgb(105, 167, 223));
        // channel, then gain, then filter, then inversion
        row("green, gain, blue filter, invert", 0, 2, 150, 3, true, qRgb(135, 135, 105), qRgb(123, 123, 90));
    }

    void filters()
    {
        QFETCH(int, contrast);
        QFETCH(int, channel);
        QFETCH(int, gain);
        QFETCH(int, filter);
        QFETCH(bool, invert);
        VideoView view(nullptr, QStringLiteral("imageView"));
        QImage frame = twoTone(qRgb(200, 100, 50), qRgb(100, 60, 25));
        for (int i = 0; i < 50; ++i)
            frame.setPixel(600 + i % 10, 400 + i / 10, qRgb(150, 110, 40));
        // settings before the first frame change nothing to filter
        view.changeFilter(filter);
        QVERIFY(view.displayPicture().isNull());
        view.setImage(frame);
        view.setContrast(contrast);
        view.setChannel(channel);
        view.setBrightness(gain ? gain : 180);
        view.enableBrightness(gain ? 2 : 0);
        view.setInvert(invert ? 2 : 0);
        view.changeFilter(filter);
        QFETCH(uint, top);
        QFETCH(uint, patch);
        QCOMPARE(view.displayPicture().pixel(5, 5), QRgb(top));
        QCOMPARE(view.displayPicture().pixel(605, 402), QRgb(patch));
        QCOMPARE(view.sourcePicture().pixel(5, 5), qRgb(200, 100, 50));
        // every change starts again from the frame
        view.changeFilter(filter);
        QCOMPARE(view.displayPicture().pixel(5, 5), QRgb(top));
    }

    void videoWindowControls()
    {
        VideoWindow window;
        QVERIFY(window.xCoord->text().isEmpty());
        CoordinateTriple at = stage(250, 0);
        window.setPhysical(at);
        QCOMPARE(window.xCoord->text(), QStringLiteral("0.0250"));
        // added in double: through a float the last digit turns up
        QCOMPARE(VideoWindow::readout(-24.5508f, 600000), QStringLiteral("59.9754"));
        // a new scale shows from the next press on: 100 pixels right at 0.5 um
        window.setMPP(0.5f, 0.5f);
        QCOMPARE(window.xCoord->text(), QStringLiteral("0.0250"));
        window.showFAR->setChecked(false);
        QVERIFY(!window.imageView->showsRegion());
        mouse(window.imageView, QEvent::MouseButtonPress, QPoint(420, 240));
        QCOMPARE(window.xCoord->text() + ' ' + window.yCoord->text(), QStringLiteral("0.0750 0.0000"));
        // the region stays whole inside the view
        mouse(window.imageView, QEvent::MouseMove, QPoint(0, 0));
        QCOMPARE(window.imageView->focusAreaOrigin(), QPoint(0, 0));
        QCOMPARE(window.xCoord->text(), QString::asprintf("%.4f", 0.025 + (84 - 320) * 0.5 * 0.001));

        QImage frame = twoTone(qRgb(200, 100, 50), qRgb(0, 0, 0));
        window.contrastCheck->setChecked(false);
        window.updateImage(frame);
        // a double-click goes to the point under the pointer, also near a corner,
        // at the scale the picture is drawn
        QPointF sent;
        connect(&window, &VideoWindow::centreRequested, this, [&sent](CoordinateTriple& d) { sent = {d.x, d.y}; });
        mouse(window.imageView, QEvent::MouseButtonDblClick, QPoint(5, 5));
        QCOMPARE(sent, QPointF(250 - 3150 * 0.5, -2350 * 0.5));
        const auto shown = [&window] { return window.imageView->displayPicture().pixel(5, 5); };
        // the slider alone changes nothing until gain is on
        window.brightnessSlider_2->setValue(50);
        QCOMPARE(shown(), qRgb(200, 100, 50));
        window.CheckBox3_2->setChecked(true);
        QCOMPARE(shown(), qRgb(100, 50, 25));
        window.CheckBox3_2->setChecked(false);
        emit window.filterChoices->activated(3);
        emit window.ComboBox2->activated(1);
        window.CheckBox4->setChecked(true);
        QCOMPARE(shown(), qRgb(95, 95, 55));

        QSignalSpy sizes(&window, &VideoWindow::videoFormatChanged);
        emit window.ComboBox3->activated(2);
        emit window.ComboBox3->activated(2);
        QCOMPARE(sizes, (QList<QList<QVariant>>{{3}, {3}}));
        QCOMPARE(window.imageView->size(), QSize(1024, 768));
        QCOMPARE(window.size(), QSize(662, 604));
        // the 640 x 480 frame stays stretched over 1024 x 768 until the next arrives
        mouse(window.imageView, QEvent::MouseButtonDblClick, QPoint(1019, 763));
        QCOMPARE(sent, QPointF(250 + 5070 * 0.5 * 640 / 1024, 3790 * 0.5 * 480 / 768));
    }

    void overview()
    {
        LowResPreview preview;
        preview.resize(200, 100);
        int emitted = 0;
        connect(&preview, &LowResPreview::destinationChanged, this, [&emitted] { ++emitted; });
        mouse(&preview, QEvent::MouseButtonPress, QPoint(0, 0));
        mouse(&preview, QEvent::MouseMove, QPoint(100, 50));
        mouse(&preview, QEvent::MouseButtonRelease, QPoint(100, 50));
        QCOMPARE(emitted, 2);
        QCOMPARE(preview.destinationPosition().x, 378350.0f);

        // markers are set without a signal
        CoordinateTriple destination = stage(1, 2, 55);
        preview.setDestination(destination);
        preview.setPhysical(destination);
        QCOMPARE(emitted, 2);
        QCOMPARE(preview.destinationPosition().z, 55.0f);
    }

    void preview()
    {
        OpenHighRes preview;
        preview.resize(383, 246);
        QCOMPARE(preview.stageToPixel(preview.currentLocation()), QPoint(1530, 1018));
        int emitted = 0;
        connect(&preview, &HighResPreview::locationChanged, this, [&emitted] { ++emitted; });
        // a drag moves the location twice as far as the mouse, before any picture too
        mouse(&preview, QEvent::MouseButtonPress, QPoint(100, 100));
        mouse(&preview, QEvent::MouseMove, QPoint(110, 95));
        QCOMPARE(preview.stageToPixel(preview.currentLocation()), QPoint(1550, 1008));
        mouse(&preview, QEvent::MouseButtonRelease, QPoint(110, 95));
        QCOMPARE(emitted, 1);
        CoordinateTriple origin;
        preview.setLocation(origin);
        QCOMPARE(emitted, 1);

        QPixmap white(Calibration::pictureWidth, Calibration::pictureHeight);
        white.fill(Qt::white);
        preview.loadPixmap(white);
        QTRY_VERIFY(!preview.basePicture().isNull());
        QCOMPARE(preview.viewOrigin(), QPoint(0, 0));
        // the green cross at the location, clamped to the picture
        QCOMPARE(preview.grab().toImage().pixel(186, 123), qRgb(0, 255, 0));
        // (10, 10) mm is pixel (404, 404): a 2 x 2 grid of blue dots at 1 / mm
        preview.setCorner1(stage(10, 10));
        preview.setCorner2(stage(12, 12));
        const QImage picture = preview.picture().toImage();
        for (const QPoint& dot : {QPoint(404, 404), QPoint(444, 404), QPoint(404, 444), QPoint(444, 444)})
            QVERIFY(count(picture, qRgb(0, 0, 255), QRect(dot, QSize(4, 4))) > 0);
        QCOMPARE(count(picture, qRgb(0, 0, 255), QRect(484, 404, 4, 4)), 0);
        // corners on one pixel draw nothing
        preview.setCorner2(stage(10.001f, 10.001f));
        QCOMPARE(preview.picture().cacheKey(), preview.basePicture().cacheKey());
    }
};

QTEST_MAIN(TestViews)
#include "tst_views.moc"
