#include "imaging/FlatField.h"
#include "imaging/FocusSurface.h"
#include "imaging/MosaicSolver.h"
#include "imaging/MosaicStitcher.h"
#include "imaging/OmeXml.h"
#include "imaging/PyramidWriter.h"
#include "session/FocusMeasure.h"
#include "sim/BlankGlass.h"
#include "sim/CameraEffects.h"
#include "sim/ScanRenderer.h"
#include "sim/SimNoise.h"
#include "sim/SlideLibrary.h"
#include "sim/SlideModel.h"
#include "sim/SlideRenderer.h"
#include "sim/SparseCells.h"
#include "sim/ThickSpecimen.h"

#include <Eigen/Dense>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>
#include <opencv2/core.hpp>
#include <tiffio.h>

namespace {

constexpr double kUnitsPerPx = 5.0; // the test server's 0.5 um per pixel
constexpr double kStageErrorUm = 5.0;
const QSize kTile(640, 480);

// Stitches a scan of a test server's slide with the stage error on, drawn
// directly; tiles in missing are marked so, tiles past taken never arrive
// (a cancelled scan). camera adds sensor dust, lens fall-off and JPEG 85.
QVector<ScanRenderer::Frame> scan(MosaicStitcher* stitcher, QPointF first, int rows, int cols, const QString& dir,
                                  const QList<int>& missing = {}, int taken = -1,
                                  const QString& slideName = QStringLiteral("liver-01"), bool camera = false,
                                  double stepShare = 0.85, bool light = false)
{
    const SlideModel slide(slideName, 1);
    const ScanRenderer renderer(slide, 1, kStageErrorUm);
    const CameraEffects effects{camera, camera ? 0.75 : 1.0};
    const QPointF step(kTile.width() * stepShare * kUnitsPerPx, kTile.height() * stepShare * kUnitsPerPx);
    const QVector<ScanRenderer::Frame> frames = renderer.grid(first, step, rows, cols);
    MosaicPlan plan;
    plan.rows = rows;
    plan.cols = cols;
    plan.tileSize = kTile;
    plan.originUm = (first - QPointF(kTile.width(), kTile.height()) * (kUnitsPerPx / 2)) / 10.0;
    plan.cacheDir = dir;
    plan.stepUm = QSizeF(step.x() / 10.0, step.y() / 10.0);
    plan.stageErrorUm = kStageErrorUm;
    plan.correctLight = light;
    if (!stitcher->begin(plan))
        return {};
    for (int id = 0; id < (taken < 0 ? frames.size() : taken); ++id) {
        const ScanRenderer::Frame& f = frames[id];
        if (missing.contains(id))
            stitcher->markMissing(id);
        else {
            QImage picture = renderer.render(f, kTile.width(), kTile.height());
            effects.apply(&picture);
            if (camera)
                picture = QImage::fromData(SlideLibrary::encodeJpeg(picture, 85), "JPEG");
            stitcher->addTile({id, f.row, f.col, f.requested / 10.0}, picture);
        }
    }
    stitcher->finish();
    stitcher->waitUntilIdle();
    return frames;
}

// What tifffile reads from a file (see pyramid_layout.py); the OME-XML goes to xmlPath.
QJsonObject readBack(const QString& path, const QString& xmlPath, const QStringList& points = {})
{
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 QStringList{QFINDTESTDATA("pyramid_layout.py"), path, xmlPath} + points);
    if (!python.waitForFinished(60000) || python.exitCode() != 0)
        qWarning() << python.readAllStandardError();
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
}

// Without a schema (TESSAN_OME_XSD) only the read-back is checked; the ome_schema test reports the skip.
bool validates(const QString& xmlPath)
{
    const QString schema = qEnvironmentVariable("TESSAN_OME_XSD");
    if (schema.isEmpty())
        return true;
    QProcess xmllint;
    xmllint.start(QStringLiteral("xmllint"),
                  {QStringLiteral("--noout"), QStringLiteral("--nonet"), QStringLiteral("--schema"), schema, xmlPath});
    xmllint.waitForFinished(60000);
    if (xmllint.exitCode() != 0)
        qWarning() << xmllint.readAllStandardError();
    return xmllint.exitStatus() == QProcess::NormalExit && xmllint.exitCode() == 0;
}

QJsonArray pair(double a, double b)
{
    return QJsonArray{a, b};
}

} // namespace

