#include "imaging/DisplayRange.h"
#include "imaging/Overview.h"
#include "imaging/PictureFile.h"
#include "imaging/PyramidWriter.h"
#include "imaging/StackFile.h"
#include "imaging/TiffFile.h"
#include "imaging/TileReader.h"
#include "views/TileLoader.h"
#include "views/TiledView.h"
#include "views/ViewerMarks.h"
#include "views/ViewerWindow.h"
#include "views/marks/AnnotationStore.h"
#include "views/marks/MarksGeoJson.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QImageWriter>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSlider>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <opencv2/imgproc.hpp>

namespace {

// Blocks of 8 x 8 pixels, each its own colour, so a block's centre has the
// same colour at every level whatever filter made the level.
QRgb blockColour(int bx, int by, int plane)
{
    return qRgb((bx * 37 + plane * 60) % 256, (by * 59) % 256, ((bx + by) * 13) % 256);
}

cv::Mat blocks(int w, int h, int plane = 0)
{
    cv::Mat m(h, w, CV_8UC3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const QRgb c = blockColour(x / 8, y / 8, plane);
            m.at<cv::Vec3b>(y, x) = cv::Vec3b(uchar(qRed(c)), uchar(qGreen(c)), uchar(qBlue(c)));
        }
    return m;
}

QImage toImage(const cv::Mat& rgb)
{
    return QImage(rgb.data, rgb.cols, rgb.rows, int(rgb.step), QImage::Format_RGB888).copy();
}

OmeImage scaled()
{
    OmeImage meta;
    meta.physicalSizeXUm = meta.physicalSizeYUm = 0.5;
    OmePlane plane;
    plane.hasPosition = true;
    plane.xUm = 1000;
    plane.yUm = 2000;
    meta.planes = {plane};
    return meta;
}

// Writes one kind of file Tessan opens into dir; its path.
QString writeKind(const QString& kind, const QDir& dir)
{
    QString error;
    bool ok = false;
    QString path = dir.filePath(kind + QStringLiteral(".tif"));
    if (kind == QLatin1String("mosaic")) {
        const cv::Mat full = blocks(2100, 1300);
        PyramidWriter writer;
        ok = writer.write(
            path, QSize(full.cols, full.rows), scaled(),
            [&](int y, int rows, cv::Mat* out, QString*) {
                *out = full.rowRange(y, y + rows);
                return true;
            },
            &error);
    } else if (kind == QLatin1String("tifffile")) {
        // Level 1 inverted: the view must show the file's level, not a reduction of its own.
        const QString script = QStringLiteral(
            "import sys, numpy as np, tifffile\n"
            "y, x = np.mgrid[0:800, 0:1100]\n"
            "bx, by = x // 8, y // 8\n"
            "a = np.stack([(bx * 37) % 256, (by * 59) % 256, ((bx + by) * 13) % 256], -1).astype('uint8')\n"
            "with tifffile.TiffWriter(sys.argv[1], ome=True) as t:\n"
            "    t.write(a, tile=(512, 512), subifds=1, compression='zlib')\n"
            "    t.write(255 - a[::2, ::2], tile=(512, 512), subfiletype=1, compression='zlib')\n");
        ok = QProcess::execute(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), script, path}) == 0;
    } else if (kind == QLatin1String("stack")) {
        StackFile stack;
        OmeImage meta = scaled();
        meta.planes = {OmePlane(), OmePlane(), OmePlane()};
        ok = stack.begin(path, meta, &error);
        for (int z = 0; ok && z < 3; ++z)
            ok = stack.addPlane(toImage(blocks(300, 200, z)), &error);
        ok = ok && stack.finish(&error);
    } else if (kind == QLatin1String("allinfocus")) {
        const cv::Mat height(200, 300, CV_32FC1, cv::Scalar(12.5f));
        ok = PictureFile::writeOmeTiff(path, blocks(300, 200), false, scaled(), &height, &error);
    } else if (kind == QLatin1String("channels")) {
        // Channel 2 carries the blocks' green as grey.
        cv::Mat two;
        cv::Mat parts[3];
        cv::split(blocks(300, 200), parts);
        cv::merge(std::vector<cv::Mat>{parts[0], parts[1]}, two);
        ok = PictureFile::writeOmeTiff(path, two, true, scaled(), nullptr, &error);
    } else if (kind == QLatin1String("camera12") || kind == QLatin1String("sixteen")) {
        // 16-bit samples: a 12-bit camera's 0-4095, or the full range.
        cv::Mat wide;
        blocks(300, 200).convertTo(wide, CV_16U, kind == QLatin1String("camera12") ? 16.0 : 257.0);
        TiffFile tiff;
        ok = tiff.openWrite(path, false) && tiff.writeImage(wide, QByteArray()) && tiff.commit();
    } else if (kind == QLatin1String("strips")) {
        TiffFile tiff;
        cv::Mat bgr = blocks(4500, 700);
        ok = tiff.openWrite(path, false) && tiff.writeImage(bgr, QByteArray("a plain TIFF")) && tiff.commit();
    } else {
        path = dir.filePath(kind + QStringLiteral(".") + kind);
        QImageWriter writer(path);
        writer.setText(QStringLiteral("Tessan"), QStringLiteral("X 1.5 mm"));
        writer.setQuality(100);
        ok = writer.write(toImage(blocks(700, 500)));
    }
    return ok ? path : QString();
}

