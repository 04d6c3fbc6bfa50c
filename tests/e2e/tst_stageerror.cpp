#include "SessionHarness.h"
#include "sim/SlideModel.h"
#include "sim/StageError.h"
#include "sim/TruthRequest.h"
#include "views/VideoView.h"
#include "views/VideoWindow.h"

#include <QtTest>
#include <opencv2/imgproc.hpp>

namespace {

cv::Mat grey(const QImage& image)
{
    const QImage g = image.convertToFormat(QImage::Format_Grayscale8);
    cv::Mat out;
    cv::Mat(g.height(), g.width(), CV_8UC1, const_cast<uchar*>(g.constBits()), size_t(g.bytesPerLine()))
        .convertTo(out, CV_32F);
    return out;
}

} // namespace

// The test server's imperfect stage: an ordinary move lands off the
// requested point while the server reports the requested point; the frame
// shows where it landed.
class TestStageError : public QObject
{
    Q_OBJECT

private slots:
    void frameShowsWhereTheStageLanded_data()
    {
        QTest::addColumn<double>("errorUm");
        QTest::addColumn<bool>("camera");
        QTest::newRow("exact stage") << 0.0 << false;
        QTest::newRow("5 um stage error") << 5.0 << false;
        QTest::newRow("5 um, dust, fall-off, JPEG 85") << 5.0 << true;
    }

    void frameShowsWhereTheStageLanded()
    {
        QFETCH(double, errorUm);
        QFETCH(bool, camera);
        OrvexServerOptions options;
        options.stageErrorUm = errorUm;
        options.camera.dust = camera;
        options.camera.cornerLight = camera ? 0.75 : 1.0;
        SessionHarness h;
        QVERIFY(h.start(options));
        h.session->xCoord->setText(QStringLiteral("38.8"));
        h.session->yCoord->setText(QStringLiteral("24.4"));
        h.session->frameGrabButton->click();
        QVERIFY(h.settle());
        QVERIFY(h.status() == QStringLiteral("Ready."));
        const QPointF requested(388000, 244000);
        QCOMPARE(QPointF(h.session->currentCoords.x, h.session->currentCoords.y), requested);

        // the frame against the truth at the requested point: the offset is the landing error
        const QImage frame = h.session->videoWindow->imageView->sourcePicture();
        const SlideModel slide(h.info.scope.slides.first(), options.seed);
        const QImage truth =
            TruthRequest::render(slide, requested.x() - (frame.width() - 1) * 2.5,
                                 requested.y() - (frame.height() - 1) * 2.5, frame.width(), frame.height(), 5.0);
        cv::Mat window;
        cv::createHanningWindow(window, cv::Size(frame.width(), frame.height()), CV_32F);
        const cv::Point2d shift = cv::phaseCorrelate(grey(frame), grey(truth), window);
        const QPointF landed = StageError::landing(options.seed, requested.x(), requested.y(), errorUm * 10.0) / 5.0;
        QVERIFY2(std::hypot(shift.x - landed.x(), shift.y - landed.y()) <= 1.0,
                 qPrintable(QStringLiteral("%1 %2 / %3 %4").arg(shift.x).arg(shift.y).arg(landed.x()).arg(landed.y())));
        QCOMPARE(landed.isNull(), errorUm == 0.0);
        // the lens's fall-off darkens the corner beyond the lighting, which the truth lacks
        const cv::Mat f = grey(frame), t = grey(truth);
        auto share = [&](cv::Rect r) { return cv::mean(f(r))[0] / cv::mean(t(r))[0]; };
        const double corner = share({0, 0, 40, 40}) / share({300, 220, 40, 40});
        QVERIFY2((corner < 0.63) == camera, qPrintable(QString::number(corner)));
    }
};

QTEST_MAIN(TestStageError)
#include "tst_stageerror.moc"