class TestMosaic : public QObject
{
    Q_OBJECT

private slots:
    void placementAgainstTruth_data()
    {
        QTest::addColumn<QPointF>("first");
        QTest::addColumn<int>("glassTiles");
        QTest::addColumn<QString>("slide");
        QTest::addColumn<bool>("camera");
        QTest::addColumn<double>("stepShare");
        const QString liver = QStringLiteral("liver-01");
        QTest::newRow("tissue") << QPointF(388000, 244000) << 0 << liver << false << 0.85;
        QTest::newRow("tissue into bare glass") << QPointF(396500, 246000) << 3 << liver << false << 0.85;
        QTest::newRow("tissue, dust, fall-off, JPEG") << QPointF(388000, 244000) << 0 << liver << true << 0.85;
        QTest::newRow("loose cells, dust, fall-off, JPEG")
            << QPointF(538600, 226200) << 0 << QStringLiteral("cells-41") << true << 0.85;
        // No dust, but the light's unevenness is fixed on the sensor too: what no
        // match scores must come from strips at different places on the sensor,
        // or the pattern matches itself, the bar rises and true pairs are lost.
        QTest::newRow("loose cells, clean camera")
            << QPointF(538600, 226200) << 0 << QStringLiteral("cells-41") << false << 0.85;
        // overlaps of 19 to 26 pixels, narrower than two landings' error
        QTest::newRow("narrow overlaps") << QPointF(388000, 244000) << 0 << liver << false << 0.96;
    }

    // Tiles with something to register land within a loose floor of the
    // truth; tiles on bare glass keep their reported place.
    void placementAgainstTruth()
    {
        QFETCH(QPointF, first);
        QFETCH(int, glassTiles);
        QFETCH(QString, slide);
        QFETCH(bool, camera);
        QFETCH(double, stepShare);
        QTemporaryDir dir;
        MosaicStitcher stitcher;
        const QVector<ScanRenderer::Frame> frames =
            scan(&stitcher, first, 3, 3, dir.path(), {}, -1, slide, camera, stepShare);
        const QPointF shift = (stitcher.mosaicOriginUm() - stitcher.plan().originUm) * (10.0 / kUnitsPerPx);
        const QPointF half = QPointF(kTile.width(), kTile.height()) * (kUnitsPerPx / 2);
        QVector<QPointF> error;
        int glass = 0;
        for (const TilePlacement& p : stitcher.placements()) {
            const ScanRenderer::Frame& f = frames[p.id];
            const QPointF found = p.topLeftPx + shift;
            const QPointF a = f.actual - half, b = f.actual + half;
            if (BlankGlass::contains(a.x(), a.y()) && BlankGlass::contains(b.x(), b.y())) {
                ++glass;
                const QPointF pull = found - (f.requested - first) / kUnitsPerPx;
                QVERIFY2(qAbs(pull.x()) <= 10.0, qPrintable(QString::number(p.id)));
                QVERIFY2(qAbs(pull.y()) <= 10.0, qPrintable(QString::number(p.id)));
            } else {
                error.append(found - (f.actual - first) / kUnitsPerPx);
            }
        }
        QCOMPARE(glass, glassTiles);
        // the whole scan's landing is unknowable: compare up to a common shift
        QPointF mean;
        for (const QPointF& e : error)
            mean += e / error.size();
        for (const QPointF& e : error)
            QVERIFY2(std::hypot(e.x() - mean.x(), e.y() - mean.y()) <= 1.5,
                     qPrintable(QStringLiteral("%1 %2").arg(e.x() - mean.x()).arg(e.y() - mean.y())));
    }