int distance(QRgb a, QRgb b)
{
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}

} // namespace

class TestViewer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void opensEachKind_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("levels");
        QTest::addColumn<int>("planes");
        QTest::addColumn<int>("channels");
        QTest::addColumn<bool>("height");
        QTest::addColumn<int>("tolerance");
        QTest::addColumn<bool>("inverted"); // level 1 holds the inverse
        QTest::addColumn<bool>("overview"); // made on a worker: no reduced levels in a large file
        QTest::newRow("Tessan mosaic") << "mosaic" << 3 << 1 << 1 << false << 0 << false << false;
        QTest::newRow("tifffile pyramid") << "tifffile" << 2 << 1 << 1 << false << 0 << true << false;
        QTest::newRow("z-stack") << "stack" << 1 << 3 << 1 << false << 0 << false << false;
        QTest::newRow("all in focus") << "allinfocus" << 1 << 1 << 1 << true << 0 << false << false;
        QTest::newRow("two channels") << "channels" << 1 << 1 << 2 << false << 0 << false << false;
        QTest::newRow("plain TIFF") << "strips" << 1 << 1 << 1 << false << 0 << false << true;
        QTest::newRow("16-bit, 12 used") << "camera12" << 1 << 1 << 1 << false << 6 << false << false;
        QTest::newRow("16-bit, all used") << "sixteen" << 1 << 1 << 1 << false << 6 << false << false;
        QTest::newRow("PNG") << "png" << 1 << 1 << 1 << false << 0 << false << false;
        QTest::newRow("JPEG") << "jpg" << 1 << 1 << 1 << false << 12 << false << false;
    }

    // The pixels shown at full size and at half size are the file's levels.
    void opensEachKind()
    {
        QFETCH(QString, kind);
        QFETCH(int, levels);
        QFETCH(int, planes);
        QFETCH(int, channels);
        QFETCH(bool, height);
        QFETCH(int, tolerance);
        QFETCH(bool, inverted);
        QFETCH(bool, overview);
        QTemporaryDir dir;
        const QString path = writeKind(kind, QDir(dir.path()));
        QVERIFY(!path.isEmpty());
        QString error;
        std::unique_ptr<ViewerWindow> window(ViewerWindow::open(path, &error));
        QVERIFY2(window, qPrintable(error));
        QCOMPARE(window->windowTitle(), QStringLiteral("Tessan: Viewer – ") + QFileInfo(path).fileName());
        const TileReader& reader = window->reader();
        QCOMPARE(reader.levels(reader.pageOf(0, 0)).size(), levels);
        QCOMPARE(reader.planeCount(), planes);
        QCOMPARE(reader.channelCount(), channels);
        QCOMPARE(reader.heightPage() >= 0, height);
        if (kind == QLatin1String("jpg") || kind == QLatin1String("png"))
            QCOMPARE(reader.comment(), QStringLiteral("X 1.5 mm"));
        TiledView* view = window->view;
        QTRY_VERIFY(view->complete());
        QCOMPARE(view->overviewFactor() > 0, overview);
        for (const double zoom : {1.0, 0.5}) {
            view->setZoom(zoom, QPointF(0, 0));
            QTRY_VERIFY(view->complete());
            const QImage shown = view->grab().toImage();
            const bool coarse = zoom < 1.0 && levels > 1;
            QCOMPARE(view->level(), coarse ? 1 : 0);
            for (const QPoint block : {QPoint(13, 8), QPoint(3, 17), QPoint(30, 2)}) {
                const QPointF at = view->viewPoint(QPointF(block * 8) + QPointF(4, 4));
                QRgb want = blockColour(block.x(), block.y(), 0);
                if (channels > 1)
                    want = qRgb(qRed(want), qRed(want), qRed(want));
                if (coarse && inverted)
                    want = qRgb(255 - qRed(want), 255 - qGreen(want), 255 - qBlue(want));
                QVERIFY2(distance(shown.pixel(at.toPoint()), want) <= tolerance,
                         qPrintable(QStringLiteral("zoom %1 block %2,%3").arg(zoom).arg(block.x()).arg(block.y())));
            }
        }
        // The other pages: plane 3, channel 2, the height map.
        if (planes > 1)
            window->planeSlider->setValue(2);
        if (channels > 1)
            window->channelBox->setCurrentIndex(1);
        if (height)
            window->heightBox->setChecked(true);
        const int page = height ? reader.heightPage() : reader.pageOf(channels - 1, planes - 1);
        QCOMPARE(view->page(), page);
        view->setZoom(1.0, QPointF(0, 0));
        QTRY_VERIFY(view->complete());
        if (!height) {
            const QRgb c = blockColour(13, 8, planes - 1);
            const QRgb want = channels > 1 ? qRgb(qGreen(c), qGreen(c), qGreen(c)) : c;
            QVERIFY(distance(view->grab().toImage().pixel(view->viewPoint(QPointF(108, 68)).toPoint()), want) <=
                    tolerance);
        }
    }

    // Tiles shown smaller are resampled on the workers to whole screen pixels: neighbours meet without a gap.
    void resampledTilesMeet_data()
    {
        QTest::addColumn<double>("zoom");
        QTest::newRow("level 1 at 0.74") << 0.37;
        QTest::newRow("level 0 at 0.9") << 0.9;
        QTest::newRow("level 0 at 0.61") << 0.61;
    }

    void resampledTilesMeet()
    {
        QFETCH(double, zoom);
        QTemporaryDir dir;
        std::unique_ptr<ViewerWindow> window(ViewerWindow::open(writeKind("mosaic", QDir(dir.path())), nullptr));
        QVERIFY(window);
        window->view->setZoom(zoom, QPointF(3.3, 7.7));
        QTRY_VERIFY(window->view->complete() && window->loader->pending() == 0);
        const QImage shown = window->view->grab().toImage();
        const QRect picture =
            QRectF(window->view->viewPoint(QPointF(0, 0)), window->view->viewPoint(QPointF(2100, 1300)))
                .toAlignedRect()
                .adjusted(1, 1, -2, -2)
                .intersected(shown.rect().adjusted(0, 0, 0, -40)); // above the scale bar
        for (int y = picture.top(); y <= picture.bottom(); ++y)
            for (int x = picture.left(); x <= picture.right(); ++x)
                QVERIFY2(shown.pixel(x, y) != qRgb(48, 48, 48),
                         qPrintable(QStringLiteral("gap at %1,%2").arg(x).arg(y)));
    }

    // A 200-pixel drag at 0.5 µm per pixel is 100 µm, at any zoom; the marks
    // go beside the file in its pixels and come back when it is opened again.
    void measuresAndKeepsMarks()
    {
        QTemporaryDir dir;
        const QString path = writeKind(QStringLiteral("mosaic"), QDir(dir.path()));
        std::unique_ptr<ViewerWindow> window(ViewerWindow::open(path, nullptr));
        QVERIFY(window);
        TiledView* view = window->view;
        view->setZoom(0.5, QPointF(0, 0));
        window->measureAction->setChecked(true);
        QTest::mousePress(view, Qt::LeftButton, {}, view->viewPoint(QPointF(100, 120)).toPoint());
        QTest::mouseMove(view, view->viewPoint(QPointF(200, 120)).toPoint());
        QTest::mouseRelease(view, Qt::LeftButton, {}, view->viewPoint(QPointF(300, 120)).toPoint());
        AnnotationStore* store = window->marks->store;
        QCOMPARE(store->all().size(), 1);
        QCOMPARE(store->all()[0].lengthMicrometres(), 100.0);
        // Clicked corners and a double-click: a triangle of 100 µm legs; a click on it selects it, Delete removes it.
        for (const QPointF corner : {QPointF(100, 200), QPointF(300, 200), QPointF(300, 400)})
            QTest::mouseClick(view, Qt::LeftButton, {}, view->viewPoint(corner).toPoint());
        QTest::mouseDClick(view, Qt::LeftButton, {}, view->viewPoint(QPointF(300, 400)).toPoint());
        QCOMPARE(store->all().size(), 2);
        QCOMPARE(store->all()[1].areaSquareMicrometres(), 5000.0);
        store->select(0);
        QTest::mouseClick(view, Qt::LeftButton, {}, view->viewPoint(QPointF(200, 201)).toPoint());
        QCOMPARE(store->selectedId(), store->all()[1].id);
        QTest::keyClick(view, Qt::Key_Delete);
        QCOMPARE(store->all().size(), 1);
        // Beyond pixel 1000, which a reading of stage millimetres refused.
        window->marks->addNote(QPointF(2050, 1250), QStringLiteral("nucleus"));

        QString error;
        QVERIFY2(window->saveMarksBeside(&error), qPrintable(error));
        QCOMPARE(window->besideMarksPath(), dir.filePath(QStringLiteral("mosaic.geojson")));
        const QJsonArray features = QJsonDocument::fromJson([&] {
                                        QFile f(window->besideMarksPath());
                                        f.open(QIODevice::ReadOnly);
                                        return f.readAll();
                                    }())
                                        .object()
                                        .value(QStringLiteral("features"))
                                        .toArray();
        QCOMPARE(features.size(), 2);
        const QJsonArray note = features[1].toObject()["geometry"].toObject()["coordinates"].toArray();
        QVERIFY(qAbs(note[0].toDouble() - 2050) < 1e-6 && qAbs(note[1].toDouble() - 1250) < 1e-6);
        window.reset(ViewerWindow::open(path, nullptr));
        const QList<Annotation> back = window->marks->store->all();
        QCOMPARE(back.size(), 2);
        QCOMPARE(back[0].lengthMicrometres(), 100.0);
        QVERIFY(QLineF(window->marks->toPixel(back[1].pointsMm[0]), QPointF(2050, 1250)).length() < 1e-6);
        QCOMPARE(back[1].name, QStringLiteral("nucleus"));
    }

    // A height map without reduced levels: one peak or pit in a tile that
    // a 16-tile sample skips must still set the colour range.
    void heightRangeHasExtremes_data()
    {
        QTest::addColumn<float>("extreme");
        QTest::addColumn<double>("low");
        QTest::addColumn<double>("high");
        QTest::newRow("peak") << 50.0f << 1.0 << 50.0;
        QTest::newRow("pit") << -20.0f << -20.0 << 3.0;
    }

    void heightRangeHasExtremes()
    {
        QFETCH(float, extreme);
        QFETCH(double, low);
        QFETCH(double, high);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("height.ome.tif"));
        // 8 x 4 tiles of 512: a sample of 16 reads every other one, not tile (1, 0).
        cv::Mat height(2048, 4096, CV_32FC1, cv::Scalar(1.0f));
        height(cv::Rect(2048, 1024, 512, 512)).setTo(3.0f);
        height.at<float>(100, 700) = extreme;
        QString error;
        QVERIFY2(PictureFile::writeHeightOmeTiff(path, height, scaled(), &error), qPrintable(error));
        TileReader reader;
        QVERIFY2(reader.open(path, &error), qPrintable(error));
        QCOMPARE(reader.levels(0).size(), 1);
        double lo = 0, hi = 0;
        QVERIFY(DisplayRange::of(reader, 0, &lo, &hi));
        QCOMPARE(lo, low);
        QCOMPARE(hi, high);
    }

    // Import Marks in the viewer and the session, and the marks beside a file, share one cap.
    void refusesLargeMarksFiles_data()
    {
        QTest::addColumn<qint64>("bytes"); // -1: no file
        QTest::addColumn<QString>("why");  // empty: read
        QTest::newRow("at the cap") << MarksGeoJson::kMaxFileBytes << "";
        QTest::newRow("past the cap") << MarksGeoJson::kMaxFileBytes + 1 << "too large to be a marks file";
        QTest::newRow("missing") << qint64(-1) << "could not be opened";
    }

    void refusesLargeMarksFiles()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, why);
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("marks.geojson")));
        QVERIFY(bytes < 0 || (file.open(QIODevice::WriteOnly) && file.resize(bytes))); // sparse
        QByteArray data;
        QString error;
        QCOMPARE(MarksGeoJson::readFile(file.fileName(), &data, &error), why.isEmpty());
        QVERIFY2(error.contains(why), qPrintable(error));
        QCOMPARE(data.size(), why.isEmpty() ? bytes : 0);
    }

    void refusesHostileFiles_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("why"); // empty: opens, and a tile read says why it fails
        const QString corpus = QStringLiteral(TESSAN_CORPUS);
        QTest::newRow("odd tiles") << corpus + "/tilereader/hostile_tile_24.tif"
                                   << "tiles of 24 x 16";
        QTest::newRow("levels not halving") << corpus + "/tilereader/hostile_levels_not_halving.ome.tif"
                                            << "level 2 is 60 x 40 pixels, not half";
        QTest::newRow("OME-XML disagrees") << corpus + "/tilereader/hostile_ome_size.ome.tif"
                                           << "the OME-XML says 65 x 48";
        QTest::newRow("truncated") << corpus + "/tilereader/hostile_truncated.ome.tif"
                                   << "";
        QTest::newRow("huge tiles") << corpus + "/stackreader/hostile_tile_65536x65536.tif"
                                    << "tiles of 65536";
        QTest::newRow("4 GB strip") << corpus + "/stackreader/hostile_strip_4gb.tif"
                                    << "";
        QTest::newRow("not a picture") << corpus + "/stackreader/ome.xml"
                                       << "not a picture";
        QTest::newRow("missing") << corpus + "/none.tif"
                                 << "no such file";
    }

    void refusesHostileFiles()
    {
        QFETCH(QString, file);
        QFETCH(QString, why);
        TileReader reader;
        QString error;
        const bool opened = reader.open(file, &error);
        if (!why.isEmpty()) {
            QVERIFY(!opened);
            QVERIFY2(error.contains(why), qPrintable(error));
            return;
        }
        QVERIFY2(opened, qPrintable(error));
        int failures = 0;
        for (int l = 0; l < reader.levels(0).size(); ++l) {
            const TileReader::Level level = reader.levels(0)[l];
            for (int y = 0; y * level.tile.height() < level.size.height(); ++y)
                for (int x = 0; x * level.tile.width() < level.size.width(); ++x) {
                    cv::Mat tile;
                    error.clear();
                    if (!reader.readTile(0, l, QPoint(x, y), &tile, &error))
                        failures += !error.isEmpty();
                    QVERIFY(!error.contains(QLatin1String("cannot be read")));
                }
        }
        QVERIFY(failures > 0);
    }
};

QTEST_MAIN(TestViewer)
#include "tst_viewer.moc"
