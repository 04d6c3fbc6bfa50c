#include "views/VideoView.h"

#include <QApplication>
#include <QFileDialog>
#include <QImageReader>
#include <QMessageBox>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

// A 640 x 480 frame: the top half one colour, the bottom half another.
QImage twoTone(QRgb top, QRgb bottom, int width = 640, int height = 480)
{
    QImage frame(width, height, QImage::Format_RGB32);
    frame.fill(bottom);
    for (int y = 0; y < height / 2; ++y)
        for (int x = 0; x < width; ++x)
            frame.setPixel(x, y, top);
    return frame;
}

QRgb topOf(const VideoView& view)
{
    return view.displayPicture().pixel(5, 5);
}

QRgb bottomOf(const VideoView& view)
{
    return view.displayPicture().pixel(5, view.displayPicture().height() - 5);
}

void mouse(VideoView& view, QEvent::Type type, const QPoint& at)
{
    QMouseEvent event(type, QPointF(at), QPointF(view.mapToGlobal(at)), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&view, &event);
}

class PaintCounter : public QObject
{
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// Answers the save dialog with a file name and closes the warning that may follow.
class SaveAnswerer : public QObject
{
public:
    SaveAnswerer(VideoView* v, const QString& name)
        : view(v)
        , fileName(name)
    {
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, this, [this] { poll(); });
        timer.start();
    }

    QString warning;
    bool dialogSeen = false;

private:
    void poll()
    {
        // After about ten seconds give up and cancel, so the test fails instead of hanging.
        const bool giveUp = ++polls > 1000;
        auto* dialog = view->findChild<QFileDialog*>(QStringLiteral("file dialog"));
        if (dialog && dialog->isVisible() && giveUp) {
            dialogSeen = false;
            dialog->reject();
            return;
        }
        if (dialog && dialog->isVisible()) {
            dialogSeen = dialog->fileMode() == QFileDialog::AnyFile && dialog->isModal();
            // The dialog leaves a focused name field alone when a file is selected.
            if (QWidget* focused = dialog->focusWidget())
                focused->clearFocus();
            dialog->selectFile(fileName);
            static_cast<QDialog*>(dialog)->accept();
            return;
        }
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                warning = box->text();
                box->done(QMessageBox::Ok);
            }
    }

    VideoView* view;
    QString fileName;
    QTimer timer;
    int polls = 0;
};

} // namespace

class TestVideoView : public QObject
{
    Q_OBJECT

private slots:
    void beforeAnyFrameNothingFilters();
    void filtersOnAFrame();
    void contrastFollowsFrameStatistics();
    void otherDepthsAndSizes();
    void regionFollowsPressAndDrag();
    void regionIsDrawnInRed();
    void pictureSizeSuspendsFiltering();
    void filterOnScreenRepeatsWithoutRedraw();
    void saveWritesDisplayPicture();
    void failedSaveIsReported();
};

void TestVideoView::beforeAnyFrameNothingFilters()
{
    VideoView view(nullptr, QStringLiteral("imageView"));
    QCOMPARE(view.objectName(), QStringLiteral("imageView"));
    QCOMPARE(view.size(), QSize(640, 480));
    QCOMPARE(view.regionCentre(), QPoint(100, 100));
    QCOMPARE(view.focusAreaOrigin(), QPoint(16, 30));
    view.setChannel(2);
    view.changeFilter(1);
    view.setInvert(2);
    view.enableBrightness(2);
    view.filterOnScreen();
    QVERIFY(!view.haveFrame());
    QVERIFY(view.displayPicture().isNull());
    QVERIFY(!view.grab().isNull());
}

void TestVideoView::filtersOnAFrame()
{
    VideoView view(nullptr, QStringLiteral("imageView"));
    view.setContrast(0);
    QImage frame = twoTone(qRgb(200, 100, 50), qRgb(0, 0, 0));
    view.setImage(frame);
    QVERIFY(view.haveFrame());
    QCOMPARE(view.displayPicture().format(), QImage::Format_RGB32);
    QCOMPARE(topOf(view), qRgb(200, 100, 50));

    view.setChannel(2);
    QCOMPARE(topOf(view), qRgb(100, 100, 100));
    view.setChannel(3);
    QCOMPARE(topOf(view), qRgb(50, 50, 50));
    view.setChannel(0);

    // The slider alone does nothing until gain is switched on.
    view.setBrightness(200);
    QCOMPARE(topOf(view), qRgb(200, 100, 50));
    view.enableBrightness(2);
    QCOMPARE(topOf(view), qRgb(255, 200, 100));
    QCOMPARE(bottomOf(view), qRgb(0, 0, 0));
    view.enableBrightness(0);

    view.changeFilter(1);
    QCOMPARE(topOf(view), qRgb(200, 80, 40));
    // Every change starts again from the frame: no accumulation.
    view.changeFilter(1);
    QCOMPARE(topOf(view), qRgb(200, 80, 40));
    view.setInvert(2);
    QCOMPARE(topOf(view), qRgb(55, 175, 215));
    QCOMPARE(bottomOf(view), qRgb(255, 255, 255));
    view.changeFilter(0);
    QCOMPARE(topOf(view), qRgb(55, 155, 205));
    QCOMPARE(view.sourcePicture().pixel(5, 5), qRgb(200, 100, 50));
}