    // A focus map from autofocus points on an nx x ny lattice over the region
    // must predict the in-focus z everywhere in it within the depth of field
    // (1.4 µm at 20x: blur of a pixel).
    void focusSurfacePredictsFocus_data()
    {
        QTest::addColumn<QString>("surface"); // "tilted-51" the test server's slide, else a plane
        QTest::addColumn<int>("nx");
        QTest::addColumn<int>("ny");
        QTest::addColumn<int>("kind");
        QTest::addColumn<double>("toleranceUm");
        QTest::addColumn<double>("dustUm"); // the middle point's autofocus locked this far above, on dust
        const int constant = int(FocusSurface::Kind::Constant), plane = int(FocusSurface::Kind::Plane);
        const int spline = int(FocusSurface::Kind::ThinPlate);
        QTest::newRow("plane from 2 x 2 points") << "plane" << 2 << 2 << plane << 1e-6 << 0.0;
        QTest::newRow("plane through a row of 3") << "plane" << 3 << 1 << plane << 1e-6 << 0.0;
        QTest::newRow("one point, flat") << "flat" << 1 << 1 << constant << 1e-9 << 0.0;
        QTest::newRow("spline keeps a plane") << "plane" << 3 << 3 << spline << 1e-6 << 0.0;
        QTest::newRow("tilted slide, 3 x 3") << "tilted-51" << 3 << 3 << spline << 1.4 << 0.0;
        QTest::newRow("tilted slide, a point on dust") << "tilted-51" << 3 << 3 << spline << 1.4 << 40.0;
    }

    void focusSurfacePredictsFocus()
    {
        QFETCH(QString, surface);
        QFETCH(int, nx);
        QFETCH(int, ny);
        QFETCH(int, kind);
        QFETCH(double, toleranceUm);
        QFETCH(double, dustUm);
        const SlideModel slide(QStringLiteral("tilted-51"), 1);
        // a 6 x 6 scan of 640 x 480 frames at 15 % overlap, tile centres in µm
        const QRectF region(37000, 24500, 5 * 272, 5 * 204);
        auto truth = [&](double x, double y) {
            if (surface == QLatin1String("tilted-51"))
                return slide.focalPlaneAt(x * 10.0, y * 10.0) / 10.0;
            return surface == QLatin1String("plane") ? 1100.0 + 0.016 * (x - 37000) - 0.01 * (y - 24500) : 1100.0;
        };
        std::vector<FocusSurface::Point> points;
        for (int j = 0; j < ny; ++j)
            for (int i = 0; i < nx; ++i) {
                const double x = region.left() + (nx > 1 ? region.width() * i / (nx - 1) : 0.0);
                const double y = region.top() + (ny > 1 ? region.height() * j / (ny - 1) : 0.0);
                points.push_back({x, y, truth(x, y)});
            }
        points[points.size() / 2].zUm += dustUm;
        points.push_back({1.0, 2.0, std::nan("")}); // an autofocus that found nothing
        const FocusSurface fitted = FocusSurface::fit(points);
        QCOMPARE(int(fitted.kind()), kind);
        QCOMPARE(int(fitted.points().size()), nx * ny - (dustUm > 0 ? 1 : 0));
        double worst = 0;
        for (int j = 0; j <= 10; ++j)
            for (int i = 0; i <= 10; ++i) {
                const double x = region.left() + region.width() * i / 10;
                const double y = ny > 1 ? region.top() + region.height() * j / 10 : region.top();
                worst = std::max(worst, std::abs(fitted.at(x, y) - truth(x, y)));
            }
        QVERIFY2(worst <= toleranceUm, qPrintable(QString::number(worst)));
    }

    // The frame a focus point takes after its autofocus, as the server sends
    // it with sensor dust, fall-off and JPEG loss, judged with the other
    // points' frames: against the slide's truth, a frame holding tissue or a
    // few loose cells is kept and one of clean glass left out (ordinary
    // glass, whose mottle autofocus does focus on, may go either way).
    void bareGlassFrames_data()
    {
        QTest::addColumn<QString>("slide");
        QTest::addColumn<QVector<QPointF>>("points"); // stage units, each frame in focus
        QTest::addColumn<int>("quality");             // JPEG
        QTest::addColumn<double>("cornerLight");
        QTest::addColumn<QSize>("picture"); // a focus point's frame is taken at the scan's size
        const QPointF middle(378350, 251625), bare(407500, 250000);
        const QSize vga(640, 480);
        for (const char* slide : {"liver-01", "kidney-02", "lung-03", "colon-11", "skin-12", "spleen-13", "brain-21",
                                  "heart-22", "smear-31", "thick-32", "tilted-51"})
            QTest::newRow(slide) << slide << QVector<QPointF>{middle, bare} << 85 << 0.75 << vga;
        // frames of one to a few cells beside more of dense ones, and empty glass
        const QVector<QPointF> cells{{692000, 376000}, {508000, 292000}, {186000, 208000}, {370000, 82000},
                                     {232000, 61000},  {600000, 40000},  {278000, 82000},  {209000, 82000},
                                     {439000, 82000},  {232000, 40000},  {324000, 40000},  bare};
        QTest::newRow("cells-41") << "cells-41" << cells << 85 << 0.75 << vga;
        QTest::newRow("cells-41, JPEG 40, corners at half the light") << "cells-41" << cells << 40 << 0.5 << vga;
        QTest::newRow("cells-41, 1280 x 960") << "cells-41" << cells << 85 << 0.75 << QSize(1280, 960);
        QTest::newRow("liver-01, JPEG 40, corners at half the light")
            << "liver-01" << QVector<QPointF>{middle, bare} << 40 << 0.5 << vga;
    }

