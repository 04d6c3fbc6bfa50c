#include "acquire/RecipeSession.h"
#include "views/HighResPreview.h"
#include "views/LowResPreview.h"

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>

#include <benchmark/benchmark.h>

namespace {

QApplication& application()
{
    static int argc = 1;
    static char name[] = "tessan-bench";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(argc, argv);
    return app;
}

// A slide-like picture, so painting cannot take a shortcut for plain fills.
QImage slidePicture(int width, int height)
{
    QImage picture(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = qRgb((x * 7) & 255, (y * 5) & 255, ((x + y) * 3) & 255);
    }
    return picture;
}

class BenchHighRes : public HighResPreview
{
public:
    using HighResPreview::loadPixmap;
    using HighResPreview::mouseMoveEvent;
    using HighResPreview::mousePressEvent;
};

class BenchLowRes : public LowResPreview
{
public:
    using LowResPreview::loadImage;
};

QMouseEvent mouseEvent(QEvent::Type type, const QPoint& pos)
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    return QMouseEvent(type, QPointF(pos), QPointF(pos), button, Qt::LeftButton, Qt::NoModifier);
}

// One drag step: the location moves and is announced, then the visible window
// of the 3060 x 2036 picture is painted.
void BM_HighResDrag(benchmark::State& state)
{
    application();
    BenchHighRes preview;
    preview.resize(383, 246);
    QPixmap slide = QPixmap::fromImage(slidePicture(Calibration::pictureWidth, Calibration::pictureHeight));
    preview.loadPixmap(slide);
    int announced = 0;
    QObject::connect(&preview, &HighResPreview::locationChanged, &preview, [&announced] { ++announced; });
    QImage target(preview.size(), QImage::Format_ARGB32_Premultiplied);
    QMouseEvent press = mouseEvent(QEvent::MouseButtonPress, QPoint(191, 123));
    preview.mousePressEvent(&press);
    int step = 0;
    for (auto _ : state) {
        step = (step + 1) % 200;
        QMouseEvent move = mouseEvent(QEvent::MouseMove, QPoint(91 + step, 123 + step / 4));
        preview.mouseMoveEvent(&move);
        preview.render(&target);
        benchmark::DoNotOptimize(target.constBits());
    }
    benchmark::DoNotOptimize(announced);
}
BENCHMARK(BM_HighResDrag);

// A repaint of the overview with its picture and both markers.
void BM_OverviewPaint(benchmark::State& state)
{
    application();
    BenchLowRes preview;
    preview.resize(383, 255);
    QImage overview = slidePicture(1530, 1018);
    preview.loadImage(overview);
    QImage target(preview.size(), QImage::Format_ARGB32_Premultiplied);
    preview.render(&target);
    for (auto _ : state) {
        preview.render(&target);
        benchmark::DoNotOptimize(target.constBits());
    }
}
BENCHMARK(BM_OverviewPaint);

// A server frame to the screen: the JPEG decoded, handed to the preview and
// painted, with the event loop run as the window runs it. Argument 1 keeps an
// idle engine beside it (a recipe session: login, stage, clock, scan, jobs),
// as the window holds one; 0 has none, side by side in one run.
void BM_FrameToScreen(benchmark::State& state)
{
    application();
    std::unique_ptr<RecipeSession> engine;
    if (state.range(0) == 1)
        engine = std::make_unique<RecipeSession>();
    BenchHighRes preview;
    preview.resize(383, 246);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    slidePicture(640, 480).save(&buffer, "JPEG", 85);
    QImage target(preview.size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        QPixmap frame = QPixmap::fromImage(QImage::fromData(jpeg, "JPEG"));
        preview.loadPixmap(frame);
        preview.render(&target);
        QCoreApplication::processEvents();
        benchmark::DoNotOptimize(target.constBits());
    }
    state.SetLabel(engine ? "idle engine present" : "no engine");
}
BENCHMARK(BM_FrameToScreen)->Arg(0)->Arg(1);

// The floor both are measured against: one drawPixmap of the visible area.
void BM_DrawPixmapFloor(benchmark::State& state)
{
    application();
    const QPixmap slide = QPixmap::fromImage(slidePicture(Calibration::pictureWidth, Calibration::pictureHeight));
    QImage target(383, 255, QImage::Format_ARGB32_Premultiplied);
    int step = 0;
    for (auto _ : state) {
        step = (step + 1) % 200;
        QPainter painter(&target);
        painter.drawPixmap(QPoint(0, 0), slide, QRect(1339 + step, 895 + step / 4, 383, 255));
        painter.end();
        benchmark::DoNotOptimize(target.constBits());
    }
}
BENCHMARK(BM_DrawPixmapFloor);

} // namespace
