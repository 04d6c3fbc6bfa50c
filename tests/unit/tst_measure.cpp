// Measuring on the live picture, the crosshair, the burnt-in scale bar and
// the marks as GeoJSON, without a server.
#include "session/MarksController.h"
#include "views/MeasureTool.h"
#include "views/VideoView.h"
#include "views/marks/AnnotationStore.h"
#include "views/marks/MarksGeoJson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMainWindow>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// A grey frame taken at stage (37.835 mm, 25.1625 mm, 100 µm), 0.5 µm per pixel.
void showFrame(VideoView& view, QSize frame, int sizeAfter)
{
    static const QSize sizes[] = {{640, 480}, {800, 600}, {1024, 768}, {1280, 960}};
    view.setMPP(0.5f, 0.5f);
    view.setVidSize(int(std::find(sizes, sizes + 4, frame) - sizes) + 1);
    FrameRecord record;
    record.stage.x = 378350;
    record.stage.y = 251625;
    record.stage.z = 1000;
    view.setRecord(record);
    QImage grey(frame, QImage::Format_RGB32);
    grey.fill(qRgb(128, 128, 128));
    view.setImage(grey);
    if (sizeAfter)
        view.setVidSize(sizeAfter); // the picture is drawn stretched until the next frame
}

QJsonArray coordinatesOf(const QByteArray& json)
{
    QJsonArray all;
    for (const QJsonValue& f : QJsonDocument::fromJson(json).object().value(QStringLiteral("features")).toArray())
        all.append(f.toObject().value(QStringLiteral("geometry")).toObject().value(QStringLiteral("coordinates")));
    return all;
}

void compareNumbers(const QJsonValue& a, const QJsonValue& b)
{
    QCOMPARE(a.isArray(), b.isArray());
    if (!a.isArray()) {
        QVERIFY2(std::abs(a.toDouble() - b.toDouble()) <= 1e-4, qPrintable(QString::number(a.toDouble())));
        return;
    }
    QCOMPARE(a.toArray().size(), b.toArray().size());
    for (int i = 0; i < a.toArray().size(); ++i)
        compareNumbers(a.toArray()[i], b.toArray()[i]);
}

} // namespace

class TestMeasure : public QObject
{
    Q_OBJECT

private slots:
    void figures_data()
    {
        QTest::addColumn<QSize>("frame");
        QTest::addColumn<int>("sizeAfter"); // picture size chosen after the frame came
        QTest::addColumn<QString>("gesture");
        QTest::addColumn<QPolygon>("pixels"); // picture pixels
        QTest::addColumn<double>("length");   // µm; perimeter of closed shapes
        QTest::addColumn<double>("area");     // µm²
        QTest::addColumn<QString>("figures");
        const QPolygon line{QPoint(100, 100), QPoint(300, 100)};
        const QPolygon box{QPoint(100, 100), QPoint(200, 150)};
        const QPolygon slant{QPoint(100, 100), QPoint(220, 260)};
        const QPolygon triangle{QPoint(100, 100), QPoint(300, 100), QPoint(300, 200)};
        const QString lineFigures = QStringLiteral("100.0 µm");
        const QString boxFigures = QStringLiteral("50.0 × 25.0 µm, 1250 µm²");
        QTest::newRow("line 640x480") << QSize(640, 480) << 0 << "drag" << line << 100.0 << 0.0 << lineFigures;
        QTest::newRow("rect 640x480") << QSize(640, 480) << 0 << "shift" << box << 150.0 << 1250.0 << boxFigures;
        QTest::newRow("line 1024x768") << QSize(1024, 768) << 0 << "drag" << line << 100.0 << 0.0 << lineFigures;
        QTest::newRow("rect 1024x768") << QSize(1024, 768) << 0 << "shift" << box << 150.0 << 1250.0 << boxFigures;
        QTest::newRow("line just after 800x600")
            << QSize(640, 480) << 2 << "drag" << line << 100.0 << 0.0 << lineFigures;
        QTest::newRow("slant just after 800x600")
            << QSize(640, 480) << 2 << "drag" << slant << 100.0 << 0.0 << lineFigures;
        QTest::newRow("rect just after 1280x960")
            << QSize(640, 480) << 4 << "shift" << box << 150.0 << 1250.0 << boxFigures;
        QTest::newRow("polygon") << QSize(640, 480) << 0 << "clicks" << triangle << 261.803 << 2500.0
                                 << QStringLiteral("perimeter 261.8 µm, 2500 µm²");
    }