    void bareGlassFrames()
    {
        QFETCH(QString, slide);
        QFETCH(QVector<QPointF>, points);
        QFETCH(int, quality);
        QFETCH(double, cornerLight);
        QFETCH(QSize, picture);
        const SlideModel model(slide, 1);
        const CameraEffects camera{true, cornerLight};
        QVector<double> textures;
        for (const QPointF& p : points) {
            QImage frame = SlideRenderer::frame(model, p.x(), p.y(), ThickSpecimen::surfaceAt(model, p.x(), p.y()),
                                                picture.width(), picture.height(),
                                                SimNoise::hash(1, quint32(p.x()), quint32(p.y())));
            camera.apply(&frame);
            textures.append(FocusMeasure::texture(QImage::fromData(SlideLibrary::encodeJpeg(frame, quality))));
        }
        const QVector<bool> glass = FocusMeasure::bareGlass(textures);
        for (qsizetype i = 0; i < points.size(); ++i) {
            const QPointF p = points[i];
            const double tissue = model.tissueShare(p.x(), p.y(), picture.width() * 5, picture.height() * 5);
            const bool clean = SparseCells::isSparse(slide) || BlankGlass::contains(p.x(), p.y());
            const QString figures =
                QStringLiteral("point %1: tissue %2, texture %3").arg(i).arg(tissue).arg(textures[i]);
            if (tissue > 0.0 || clean)
                QVERIFY2(glass[i] == (tissue == 0.0), qPrintable(figures));
        }
    }

    // The placements are the weighted least-squares fit of the edges: beside
    // a dense solve with tile 0 held still, on a grid whose edges disagree.
    void solveMatchesDenseLeastSquares()
    {
        const int cols = 4, n = 12;
        QVector<QPointF> nominal;
        QVector<MosaicSolver::Edge> edges;
        for (int id = 0; id < n; ++id) {
            nominal.append(QPointF(id % cols * 500.0, id / cols * 400.0));
            if (id % cols + 1 < cols)
                edges.append({id, id + 1, QPointF(503 + id % 3, id % 2 - 2.0), 0.2 + 0.05 * id});
            if (id + cols < n)
                edges.append({id, id + cols, QPointF(1.5 - id % 2, 398 + id % 5), 0.5 - 0.02 * id});
        }
        Eigen::MatrixXd a = Eigen::MatrixXd::Zero(n, n);
        Eigen::MatrixX2d b = Eigen::MatrixX2d::Zero(n, 2);
        for (const MosaicSolver::Edge& e : edges) {
            a(e.i, e.i) += e.weight;
            a(e.j, e.j) += e.weight;
            a(e.i, e.j) -= e.weight;
            a(e.j, e.i) -= e.weight;
            b.row(e.j) += e.weight * Eigen::RowVector2d(e.offset.x(), e.offset.y());
            b.row(e.i) -= e.weight * Eigen::RowVector2d(e.offset.x(), e.offset.y());
        }
        const Eigen::MatrixX2d dense = a.bottomRightCorner(n - 1, n - 1).ldlt().solve(b.bottomRows(n - 1));
        const QVector<QPointF> found = MosaicSolver::solve(nominal, edges);
        for (int k = 1; k < n; ++k) {
            const QPointF off = found[k] - found[0] - QPointF(dense(k - 1, 0), dense(k - 1, 1));
            QVERIFY2(std::hypot(off.x(), off.y()) < 0.01, qPrintable(QString::number(k)));
        }
    }

