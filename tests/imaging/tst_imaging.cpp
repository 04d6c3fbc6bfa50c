#include "imaging/FlatFieldEstimator.h"
#include "imaging/FocusFusion.h"
#include "imaging/PictureFile.h"
#include "imaging/StackFile.h"
#include "imaging/StackLayout.h"
#include "imaging/StackReader.h"
#include "imaging/TiffFile.h"
#include "sim/SlideModel.h"
#include "sim/SlideRenderer.h"
#include "sim/ThickSpecimen.h"

#include "sim/OrvexServer.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <opencv2/imgproc.hpp>

namespace {

cv::Mat luminance(const QImage& image)
{
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    cv::Mat out;
    cv::Mat(grey.height(), grey.width(), CV_8U, const_cast<uchar*>(grey.constBits()), size_t(grey.bytesPerLine()))
        .convertTo(out, CV_32F);
    return out;
}

double ssim(const cv::Mat& a, const cv::Mat& b)
{
    auto g = [](const cv::Mat& m) {
        cv::Mat o;
        cv::GaussianBlur(m, o, cv::Size(11, 11), 1.5);
        return o;
    };
    const cv::Mat ma = g(a), mb = g(b), sab = g(a.mul(b)) - ma.mul(mb);
    const cv::Mat var = g(a.mul(a)) - ma.mul(ma) + g(b.mul(b)) - mb.mul(mb);
    cv::Mat map;
    cv::divide((2 * ma.mul(mb) + 6.5025).mul(2 * sab + 58.5225), (ma.mul(ma) + mb.mul(mb) + 6.5025).mul(var + 58.5225),
               map);
    return cv::mean(map)[0];
}

QImage pattern(int w, int h, int seed)
{
    QImage img(w, h, QImage::Format_RGB888);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, qRgb((x * 13 + seed) & 255, (y * 29 + x * x) & 255, (x ^ y) * 5 & 255));
    return img;
}

} // namespace