    void figures()
    {
        QFETCH(QSize, frame);
        QFETCH(int, sizeAfter);
        QFETCH(QString, gesture);
        QFETCH(QPolygon, pixels);
        QFETCH(double, length);
        QFETCH(double, area);
        QFETCH(QString, figures);
        VideoView view(nullptr, QStringLiteral("imageView"));
        showFrame(view, frame, sizeAfter);
        AnnotationStore store;
        auto* tool = new MeasureTool(&view, &store);
        tool->setMode(MeasureTool::Mode::Measure);
        QVector<QPoint> at;
        for (const QPoint& p : pixels) // picture pixels to view points
            at.append(QPoint(p.x() * view.width() / frame.width(), p.y() * view.height() / frame.height()));
        if (gesture == QLatin1String("clicks")) {
            for (const QPoint& p : at)
                QTest::mouseClick(&view, Qt::LeftButton, {}, p);
            QTest::mouseDClick(&view, Qt::LeftButton, {}, at.constLast());
        } else {
            const auto modifiers = gesture == QLatin1String("shift") ? Qt::ShiftModifier : Qt::NoModifier;
            QTest::mousePress(&view, Qt::LeftButton, modifiers, at[0]);
            QTest::mouseMove(&view, (at[0] + at[1]) / 2);
            QTest::mouseMove(&view, at[1]);
            QTest::mouseRelease(&view, Qt::LeftButton, modifiers, at[1]);
        }
        QCOMPARE(store.all().size(), 1);
        const Annotation kept = store.all().first();
        QVERIFY2(std::abs(kept.lengthMicrometres() - length) < 1e-3, qPrintable(kept.figures()));
        QVERIFY2(std::abs(kept.areaSquareMicrometres() - area) < 1e-3, qPrintable(kept.figures()));
        QCOMPARE(kept.figures(), figures);
        QCOMPARE(kept.zMicrometres, 100.0);
        // A click on the shape selects it, Delete removes it.
        store.select(0);
        QTest::mouseClick(&view, Qt::LeftButton, {}, (at[0] + at[1]) / 2 + QPoint(0, 2));
        QCOMPARE(store.selectedId(), kept.id);
        QTest::keyClick(&view, Qt::Key_Delete);
        QVERIFY(store.all().isEmpty());
        // The sampling region stayed where it was; Esc gives the mouse back to it.
        QCOMPARE(view.regionCentre(), QPoint(100, 100));
        QTest::keyClick(&view, Qt::Key_Escape);
        QCOMPARE(tool->mode(), MeasureTool::Mode::Off);
    }

    void crosshairIsTheCentringPixel_data()
    {
        QTest::addColumn<QSize>("frame");
        QTest::addColumn<int>("sizeAfter");
        QTest::newRow("640x480") << QSize(640, 480) << 0;
        QTest::newRow("1024x768") << QSize(1024, 768) << 0;
        QTest::newRow("just after 800x600") << QSize(640, 480) << 2;
    }

    void crosshairIsTheCentringPixel()
    {
        QFETCH(QSize, frame);
        QFETCH(int, sizeAfter);
        VideoView view(nullptr, QStringLiteral("imageView"));
        showFrame(view, frame, sizeAfter);
        OverlayPainter::Layers layers;
        layers.crosshair = true;
        view.setOverlays(layers);
        const QImage shot = view.grab().toImage();
        const auto isCrosshair = [&](int x, int y) {
            return (shot.pixel(x, y) & 0xffffff) == (OverlayPainter::crosshairColour.rgb() & 0xffffff);
        };
        QPoint found(-1, -1);
        for (int x = 0; x < shot.width(); ++x)
            if (isCrosshair(x, 5) && isCrosshair(x, shot.height() / 4))
                found.setX(x);
        for (int y = 0; y < shot.height(); ++y)
            if (isCrosshair(shot.width() - 5, y) && isCrosshair(shot.width() * 3 / 4, y))
                found.setY(y);
        QSignalSpy centred(&view, &VideoView::pointDoubleClicked);
        QTest::mouseDClick(&view, Qt::LeftButton, {}, found);
        QTest::mouseDClick(&view, Qt::LeftButton, {}, found + QPoint(1, 1));
        QCOMPARE(centred.size(), 2);
        QCOMPARE(centred[0], QVariantList({0.0f, 0.0f}));
        QVERIFY(centred[1][0].toFloat() > 0.0f);
        QVERIFY(centred[1][1].toFloat() > 0.0f);
    }