    // A large scan cancelled after a few tiles, the rest marked missing as the
    // region scan does: the untaken tiles are placed by the one last solve.
    void cancelledScanSolvesOnce()
    {
        const int rows = 35, cols = 35, taken = 5;
        QList<int> untaken;
        for (int id = taken; id < rows * cols; ++id)
            untaken.append(id);
        QTemporaryDir dir;
        MosaicStitcher stitcher;
        scan(&stitcher, QPointF(388000, 244000), rows, cols, dir.path(), untaken);
        QCOMPARE(stitcher.placements().size(), rows * cols);
        QVERIFY2(stitcher.solves() <= taken + 1, qPrintable(QString::number(stitcher.solves())));
    }

    void stitchedMosaicReadsBack_data()
    {
        QTest::addColumn<QList<int>>("missing");
        QTest::addColumn<int>("taken");
        QTest::addColumn<bool>("light");
        QTest::newRow("complete") << QList<int>() << -1 << false;
        QTest::newRow("missing tile") << QList<int>{5} << -1 << false;
        QTest::newRow("cancelled after six tiles") << QList<int>() << 6 << false;
        QTest::newRow("light corrected") << QList<int>() << -1 << true;
    }

    // The saved mosaic as a slide viewer reads it: an OME pyramid of 512 x
    // 512 tiles in SubIFDs, the scale and the stage position of its top-left
    // pixel; the OME-XML validates; a missing tile stays black.
    void stitchedMosaicReadsBack()
    {
        QFETCH(QList<int>, missing);
        QFETCH(int, taken);
        QFETCH(bool, light);
        QTemporaryDir dir;
        MosaicStitcher stitcher;
        scan(&stitcher, QPointF(388000, 244000), 4, 4, dir.path(), missing, taken, QStringLiteral("liver-01"), false,
             0.85, light);
        // the focus map as a region scan hands it on
        stitcher.setAnnotation(QStringLiteral("tessan:focus-map"),
                               {{QStringLiteral("Focus surface"), QStringLiteral("plane")},
                                {QStringLiteral("Focus point 1 (x, y, z in µm)"), QStringLiteral("1.0 2.0 3.5")}});
        const QString path = dir.filePath(QStringLiteral("scan.ome.tif"));
        QString error;
        QVERIFY2(stitcher.save(path, &error), qPrintable(error));

        const QSize size = stitcher.mosaicSize();
        QJsonArray levels;
        for (const QSize& s : PyramidWriter::levelSizes(size))
            levels.append(pair(s.width(), s.height()));
        QVERIFY(levels.size() >= (taken < 0 ? 3 : 2));
        // the middle of tile 5, which no neighbour reaches, and of tile 0
        QPoint inFive, inZero;
        for (const TilePlacement& p : stitcher.placements()) {
            const QPoint middle = (p.topLeftPx + QPointF(kTile.width(), kTile.height()) / 2).toPoint();
            if (p.id == 5)
                inFive = middle;
            else if (p.id == 0)
                inZero = middle;
        }
        const QStringList points{QStringLiteral("%1,%2").arg(inZero.x()).arg(inZero.y()),
                                 QStringLiteral("%1,%2").arg(inFive.x()).arg(inFive.y())};
        const QJsonObject file = readBack(path, dir.filePath(QStringLiteral("scan.xml")), points);
        QCOMPARE(file.value("ome").toBool(), true);
        QCOMPARE(file.value("levels").toArray(), levels);
        QCOMPARE(file.value("tiles").toArray(), QJsonArray() << pair(512, 512));
        QJsonArray types{0};
        for (int k = 1; k < levels.size(); ++k)
            types.append(FILETYPE_REDUCEDIMAGE);
        QCOMPARE(file.value("subfiletypes").toArray(), types);
        QCOMPARE(file.value("subifds").toInt(), levels.size() - 1);
        QCOMPARE(file.value("physical").toArray(), (QJsonArray{0.5, 0.5, QStringLiteral("µm")}));
        QCOMPARE(file.value("resolution").toArray().first().toArray(), (QJsonArray{2e4, 2e4, RESUNIT_CENTIMETER}));
        const QPointF origin = stitcher.mosaicOriginUm();
        const QJsonArray position = file.value("position").toArray();
        QVERIFY(qAbs(position.at(0).toDouble() - origin.x()) < 1e-3);
        QVERIFY(qAbs(position.at(1).toDouble() - origin.y()) < 1e-3);
        QCOMPARE(position.at(2).toString(), QStringLiteral("µm"));
        const QJsonArray pixels = file.value("pixels").toArray();
        QVERIFY(pixels.at(0).toArray() != (QJsonArray{0, 0, 0}));
        QCOMPARE(pixels.at(1).toArray() == (QJsonArray{0, 0, 0}), !missing.isEmpty());
        QVERIFY(validates(dir.filePath(QStringLiteral("scan.xml"))));
        QFile xml(dir.filePath(QStringLiteral("scan.xml")));
        QVERIFY(xml.open(QIODevice::ReadOnly));
        const QByteArray ome = xml.readAll();
        QVERIFY(ome.contains("<AnnotationRef ID=\"Annotation:0\"/>") &&
                ome.contains("<M K=\"Focus surface\">plane</M>"));
        // the window's overview at an eighth: tile 0 as taken, a missing tile hatched on the background
        const QImage overview = stitcher.preview(QRectF(QPointF(), size), size / 8);
        QCOMPARE(QColor(overview.pixel(inZero / 8)).red() > 150, true);
        const QRgb five = overview.pixel(inFive / 8);
        QCOMPARE(five == qRgb(28, 28, 30) || five == qRgb(190, 70, 70), !missing.isEmpty());
        QStringList files{QStringLiteral("scan.ome.tif"), QStringLiteral("scan.xml")};
        if (light) {
            // the light profile beside it: 32-bit float, the server's frames darker to the corners
            files.prepend(QStringLiteral("scan.flatfield.ome.tif"));
            QProcess python;
            python.start(QStringLiteral("/usr/bin/python3"),
                         {QStringLiteral("-c"),
                          QStringLiteral("import sys, tifffile; t = tifffile.TiffFile(sys.argv[1]); "
                                         "a = t.series[0].asarray(); open(sys.argv[2], 'w').write(t.ome_metadata); "
                                         "print(t.is_ome, a.dtype, a.shape[1], a.shape[0], a[0, 0] < 0.9 * a.max())"),
                          dir.filePath(files[0]), dir.filePath(QStringLiteral("flat.xml"))});
            QVERIFY(python.waitForFinished(60000));
            QCOMPARE(python.readAllStandardOutput().trimmed(), QByteArray("True float32 640 480 True"));
            QVERIFY(validates(dir.filePath(QStringLiteral("flat.xml"))));
            QFile::remove(dir.filePath(QStringLiteral("flat.xml")));
        }
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), files);
    }

    // A tile that cannot be written (the cache's folder is gone, as on a full
    // disk) is reported with the reason and shown missing, not lost quietly.
    void unstorableTileIsReported()
    {
        QTemporaryDir dir;
        MosaicStitcher stitcher;
        QSignalSpy failed(&stitcher, &MosaicStitcher::storageFailed);
        MosaicPlan plan;
        plan.rows = plan.cols = 2;
        plan.tileSize = kTile;
        plan.cacheDir = dir.path();
        QVERIFY(stitcher.begin(plan));
        QVERIFY(QDir(dir.path()).removeRecursively());
        QImage tile(kTile, QImage::Format_RGB32);
        tile.fill(Qt::white);
        stitcher.addTile({0, 0, 0, QPointF(160, 120)}, tile, QByteArray("not kept"));
        stitcher.waitUntilIdle();
        QCOMPARE(failed.size(), 1);
        QVERIFY2(failed[0][0].toString().startsWith("Cannot write tile 0 to "), qPrintable(failed[0][0].toString()));
        QCOMPARE(stitcher.placements().size(), 1);
        QVERIFY(stitcher.placements()[0].missing);
    }

    // JPEG tiles carry YCbCr with the subsampling in the tags, and read back
    // through libtiff in their colours (a mismatch shows pink).
    void jpegTilesKeepTheirColours()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("red.ome.tif"));
        PyramidWriter writer;
        writer.setCompression(PyramidWriter::Compression::Jpeg, 90);
        OmeImage meta;
        meta.physicalSizeXUm = meta.physicalSizeYUm = 0.5;
        meta.planes = {OmePlane{0, 0, 0, true, 10.0, 20.0, 0.0}};
        QString error;
        const bool written = writer.write(
            path, QSize(1500, 700), meta,
            [](int, int rows, cv::Mat* out, QString*) {
                *out = cv::Mat(rows, 1500, CV_8UC3, cv::Scalar(200, 40, 30));
                return true;
            },
            &error);
        QVERIFY2(written, qPrintable(error));
        const QJsonObject file = readBack(path, dir.filePath(QStringLiteral("red.xml")));
        QCOMPARE(file.value("compression").toInt(), COMPRESSION_JPEG);
        QCOMPARE(file.value("photometric").toInt(), PHOTOMETRIC_YCBCR);
        QCOMPARE(file.value("subsampling").toArray(), pair(2, 2));
        QCOMPARE(file.value("levels").toArray(), (QJsonArray{pair(1500, 700), pair(750, 350)}));
        TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
        QVERIFY(tif);
        std::vector<uint32_t> rgba(512 * 512);
        QVERIFY(TIFFReadRGBATile(tif, 0, 0, rgba.data()));
        TIFFClose(tif);
        const uint32_t p = rgba[512 * 256 + 256];
        const QString rgb = QStringLiteral("%1 %2 %3").arg(TIFFGetR(p)).arg(TIFFGetG(p)).arg(TIFFGetB(p));
        QVERIFY2(qAbs(int(TIFFGetR(p)) - 200) <= 4, qPrintable(rgb));
        QVERIFY2(qAbs(int(TIFFGetG(p)) - 40) <= 4, qPrintable(rgb));
        QVERIFY2(qAbs(int(TIFFGetB(p)) - 30) <= 4, qPrintable(rgb));
    }

    void levelsAreMeansOfTheLevelAbove_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("odd") << QSize(2309, 1537);
        QTest::newRow("even") << QSize(2048, 1536);
        QTest::newRow("one tile row") << QSize(4101, 301);
    }

    // Every reduced level is the 2 x 2 mean of the level above, to its last
    // row and column, which are white here against a darker pattern.
    void levelsAreMeansOfTheLevelAbove()
    {
        QFETCH(QSize, size);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("levels.ome.tif"));
        OmeImage meta;
        meta.physicalSizeXUm = meta.physicalSizeYUm = 0.5;
        meta.planes = {OmePlane{0, 0, 0, true, 10.0, 20.0, 0.0}};
        QString error;
        const bool written = PyramidWriter().write(
            path, size, meta,
            [&](int y, int rows, cv::Mat* out, QString*) {
                out->create(rows, size.width(), CV_8UC3);
                for (int r = 0; r < rows; ++r)
                    for (int c = 0; c < size.width(); ++c)
                        out->at<cv::Vec3b>(r, c) = y + r == size.height() - 1 || c == size.width() - 1
                                                       ? cv::Vec3b(255, 255, 255)
                                                       : cv::Vec3b((c * 7) & 127, ((y + r) * 13) & 127, (c ^ r) & 63);
                return true;
            },
            &error);
        QVERIFY2(written, qPrintable(error));
        const QJsonArray diff = readBack(path, dir.filePath(QStringLiteral("levels.xml"))).value("leveldiff").toArray();
        QCOMPARE(diff.size(), PyramidWriter::levelSizes(size).size() - 1);
        for (const QJsonValue& d : diff)
            QCOMPARE(d.toInt(), 0);
    }

    void failedSaveLeavesNothing_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<bool>("sourceFails");
        QTest::addColumn<QString>("message");
        QTest::newRow("cancelled") << QString() << true << false << "Cancelled.";
        QTest::newRow("picture fails") << QString() << false << true << "tile 3 unreadable";
        QTest::newRow("folder missing") << "gone" << false << false << "Cannot write in";
    }

    void failedSaveLeavesNothing()
    {
        QFETCH(QString, folder);
        QFETCH(bool, cancel);
        QFETCH(bool, sourceFails);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString path = dir.filePath(folder.isEmpty() ? QStringLiteral("big.ome.tif") : folder + "/big.ome.tif");
        std::atomic<bool> stop{false};
        PyramidWriter writer;
        writer.setCancelFlag(&stop);
        writer.setProgress([&](double fraction) { stop = cancel && fraction > 0.3; });
        QString error;
        const bool written = writer.write(
            path, QSize(2400, 3000), OmeImage(),
            [&](int y, int rows, cv::Mat* out, QString* why) {
                *out = cv::Mat(rows, 2400, CV_8UC3, cv::Scalar(y % 256, 90, 160));
                if (sourceFails && y > 1000)
                    *why = QStringLiteral("tile 3 unreadable");
                return !(sourceFails && y > 1000);
            },
            &error);
        QVERIFY(!written);
        QVERIFY2(error.startsWith(message), qPrintable(error));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestMosaic)
#include "tst_mosaic.moc"