class TestImaging : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    // A thick specimen from the test server: the fused picture beats every single
    // plane and the height map finds the specimen's surface.
    void fusionAgainstTruth_data()
    {
        QTest::addColumn<QString>("slide");
        QTest::newRow("smear") << "smear-31";
        QTest::newRow("thick section") << "thick-32";
    }
    void fusionAgainstTruth()
    {
        QFETCH(QString, slide);
        const SlideModel model(slide, 1);
        const double x = model.marks().first().x, y = model.marks().first().y;
        const int w = 640, h = 480, planes = 11;
        const std::vector<float> truthZ = ThickSpecimen::truthHeightUm(model, x, y, w, h);
        const auto [lo, hi] = std::minmax_element(truthZ.begin(), truthZ.end());
        const double step = (*hi - *lo + 2) / (planes - 1), first = *lo - 1;
        const cv::Mat truth = luminance(ThickSpecimen::truthFrame(model, x, y, w, h));
        FocusFusion fusion;
        fusion.begin(QSize(w, h));
        double best = 0;
        for (int i = 0; i < planes; ++i) {
            const QImage frame = SlideRenderer::frame(model, x, y, (first + i * step) * 10, w, h, quint32(i));
            best = std::max(best, ssim(luminance(frame), truth));
            QVERIFY(fusion.addPlane(frame, first + i * step));
        }
        const FusionResult result = fusion.finish();
        const double fused = ssim(luminance(result.picture), truth);
        QVERIFY2(fused > best + 0.03, qPrintable(QStringLiteral("fused %1, best plane %2").arg(fused).arg(best)));
        cv::Mat error = cv::abs(result.heightUm - cv::Mat(h, w, CV_32F, const_cast<float*>(truthZ.data())));
        std::vector<float> e(error.begin<float>(), error.end<float>());
        std::nth_element(e.begin(), e.begin() + e.size() / 2, e.end());
        // Refined between planes: heights snapped to the planes' z would be a
        // quarter step off in the median, and few would lie between planes.
        const auto between = std::count_if(result.heightUm.begin<float>(), result.heightUm.end<float>(), [&](float z) {
            return std::abs(std::remainder(z - first, step)) > 0.1 * step;
        });
        QVERIFY2(e[e.size() / 2] < 0.2 * step, qPrintable(QString::number(e[e.size() / 2] / step)));
        QVERIFY2(between > 0.4 * e.size(), qPrintable(QString::number(double(between) / e.size())));
    }

    // The test server's truth requests: pictures of the frame's size, heights in
    // stage units where the specimen is in focus; nothing for unknown slides.
    void truthRequests_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<int>("status");
        QTest::addColumn<QSize>("size");
        QTest::newRow("all in focus") << "f=aif&s=smear-31&x=380000&y=250000&ps=2" << 200 << QSize(800, 600);
        QTest::newRow("height map") << "f=height&s=thick-32&x=380000&y=250000&ps=1" << 200 << QSize(640, 480);
        QTest::newRow("unknown slide") << "f=aif&s=nothing&x=1&y=1&ps=1" << 404 << QSize(0, 0);
        QTest::newRow("bad size") << "f=aif&s=smear-31&x=1&y=1&ps=9" << 200 << QSize(0, 0);
    }
    void truthRequests()
    {
        QFETCH(QString, query);
        QFETCH(int, status);
        QFETCH(QSize, size);
        OrvexServer server;
        QVERIFY(server.listen());
        QNetworkAccessManager net;
        QNetworkReply* reply = net.get(QNetworkRequest(QUrl("http://" + server.host() + "/cgi-bin/otruth?" + query)));
        QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), 30000);
        QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), status);
        const QImage img = QImage::fromData(reply->readAll());
        QCOMPARE(img.size(), size);
        if (query.startsWith("f=height")) {
            const double z = ThickSpecimen::surfaceAt(SlideModel("thick-32", 1), 380000 + 2.5, 250000 + 2.5);
            QCOMPARE(reinterpret_cast<const quint16*>(img.constScanLine(240))[320], quint16(std::lround(z)));
        }
        delete reply;
    }

    // One plane: the picture is the plane at its depth, the height its z.
    void onePlane_data()
    {
        QTest::addColumn<int>("type");
        QTest::newRow("8-bit RGB") << CV_8UC3;
        QTest::newRow("16-bit grey") << CV_16UC1;
    }
    void onePlane()
    {
        QFETCH(int, type);
        const QImage img = pattern(97, 61, 3);
        cv::Mat plane(img.height(), img.width(), CV_8UC3, const_cast<uchar*>(img.constBits()), img.bytesPerLine());
        if (type == CV_16UC1) {
            cv::cvtColor(plane, plane, cv::COLOR_RGB2GRAY);
            plane.convertTo(plane, CV_16U, 257);
        }
        FocusFusion fusion;
        fusion.begin(img.size());
        QVERIFY(fusion.addPlane(plane, 12.5));
        const FusionResult r = fusion.finish();
        QCOMPARE(r.image.type(), type);
        cv::Mat diff;
        cv::absdiff(r.image, plane, diff);
        double worst = 0;
        cv::minMaxLoc(diff.reshape(1), nullptr, &worst);
        QVERIFY2(worst <= 1, qPrintable(QString::number(worst)));
        QCOMPARE(cv::countNonZero(r.heightUm != 12.5f), 0);
    }

    // The stack writer leaves a whole file or none, and never harms the old one.
    void stackFile_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::addColumn<bool>("written");
        QTest::newRow("finished") << "finish" << true;
        QTest::newRow("cancelled") << "cancel" << false;
        QTest::newRow("plane of another size") << "mismatch" << false;
    }
    void stackFile()
    {
        QFETCH(QString, ending);
        QFETCH(bool, written);
        const QString path = dir.filePath(ending + ".ome.tif");
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        QVERIFY(old.write("old") == 3);
        old.close();
        OmeImage meta;
        meta.sizeZ = 2;
        StackFile file;
        QString error;
        QVERIFY(file.begin(path, meta, &error));
        QVERIFY(file.addPlane(pattern(32, 24, 0), &error));
        if (ending == "mismatch") {
            QVERIFY(!file.addPlane(pattern(33, 24, 1), &error));
            QVERIFY(error.contains("33 x 24"));
        } else if (ending == "cancel") {
            file.cancel();
        } else {
            QVERIFY(file.addPlane(pattern(32, 24, 1), &error));
            QVERIFY(file.finish(&error));
        }
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).filter(ending).size(), 1);
        StackReader reader;
        QCOMPARE(reader.open(path, &error), written);
        cv::Mat plane;
        if (!written) {
            QVERIFY(error.contains("not a TIFF"));
            return;
        }
        QCOMPARE(reader.planeCount(), 2);
        QVERIFY2(reader.readPlane(1, &plane, &error), qPrintable(error));
        QImage second = pattern(32, 24, 1);
        const cv::Mat expected(24, 32, CV_8UC3, second.bits(), 96);
        QCOMPARE(cv::countNonZero(plane.reshape(1) != expected.reshape(1)), 0);
    }

    // tessan-fuse refuses what is not a stack, says why, and writes nothing.
    void fuseRefuses_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing file") << "missing.tif"
                                      << "no such file";
        QTest::newRow("not a TIFF") << "text.tif"
                                    << "not a TIFF";
        QTest::newRow("single page") << "single.ome.tif"
                                     << "single picture";
        QTest::newRow("planes of different sizes") << "sizes.tif"
                                                   << "differ in size";
        QTest::newRow("16-bit float") << "float.tif"
                                      << "32-bit";
        QTest::newRow("time points") << "times.tif"
                                     << "2 z-planes × 3 time points";
        // hostile_WORD_*: a header past the reader's limits, refused with WORD in the message
        for (const QFileInfo& f : QDir(TESSAN_HOSTILE).entryInfoList({"hostile_*"}))
            QTest::newRow(qPrintable(f.fileName())) << f.filePath() << f.fileName().section('_', 1, 1);
    }
    void fuseRefuses()
    {
        QFETCH(QString, input);
        QFETCH(QString, message);
        QFile text(dir.filePath("text.tif"));
        QVERIFY(text.open(QIODevice::WriteOnly));
        QVERIFY(text.write("II*\0 not really", 15) == 15);
        text.close();
        QString error;
        const cv::Mat height(8, 8, CV_32F, cv::Scalar(1));
        QVERIFY(
            PictureFile::writeOmeTiff(dir.filePath("single.ome.tif"), pattern(8, 8, 0), OmeImage(), nullptr, &error));
        QVERIFY(PictureFile::writeHeightOmeTiff(dir.filePath("float.tif"), height, OmeImage(), &error));
        {
            TiffFile sizes;
            QVERIFY(sizes.openWrite(dir.filePath("sizes.tif"), false));
            QVERIFY(sizes.writeImage(cv::Mat(8, 8, CV_8UC3, cv::Scalar(1, 2, 3)), QByteArray()));
            QVERIFY(sizes.writeImage(cv::Mat(8, 9, CV_8UC3, cv::Scalar(1, 2, 3)), QByteArray()));
            QVERIFY(sizes.commit());
            TiffFile times;
            QVERIFY(times.openWrite(dir.filePath("times.tif"), false));
            for (int i = 0; i < 6; ++i)
                QVERIFY(
                    times.writeImage(cv::Mat(8, 8, CV_8U), i ? "" : "ImageJ=1.54f\nimages=6\nslices=2\nframes=3\n"));
            QVERIFY(times.commit());
        }
        QProcess fuse;
        fuse.start(TESSAN_FUSE, {QDir(dir.path()).filePath(input), "-o", dir.filePath("out.ome.tif")});
        QVERIFY(fuse.waitForFinished(30000));
        QCOMPARE(fuse.exitCode(), 1);
        QVERIFY2(fuse.readAllStandardError().contains(message.toUtf8()), qPrintable(message));
        QVERIFY(!QFile::exists(dir.filePath("out.ome.tif")));
    }

    // The page of each channel and z-plane, as OME-XML and ImageJ lay them out:
    // "channels x z-planes: pages, z step", or what the refusal names.
    void stackLayout_data()
    {
        QTest::addColumn<QByteArray>("description");
        QTest::addColumn<int>("samples");
        QTest::addColumn<QString>("layout");
        const QByteArray ome = "<OME><Image ID='Image:0'><Pixels ID='Pixels:0' SizeX='4' SizeY='4' ";
        QTest::newRow("ImageJ, channel fastest, no decimal comma")
            << QByteArray("ImageJ=1.54f\nimages=6\nchannels=2\nslices=3\nspacing=0,5\nunit=micron\n") << 1
            << "2 x 3: 0 1 2 3 4 5, 0";
        QTest::newRow("ImageJ in nm") << QByteArray("ImageJ=1.54f\nimages=3\nspacing=250\nunit=nm\n") << 1
                                      << "1 x 3: 0 1 2, 0.25";
        QTest::newRow("OME, z fastest")
            << ome + "DimensionOrder='XYZCT' SizeC='2' SizeZ='3'><TiffData/></Pixels></Image></OME>" << 1
            << "2 x 3: 0 3 1 4 2 5, 0";
        QTest::newRow("OME, a TiffData per plane")
            << ome + "DimensionOrder='XYCZT' SizeC='2' SizeZ='2'><TiffData IFD='3'/><TiffData IFD='2' FirstC='1'/>"
                     "<TiffData IFD='1' FirstZ='1'/><TiffData IFD='0' FirstC='1' FirstZ='1'/></Pixels></Image></OME>"
            << 1 << "2 x 2: 3 2 1 0, 0";
        QTest::newRow("OME RGB, no SamplesPerPixel")
            << ome + "SizeC='3' SizeZ='2'><Channel ID='Channel:0:0'/><TiffData/></Pixels></Image></OME>" << 3
            << "1 x 2: 0 1, 0";
        QTest::newRow("OME, a plane without page")
            << ome + "SizeZ='3'><TiffData IFD='0' PlaneCount='2'/></Pixels></Image></OME>" << 1 << "no page";
    }
    void stackLayout()
    {
        QFETCH(QByteArray, description);
        QFETCH(int, samples);
        QFETCH(QString, layout);
        StackLayout got;
        QString why;
        QVector<OmeImage> images;
        const bool ok = description.startsWith("ImageJ")
                            ? StackLayout::fromImageJ(description, StackReader::kMaxPages, &got, &why)
                            : OmeXml::read(description, &images, &why) &&
                                  StackLayout::fromOme(images.first(), samples, StackReader::kMaxPages, &got, &why);
        QStringList pages;
        for (const int page : got.pages)
            pages << QString::number(page);
        QVERIFY2(ok ? QStringLiteral("%1 x %2: %3, %4")
                              .arg(got.channels)
                              .arg(got.sizeZ)
                              .arg(pages.join(' '))
                              .arg(got.zStepUm) == layout
                    : why.contains(layout),
                 qPrintable(why + pages.join(' ')));
    }

    // Lengths in other units come back in µm; positions without a unit are the
    // stage's own frame and not taken for µm.
    void omeXmlRead_data()
    {
        QTest::addColumn<QByteArray>("pixels");
        QTest::addColumn<double>("sizeX");
        QTest::addColumn<double>("z");
        const QByteArray plane = "<Plane TheZ='0' TheT='0' TheC='0' PositionZ='3'";
        QTest::newRow("default units") << "PhysicalSizeX='0.5'>" + plane + "/>" << 0.5 << -1.0;
        QTest::newRow("nm and mm") << "PhysicalSizeX='250' PhysicalSizeXUnit='nm'>" + plane + " PositionZUnit='mm'/>"
                                   << 0.25 << 3000.0;
        QTest::newRow("not a length") << "PhysicalSizeX='2' PhysicalSizeXUnit='s'>" + plane + " PositionZUnit='µm'/>"
                                      << 0.0 << 3.0;
        QTest::newRow("malformed") << QByteArray("PhysicalSizeX='1'><Plane") << -1.0 << 0.0;
    }
    void omeXmlRead()
    {
        QFETCH(QByteArray, pixels);
        QFETCH(double, sizeX);
        QFETCH(double, z);
        const QByteArray xml = "<OME><Image ID='Image:0'><Pixels ID='Pixels:0' SizeX='4' SizeY='4' SizeZ='1' " +
                               pixels + "</Pixels></Image></OME>";
        QVector<OmeImage> images;
        QString error;
        QCOMPARE(OmeXml::read(xml, &images, &error), sizeX >= 0);
        if (sizeX < 0) {
            QVERIFY(!error.isEmpty());
            QVERIFY(images.isEmpty());
            return;
        }
        QCOMPARE(images.first().physicalSizeXUm, sizeX);
        QCOMPARE(images.first().planes.first().hasPosition, z >= 0);
        if (z >= 0)
            QCOMPARE(images.first().planes.first().zUm, z);
    }

    void flatFieldFromTheTiles_data()
    {
        QTest::addColumn<QPointF>("centre"); // of the fall-off, as a share of the frame
        QTest::addColumn<double>("corner");  // light in the farthest corner against the centre
        QTest::addColumn<int>("blobs");      // tissue patches per frame
        QTest::addColumn<double>("dark");    // offset in grey levels
        QTest::addColumn<double>("lamp");    // the dimmest frame's light against the brightest
        QTest::addColumn<int>("seed");
        QTest::newRow("centred, to 75 %, sparse tissue") << QPointF(0.5, 0.5) << 0.75 << 4 << 0.0 << 1.0 << 7;
        QTest::newRow("centred, to 75 %, dense tissue") << QPointF(0.5, 0.5) << 0.75 << 25 << 0.0 << 1.0 << 7;
        QTest::newRow("off centre, to 60 %") << QPointF(0.35, 0.6) << 0.6 << 10 << 0.0 << 1.0 << 7;
        // the second scene once made the offset's first estimates swing past the plausible
        QTest::newRow("dark offset, flickering lamp") << QPointF(0.5, 0.5) << 0.75 << 8 << 20.0 << 0.5 << 7;
        QTest::newRow("dark offset, another scene") << QPointF(0.5, 0.5) << 0.75 << 8 << 20.0 << 0.5 << 5;
    }

    // Frames of glass and tissue-like patches under a known fall-off: the
    // estimate matches it within 2 % everywhere, and finds the dark offset
    // when the frames' light varies enough to tell it from gain.
    void flatFieldFromTheTiles()
    {
        QFETCH(QPointF, centre);
        QFETCH(double, corner);
        QFETCH(int, blobs);
        QFETCH(double, dark);
        QFETCH(double, lamp);
        QFETCH(int, seed);
        const cv::Size size(320, 240);
        cv::Mat truth(size, CV_32FC1);
        const double cx = centre.x() * size.width, cy = centre.y() * size.height;
        const double far = std::max(cx, size.width - cx) * std::max(cx, size.width - cx) +
                           std::max(cy, size.height - cy) * std::max(cy, size.height - cy);
        for (int y = 0; y < size.height; ++y)
            for (int x = 0; x < size.width; ++x)
                truth.at<float>(y, x) = float(1.0 - (1.0 - corner) * ((x - cx) * (x - cx) + (y - cy) * (y - cy)) / far);
        truth /= cv::mean(truth)[0];
        FlatFieldEstimator estimator(size);
        cv::RNG rng(seed);
        for (int i = 0; i < 60; ++i) {
            cv::Mat scene(size, CV_32FC3, cv::Scalar(205, 200, 210));
            // One draw a statement: the order of a call's arguments differs between compilers.
            for (int b = 0; b < blobs; ++b) {
                int v[8];
                const int range[8][2] = {{0, size.width}, {0, size.height}, {10, 50},  {10, 40},
                                         {0, 180},        {90, 170},        {40, 120}, {100, 170}};
                for (int k = 0; k < 8; ++k)
                    v[k] = rng.uniform(range[k][0], range[k][1]);
                cv::ellipse(scene, cv::Point(v[0], v[1]), cv::Size(v[2], v[3]), v[4], 0, 360,
                            cv::Scalar(v[5], v[6], v[7]), -1);
            }
            cv::GaussianBlur(scene, scene, cv::Size(0, 0), 2.0);
            const double light = rng.uniform(lamp, 1.0);
            cv::Mat noise(size, CV_32FC3);
            rng.fill(noise, cv::RNG::NORMAL, 0, 2);
            cv::Mat gain3, frame;
            cv::cvtColor(truth, gain3, cv::COLOR_GRAY2RGB);
            cv::Mat(scene.mul(gain3) * light + dark + noise).convertTo(frame, CV_8UC3);
            estimator.add(frame);
        }
        const FlatField found = estimator.estimate();
        QVERIFY(found.isValid());
        cv::Mat error;
        cv::divide(found.gain() / cv::mean(found.gain())[0], truth, error);
        double lo = 0, hi = 0;
        cv::minMaxLoc(error, &lo, &hi);
        QVERIFY2(lo >= 0.98 && hi <= 1.02, qPrintable(QStringLiteral("gain / truth %1 .. %2").arg(lo).arg(hi)));
        QCOMPARE(found.hasDark(), dark > 0);
        if (found.hasDark()) {
            cv::minMaxLoc(found.dark(), &lo, &hi);
            QVERIFY2(lo >= dark - 4 && hi <= dark + 4, qPrintable(QStringLiteral("dark %1 .. %2").arg(lo).arg(hi)));
        }
    }
};

QTEST_GUILESS_MAIN(TestImaging)
#include "tst_imaging.moc"