    void burntInScaleBar_data()
    {
        QTest::addColumn<QSize>("frame");
        QTest::addColumn<float>("mpp");
        QTest::newRow("640x480 at 0.5") << QSize(640, 480) << 0.5f;
        QTest::newRow("1280x960 at 0.5") << QSize(1280, 960) << 0.5f;
        QTest::newRow("800x600 at 0.37") << QSize(800, 600) << 0.37f;
    }

    void burntInScaleBar()
    {
        QFETCH(QSize, frame);
        QFETCH(float, mpp);
        VideoView view(nullptr, QStringLiteral("imageView"));
        showFrame(view, frame, 0);
        view.setMPP(mpp, mpp);
        const QImage saved = view.pictureWithOverlays();
        QCOMPARE(saved.size(), frame);
        int run = 0; // the longest white run in the lower-left quarter: the bar
        for (int y = saved.height() / 2; y < saved.height(); ++y)
            for (int x = 0, n = 0; x < saved.width() / 2; ++x) {
                n = (saved.pixel(x, y) & 0xffffff) == 0xffffff ? n + 1 : 0;
                run = std::max(run, n);
            }
        const QString label = ScaleBar::choose(mpp, frame.width()).label;
        const double micrometres =
            label.section(QLatin1Char(' '), 0, 0).toDouble() * (label.endsWith(QStringLiteral("mm")) ? 1000 : 1);
        QVERIFY2(std::abs(run * mpp - micrometres) <= mpp, qPrintable(QStringLiteral("%1 px, %2").arg(run).arg(label)));
    }

