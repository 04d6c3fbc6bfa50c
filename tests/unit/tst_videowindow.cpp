#include "views/VideoView.h"
#include "views/VideoWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>

class TestVideoWindow : public QObject
{
    Q_OBJECT

private slots:
    void readout_data();
    void readout();
    void initialState();
    void readoutsFollowStageAndOffset();
    void pictureSizeEmitsEveryActivation();
    void controlsDriveTheView();
};

void TestVideoWindow::readout_data()
{
    QTest::addColumn<float>("offset");
    QTest::addColumn<float>("stage");
    QTest::addColumn<QString>("text");

    QTest::newRow("stage alone") << 0.0f << 250.0f << "0.0250";
    QTest::newRow("offset alone") << 50.0f << 0.0f << "0.0500";
    QTest::newRow("both") << -12.5f << 378350.0f << "37.8225";
    QTest::newRow("negative") << -100.0f << 0.0f << "-0.1000";
}

void TestVideoWindow::readout()
{
    QFETCH(float, offset);
    QFETCH(float, stage);
    QFETCH(QString, text);
    QCOMPARE(VideoWindow::readout(offset, stage), text);
}

void TestVideoWindow::initialState()
{
    VideoWindow window;
    QCOMPARE(window.objectName(), QStringLiteral("VideoWindow"));
    QCOMPARE(window.windowTitle(), QStringLiteral("Tessan: Video"));
    QCOMPARE(window.size(), QSize(662, 604));
    QCOMPARE(VideoWindow(nullptr, "other").objectName(), QStringLiteral("other"));

    QVERIFY(!window.CheckBox4->isChecked());
    QVERIFY(!window.CheckBox3_2->isChecked());
    QVERIFY(window.contrastCheck->isChecked());
    QVERIFY(window.showFAR->isChecked());
    QCOMPARE(window.brightnessSlider_2->minimum(), 20);
    QCOMPARE(window.brightnessSlider_2->maximum(), 200);
    QCOMPARE(window.brightnessSlider_2->value(), 100);
    QCOMPARE(window.ComboBox2->currentText(), QStringLiteral("Normal"));
    QCOMPARE(window.filterChoices->itemText(3), QStringLiteral("Blue Filter"));
    QCOMPARE(window.ComboBox3->count(), 4);
    QCOMPARE(window.ComboBox3->itemText(3), QStringLiteral("1280x960"));
    QCOMPARE(window.ComboBox3->geometry(), QRect(10, 70, 93, 22));
    QCOMPARE(window.PushButton14->text(), QStringLiteral("Save Image"));
    QCOMPARE(window.imageView->geometry(), QRect(10, 100, 640, 480));
    QVERIFY(!window.imageView->hasMouseTracking());
    QVERIFY(window.xCoord->text().isEmpty());
    QVERIFY(window.yCoord->text().isEmpty());
    QCOMPARE(window.findChild<QCheckBox*>(QStringLiteral("showFAR")), window.showFAR);
    QCOMPARE(window.xCoord->font().family(), QStringLiteral("Helvetica [Urw]"));
}

void TestVideoWindow::readoutsFollowStageAndOffset()
{
    VideoWindow window;
    CoordinateTriple stage;
    stage.x = 250.0f;
    stage.y = 10000.0f;
    stage.z = 777.0f;
    window.setPhysical(stage);
    QCOMPARE(window.xCoord->text(), QStringLiteral("0.0250"));
    QCOMPARE(window.yCoord->text(), QStringLiteral("1.0000"));

    // 100 pixels right of the centre at 0.5 um per pixel.
    emit window.imageView->offsetChanged(50.0f, -25.0f);
    QCOMPARE(window.xCoord->text(), QStringLiteral("0.0750"));
    QCOMPARE(window.yCoord->text(), QStringLiteral("0.9750"));

    // A new scale alone leaves the read-outs as they are.
    window.setMPP(2.0f, 2.0f);
    QCOMPARE(window.xCoord->text(), QStringLiteral("0.0750"));
}

void TestVideoWindow::pictureSizeEmitsEveryActivation()
{
    VideoWindow window;
    QSignalSpy spy(&window, &VideoWindow::videoFormatChanged);
    emit window.ComboBox3->activated(2);
    emit window.ComboBox3->activated(2);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(0).at(0).toInt(), 3);
    QCOMPARE(window.imageView->size(), QSize(1024, 768));
    // The window keeps its size; the view reaches past it.
    QCOMPARE(window.size(), QSize(662, 604));
    emit window.ComboBox3->activated(0);
    QCOMPARE(spy.last().at(0).toInt(), 1);
}

void TestVideoWindow::controlsDriveTheView()
{
    VideoWindow window;
    VideoView* view = window.imageView;
    QImage frame(640, 480, QImage::Format_RGB32);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x)
            frame.setPixel(x, y, qRgb(60 + x * 150 / 640, 40 + y * 150 / 480, 100));
    window.updateImage(frame);
    const QRgb plain = view->displayPicture().pixel(320, 240);

    // The slider alone changes nothing while gain is off; checking it applies the value.
    window.brightnessSlider_2->setValue(50);
    QCOMPARE(view->displayPicture().pixel(320, 240), plain);
    window.CheckBox3_2->setChecked(true);
    const QRgb halved = view->displayPicture().pixel(320, 240);
    QCOMPARE(qRed(halved), int(qRed(plain) * 0.5f));
    window.CheckBox3_2->setChecked(false);

    emit window.filterChoices->activated(3);
    QCOMPARE(view->displayPicture().pixel(320, 240),
             qRgb(int(qRed(plain) * 0.8), int(qGreen(plain) * 0.8), qBlue(plain)));
    emit window.ComboBox2->activated(1);
    QCOMPARE(qGreen(view->displayPicture().pixel(320, 240)), int(qRed(plain) * 0.8));
    window.CheckBox4->setChecked(true);
    // The blue filter keeps blue, which now carries red.
    QCOMPARE(qBlue(view->displayPicture().pixel(320, 240)), 255 - qRed(plain));

    // Overlay hidden: the region still moves, and the read-outs follow it.
    window.showFAR->setChecked(false);
    QVERIFY(!view->showsRegion());
    CoordinateTriple stage;
    stage.x = 250.0f;
    window.setPhysical(stage);
    window.setMPP(0.5f, 0.5f);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(420, 240), QPointF(view->mapToGlobal(QPoint(420, 240))),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view, &press);
    QCOMPARE(view->regionCentre(), QPoint(420, 240));
    QCOMPARE(window.xCoord->text(), QStringLiteral("0.0750"));
    QCOMPARE(window.yCoord->text(), QStringLiteral("0.0000"));
}

QTEST_MAIN(TestVideoWindow)
#include "tst_videowindow.moc"