void TestVideoView::contrastFollowsFrameStatistics()
{
    VideoView view(nullptr, QStringLiteral("imageView"));
    // Red runs from 20 (top) to 220 (bottom); green and blue are flat.
    QImage frame = twoTone(qRgb(20, 60, 70), qRgb(220, 60, 70));
    frame.setPixel(0, 0, qRgb(120, 60, 70));
    frame.setPixel(1, 0, qRgb(10, 60, 70));
    view.setImage(frame);
    QCOMPARE(view.statistics().minimum[0], 20);
    QCOMPARE(view.statistics().maximum[0], 220);
    QCOMPARE(view.statistics().range[1], 0);
    QCOMPARE(view.displayPicture().pixel(0, 0), qRgb(127, 60, 70));
    QCOMPARE(view.displayPicture().pixel(1, 0), qRgb(0, 60, 70));
    QCOMPARE(topOf(view), qRgb(0, 60, 70));
    QCOMPARE(bottomOf(view), qRgb(255, 60, 70));
    view.setContrast(0);
    QCOMPARE(bottomOf(view), qRgb(220, 60, 70));
}

void TestVideoView::otherDepthsAndSizes()
{
    VideoView view(nullptr, QStringLiteral("imageView"));
    view.setContrast(0);
    view.changeFilter(1);

    // An 8-bit grey frame is filtered as 32-bit RGB.
    QImage grey(640, 480, QImage::Format_Grayscale8);
    grey.fill(120);
    view.setImage(grey);
    QCOMPARE(view.sourcePicture().format(), QImage::Format_RGB32);
    QCOMPARE(view.statistics().minimum[1], 120);
    QCOMPARE(topOf(view), qRgb(120, 96, 96));

    QImage indexed(640, 480, QImage::Format_Indexed8);
    indexed.setColorTable({qRgb(200, 100, 50)});
    indexed.fill(0);
    view.setImage(indexed);
    QCOMPARE(bottomOf(view), qRgb(200, 80, 40));

    // Narrower than 640: shown as it came.
    QImage narrow = twoTone(qRgb(200, 100, 50), qRgb(200, 100, 50), 320, 240);
    view.setImage(narrow);
    QCOMPARE(topOf(view), qRgb(200, 100, 50));

    // A frame in flight when a larger size was chosen: only its own pixels.
    view.setVidSize(4);
    QImage small = twoTone(qRgb(200, 100, 50), qRgb(10, 10, 10), 640, 480);
    view.setImage(small);
    QCOMPARE(view.displayPicture().size(), QSize(640, 480));
    QCOMPARE(view.displayPicture().pixel(639, 0), qRgb(200, 80, 40));
    QCOMPARE(view.displayPicture().pixel(639, 479), qRgb(10, 8, 8));
}

void TestVideoView::regionFollowsPressAndDrag()
{
    VideoView view(nullptr, QStringLiteral("imageView"));
    view.setMPP(0.5f, 0.25f);
    QSignalSpy spy(&view, &VideoView::offsetChanged);

    mouse(view, QEvent::MouseButtonPress, QPoint(0, 0));
    QCOMPARE(view.regionCentre(), QPoint(84, 70));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toFloat(), (84 - 320) * 0.5f);
    QCOMPARE(spy.at(0).at(1).toFloat(), (70 - 240) * 0.25f);

    mouse(view, QEvent::MouseMove, QPoint(639, 479));
    QCOMPARE(view.regionCentre(), QPoint(556, 410));
    QCOMPARE(view.focusAreaOrigin(), QPoint(472, 340));

    // Hidden, the region still moves and reports.
    view.setShowFAR(false);
    mouse(view, QEvent::MouseMove, QPoint(320, 240));
    QCOMPARE(view.regionCentre(), QPoint(320, 240));
    QCOMPARE(spy.count(), 3);
    QCOMPARE(spy.last().at(0).toFloat(), 0.0f);
    QCOMPARE(spy.last().at(1).toFloat(), 0.0f);
}