    void geoJson_data()
    {
        QTest::addColumn<QByteArray>("file"); // empty: the export of a few marks
        QTest::addColumn<QString>("error");   // empty: read back
        const QByteArray point =
            R"({"type":"Feature","geometry":{"type":"Point","coordinates":[1,2]},"properties":{}})";
        const auto collection = [](const QByteArray& features) {
            return R"({"type":"FeatureCollection","features":[)" + features + "]}";
        };
        QTest::newRow("round trip") << QByteArray() << QString();
        QTest::newRow("QuPath points") << collection(point + "," + point) << QString();
        QTest::newRow("not JSON") << QByteArray("x,y\n1,2\n") << "not GeoJSON";
        QTest::newRow("a single feature") << point << "not a GeoJSON FeatureCollection";
        QTest::newRow("multipolygon")
            << collection(point + R"(,{"type":"Feature","geometry":{"type":"MultiPolygon","coordinates":[]}})")
            << "Feature 2 is a MultiPolygon";
        QTest::newRow("other kind") << collection(R"({"type":"Feature","geometry":{"type":"Point","coordinates":[1,2]},
            "properties":{"kind":"cell"}})")
                                    << "kind \"cell\"";
        QTest::newRow("text for a number")
            << collection(R"({"type":"Feature","geometry":{"type":"LineString","coordinates":[[1,2],["3",4]]}})")
            << "not stage positions";
        QTest::newRow("open ring") << collection(R"({"type":"Feature","geometry":{"type":"Polygon",
            "coordinates":[[[0,0],[1,0],[1,1],[0,1]]]}})")
                                   << "not stage positions";
        QTest::newRow("a bookmark as a line") << collection(R"({"type":"Feature","geometry":{"type":"LineString",
            "coordinates":[[0,0],[1,0]]},"properties":{"kind":"bookmark"}})")
                                              << "not a point";
    }

    void geoJson()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, error);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("marks.geojson"));
        QMainWindow window;
        MarksController marks(&window);
        if (file.isEmpty()) {
            CoordinateTriple where;
            where.x = 378351.25f;
            where.y = 251625.5f;
            where.z = 1234;
            marks.setPhysical(where);
            QVERIFY(marks.addBookmark(QStringLiteral("first")));
            Annotation mark;
            mark.kind = Annotation::Kind::Measurement;
            for (auto shape : {Annotation::Shape::Line, Annotation::Shape::Rectangle, Annotation::Shape::Polygon}) {
                mark.shape = shape;
                mark.pointsMm = shape == Annotation::Shape::Rectangle
                                    ? Annotation::rectangleCorners({37.8351, 25.16}, {37.9, 25.2})
                                    : QVector<QPointF>{{37.95, 25.3}, {37.91234, 25.1}, {37.83512, 25.16251}};
                marks.store()->add(mark);
            }
            QVERIFY(marks.exportTo(path, &error));
            QFile read(path);
            QVERIFY(read.open(QIODevice::ReadOnly));
            file = read.readAll();
            // drawn clockwise as the numbers go (x right, y up): the ring runs the other way
            const QJsonArray ring{QJsonArray{37.95, 25.3}, QJsonArray{37.83512, 25.16251}, QJsonArray{37.91234, 25.1},
                                  QJsonArray{37.95, 25.3}};
            compareNumbers(coordinatesOf(file)[3], QJsonArray() << QJsonValue(ring)); // braces would copy ring under clang
        }
        QFile written(path);
        QVERIFY(written.open(QIODevice::WriteOnly));
        QVERIFY(written.write(file) == file.size());
        written.close();

        MarksController again(&window);
        Annotation old;
        old.pointsMm = {{1.0, 1.0}};
        again.store()->add(old);
        QString problem;
        const int count = again.importFrom(path, &problem);
        QCOMPARE(count < 0, !error.isEmpty());
        QVERIFY2(problem.contains(error), qPrintable(problem));
        QCOMPARE(again.store()->all().size(), 1 + std::max(0, count)); // nothing changed on a failure
        if (!error.isEmpty() || count != 4)
            return;
        const QString second = dir.filePath(QStringLiteral("again.geojson"));
        QVERIFY(again.exportTo(second, &problem));
        QFile reread(second);
        QVERIFY(reread.open(QIODevice::ReadOnly));
        const QJsonArray before = coordinatesOf(file);
        const QJsonArray after = coordinatesOf(reread.readAll());
        QCOMPARE(after.size(), before.size() + 1);
        for (int i = 0; i < before.size(); ++i)
            compareNumbers(before[i], after[i + 1]);
        QCOMPARE(again.store()->all()[3].shape, Annotation::Shape::Rectangle);
        QCOMPARE(again.store()->all()[1].zMicrometres, 123.4);
    }

    void mosaicPixels()
    {
        Annotation line;
        line.kind = Annotation::Kind::Measurement;
        line.shape = Annotation::Shape::Line;
        line.pointsMm = {{10.0, 20.0}, {10.1, 20.0}};
        Annotation outside = line;
        outside.pointsMm = {{12.0, 20.0}, {12.1, 20.0}};
        // 0.5 µm per pixel from (9.9 mm, 19.95 mm): 2000 pixels per mm.
        const QByteArray json = MarksGeoJson::writeForMosaic({line, outside}, {9.9, 19.95}, 0.5, QSize(1000, 1000));
        const QJsonArray features = QJsonDocument::fromJson(json).object().value(QStringLiteral("features")).toArray();
        QCOMPARE(features.size(), 1);
        compareNumbers(coordinatesOf(json)[0], QJsonArray{QJsonArray{200, 100}, QJsonArray{400, 100}});
        QCOMPARE(features[0].toObject()[QStringLiteral("properties")][QStringLiteral("objectType")].toString(),
                 QStringLiteral("annotation"));
    }
};

QTEST_MAIN(TestMeasure)
#include "tst_measure.moc"
