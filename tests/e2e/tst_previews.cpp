#include "sim/OrvexServer.h"
#include "sim/SlideModel.h"
#include "views/HighResPreview.h"
#include "views/LowResPreview.h"
#include "views/VideoStack.h"

#include <QCoreApplication>
#include <QDir>
#include <QTest>

namespace {

// Screenshots go next to the build's test executables, in shots/.
void saveShot(QWidget& widget, const char* name)
{
    const QString dir = QCoreApplication::applicationDirPath() + QStringLiteral("/../shots");
    QDir().mkpath(dir);
    widget.grab().save(dir + QLatin1Char('/') + QString::fromLatin1(name));
}

// Pixels clearly darker than the widget's background in its corner.
int darkPixels(const QImage& image, const QRect& area)
{
    const int background = qGray(image.pixel(2, 2));
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += qGray(image.pixel(x, y)) < background - 60;
    return n;
}

} // namespace

class TestPreviews : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void overviewArrives();
    void highResArrivesWithMarks();
    void failedPictureShowsNotice();
    void progressWhileDownloading();
    void stack();

private:
    QString slide() const;

    OrvexServer server;
};

void TestPreviews::initTestCase()
{
    QVERIFY(server.listen(0));
}

QString TestPreviews::slide() const
{
    return server.slidesOf(server.scopeNames().first()).first();
}

void TestPreviews::overviewArrives()
{
    LowResPreview preview(nullptr, "lowRes");
    preview.resize(383, 255);
    preview.setHost(server.host());
    QString name = slide();
    preview.slideChange(name);
    QTRY_VERIFY_WITH_TIMEOUT(!preview.image().isNull(), 10000);
    QVERIFY(server.requestLog().contains(QStringLiteral("/small_slides/") + name));
    QVERIFY(!preview.pictureStatus().isDownloading());
    CoordinateTriple physical;
    physical.x = 200000;
    physical.y = 150000;
    preview.setPhysical(physical);
    saveShot(preview, "lowres.png");
}

void TestPreviews::highResArrivesWithMarks()
{
    HighResPreview preview(nullptr, "highRes");
    preview.resize(383, 246);
    preview.setHost(server.host());
    QString name = slide();
    preview.slideChange(name);
    QTRY_VERIFY_WITH_TIMEOUT(!preview.basePicture().isNull(), 15000);
    QCOMPARE(preview.basePicture().size(), QSize(Calibration::pictureWidth, Calibration::pictureHeight));
    QVERIFY(!preview.markPixels().isEmpty());
    // Every mark sits where the simulator drew its feature in the picture,
    // through the calibration read from the slide's fiducials.
    const SlideModel model(name, OrvexServerOptions().seed);
    const QVector<SlideModel::Mark>& expected = model.marks();
    QCOMPARE(preview.markPixels().size(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        double px = 0;
        double py = 0;
        model.stageToWholePixel(expected[i].x, expected[i].y, &px, &py);
        // Marks near the border sit on the clamp line of the 383 x 246 view.
        const QPoint want(qBound(191, int(px), Calibration::pictureWidth - 191),
                          qBound(123, int(py), Calibration::pictureHeight - 123));
        const QPoint got = preview.markPixels().at(i);
        QVERIFY2((got - want).manhattanLength() <= 4, qPrintable(QStringLiteral("%1: (%2, %3) instead of (%4, %5)")
                                                                     .arg(expected[i].word)
                                                                     .arg(got.x())
                                                                     .arg(got.y())
                                                                     .arg(want.x())
                                                                     .arg(want.y())));
    }
    // The first section is centred near the middle of the slide: show it.
    CoordinateTriple centre;
    centre.x = float(expected.first().x);
    centre.y = float(expected.first().y);
    preview.setLocation(centre);
    saveShot(preview, "highres.png");

    CoordinateTriple corner;
    corner.x = centre.x * 0.0001f - 1.5f;
    corner.y = centre.y * 0.0001f - 1.0f;
    preview.setCorner1(corner);
    corner.x += 3.0f;
    corner.y += 2.0f;
    preview.setLinearDensity(2);
    preview.setCorner2(corner);
    saveShot(preview, "highres-selection.png");
}

void TestPreviews::failedPictureShowsNotice()
{
    QVERIFY(server.addFault(QStringLiteral("small_slides:500:1")));
    QVERIFY(server.addFault(QStringLiteral("whole_slides:500:1")));
    LowResPreview overview(nullptr, "lowRes");
    overview.resize(383, 255);
    overview.setHost(server.host());
    HighResPreview preview(nullptr, "highRes");
    preview.resize(383, 246);
    preview.setHost(server.host());
    QString name = slide();
    overview.slideChange(name);
    preview.slideChange(name);
    QTRY_VERIFY_WITH_TIMEOUT(overview.pictureStatus().isUnavailable(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(preview.pictureStatus().isUnavailable(), 10000);
    QVERIFY(overview.image().isNull());
    QVERIFY(preview.picture().isNull());

    // The notice is drawn as dark text across the middle, below the markers.
    const QImage shown = overview.grab().toImage();
    QVERIFY(darkPixels(shown, QRect(90, 147, 203, 22)) > 20);
    QCOMPARE(darkPixels(shown, QRect(90, 200, 203, 40)), 0);
    saveShot(overview, "lowres-unavailable.png");
    saveShot(preview, "highres-unavailable.png");
    server.clearFaults();
}

void TestPreviews::progressWhileDownloading()
{
    QVERIFY(server.addFault(QStringLiteral("whole_slides:drip:1")));
    HighResPreview preview(nullptr, "highRes");
    preview.resize(383, 246);
    preview.setHost(server.host());
    QString name = slide();
    preview.slideChange(name);
    QVERIFY(preview.pictureStatus().isDownloading());
    QTRY_VERIFY_WITH_TIMEOUT(preview.pictureStatus().fraction() > 0.0, 10000);
    saveShot(preview, "highres-downloading.png");
    QTRY_VERIFY_WITH_TIMEOUT(!preview.pictureStatus().isDownloading(), 30000);
    server.clearFaults();
}

void TestPreviews::stack()
{
    VideoStack stack(nullptr, "insetStack");
    stack.resize(168, 140);
    QImage frame(168, 140, QImage::Format_RGB32);
    frame.fill(qRgb(120, 60, 140));
    stack.addImage(frame);
    saveShot(stack, "videostack.png");
}

QTEST_MAIN(TestPreviews)
#include "tst_previews.moc"