void TestVideoView::regionIsDrawnInRed()
{
    VideoView view(nullptr, QStringLiteral("imageView"));
    QImage frame = twoTone(qRgb(0, 0, 255), qRgb(0, 0, 255));
    view.setContrast(0);
    view.setImage(frame);
    QImage shot = view.grab().toImage();
    const QPoint corner = view.focusAreaOrigin();
    QCOMPARE(shot.pixel(corner), qRgb(255, 0, 0));
    QCOMPARE(shot.pixel(corner + QPoint(84, 0)), qRgb(255, 0, 0));
    QCOMPARE(shot.pixel(corner + QPoint(84, 70)), qRgb(0, 0, 255));
    view.setShowFAR(false);
    shot = view.grab().toImage();
    QCOMPARE(shot.pixel(corner), qRgb(0, 0, 255));
}

void TestVideoView::pictureSizeSuspendsFiltering()
{
    VideoView view(nullptr, QStringLiteral("imageView"));
    view.setContrast(0);
    QImage frame = twoTone(qRgb(200, 100, 50), qRgb(0, 0, 0));
    view.setImage(frame);
    mouse(view, QEvent::MouseButtonPress, QPoint(300, 200));

    view.setVidSize(3);
    QCOMPARE(view.size(), QSize(1024, 768));
    QCOMPARE(view.minimumSize(), QSize(1024, 768));
    QCOMPARE(view.maximumSize(), QSize(1024, 768));
    QCOMPARE(view.regionCentre(), QPoint(300, 200));
    QVERIFY(!view.haveFrame());
    view.changeFilter(1);
    QCOMPARE(topOf(view), qRgb(200, 100, 50));

    QImage next = twoTone(qRgb(200, 100, 50), qRgb(0, 0, 0), 1024, 768);
    view.setImage(next);
    QCOMPARE(topOf(view), qRgb(200, 80, 40));
    QCOMPARE(view.displayPicture().pixel(1023, 0), qRgb(200, 80, 40));

    // An unknown size keeps the current one.
    view.setVidSize(7);
    QCOMPARE(view.frameSize(), QSize(1024, 768));
    view.setVidSize(1);
    QCOMPARE(view.size(), QSize(640, 480));
}

void TestVideoView::filterOnScreenRepeatsWithoutRedraw()
{
    VideoView view(nullptr, QStringLiteral("imageView"));
    view.setContrast(0);
    view.changeFilter(1);
    QImage frame = twoTone(qRgb(200, 100, 50), qRgb(0, 0, 0));
    view.setImage(frame);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    PaintCounter counter;
    view.installEventFilter(&counter);
    QCoreApplication::processEvents();
    counter.paints = 0;
    view.filterOnScreen();
    QCOMPARE(topOf(view), qRgb(200, 64, 32));
    view.filterOnScreen();
    QCOMPARE(topOf(view), qRgb(200, 51, 25));
    QCoreApplication::processEvents();
    QCOMPARE(counter.paints, 0);

    // A setting change starts from the frame again and redraws.
    view.setInvert(0);
    QCOMPARE(topOf(view), qRgb(200, 80, 40));
    QTRY_VERIFY_WITH_TIMEOUT(counter.paints > 0, 5000);
}

void TestVideoView::saveWritesDisplayPicture()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString fileName = dir.filePath(QStringLiteral("frame.jpg"));
    VideoView view(nullptr, QStringLiteral("imageView"));
    view.setContrast(0);
    view.setInvert(2);
    QImage frame = twoTone(qRgb(0, 0, 0), qRgb(0, 0, 0));
    view.setImage(frame);

    SaveAnswerer answer(&view, fileName);
    view.saveImage();
    QVERIFY(answer.dialogSeen);
    QVERIFY(answer.warning.isEmpty());
    QImageReader reader(fileName);
    QCOMPARE(reader.format(), QByteArray("jpeg"));
    const QImage saved = reader.read();
    QCOMPARE(saved.size(), QSize(640, 480));
    // Filters applied, no red rectangle.
    QVERIFY(qRed(saved.pixel(16, 30)) > 240 && qGreen(saved.pixel(16, 30)) > 240);
}

void TestVideoView::failedSaveIsReported()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString fileName = dir.filePath(QStringLiteral("missing/dir/frame.jpg"));
    VideoView view(nullptr, QStringLiteral("imageView"));
    QImage frame = twoTone(qRgb(1, 2, 3), qRgb(4, 5, 6));
    view.setImage(frame);

    SaveAnswerer answer(&view, fileName);
    view.saveImage();
    QVERIFY(answer.dialogSeen);
    QVERIFY2(answer.warning.contains(fileName), qPrintable(answer.warning));
    QVERIFY(answer.warning.size() > fileName.size() + 40);
    QVERIFY(!QFile::exists(fileName));
}

QTEST_MAIN(TestVideoView)
#include "tst_videoview.moc"
