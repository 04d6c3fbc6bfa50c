// Opens a window in a given state against an in-process test server, for the
// README's screenshots: tessan-shots setup|scheduled|session|video|focus|marks|
// allinfocus|heightmap|mosaic (video: the first live frame with its scale bar;
// focus: a focus stack taken; marks: a measured picture with crosshair, grid, a
// bookmark and a note; mosaic: a 6 x 5 region scan with the stage error on;
// focusmap: a 6 x 6 scan of the tilted slide with a focus map;
// viewer [PNG]: a saved mosaic of the test slide opened and measured, the
// window also written to PNG when named)
#include "imaging/PyramidWriter.h"
#include "session/MarksController.h"
#include "session/Session.h"
#include "setup/ScopeBrowser.h"
#include "sim/OrvexServer.h"
#include "sim/SlideModel.h"
#include "sim/TruthRequest.h"
#include "views/AllInFocusWindow.h"
#include "views/MarksPanel.h"
#include "views/MosaicWindow.h"
#include "views/TiledView.h"
#include "views/VideoView.h"
#include "views/VideoWindow.h"
#include "views/ViewerMarks.h"
#include "views/ViewerWindow.h"
#include "views/marks/AnnotationStore.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

// A few marks as a user would leave them: a line, a rectangle and a polygon
// measured, a bookmark and a note, over a 50 µm grid and the crosshair.
void markUp(Session* s)
{
    MarksController* marks = s->marks;
    const PictureMap map = s->videoWindow->imageView->pictureMap();
    const auto keep = [&](Annotation::Shape shape, const QString& name, QVector<QPointF> pixels) {
        Annotation mark;
        mark.kind = shape == Annotation::Shape::Point ? Annotation::Kind::Note : Annotation::Kind::Measurement;
        mark.shape = shape;
        mark.name = name;
        mark.zMicrometres = map.zMicrometres();
        for (const QPointF& p : pixels)
            mark.pointsMm.append(map.toStageMm(p));
        return marks->store()->add(mark);
    };
    keep(Annotation::Shape::Line, QStringLiteral("Measurement 1"), {{60, 400}, {260, 400}});
    keep(Annotation::Shape::Rectangle, QStringLiteral("Measurement 2"),
         Annotation::rectangleCorners(QPointF(400, 90), QPointF(500, 140)));
    const int polygon = keep(Annotation::Shape::Polygon, QStringLiteral("Measurement 3"),
                             {{420, 280}, {520, 250}, {560, 340}, {470, 380}});
    keep(Annotation::Shape::Point, QStringLiteral("Nucleus"), {{180, 160}});
    marks->addBookmark(QStringLiteral("1 10:15:02"));
    marks->store()->select(polygon);
    marks->crosshairAction->setChecked(true);
    for (QAction* a : marks->gridGroup->actions())
        if (a->data().toInt() == 50)
            a->trigger();
    s->Stack_Acquisition->setCurrentWidget(marks->panel());
}

// A 4096 x 3072 mosaic of the test slide at 0.5 µm per pixel, saved as Save
// Mosaic saves it, opened in the viewer with a measurement, a note and a grid.
int viewerScene(const QString& png)
{
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("liver-01 mosaic.ome.tif"));
    const SlideModel slide(QStringLiteral("liver-01"), 1);
    OmeImage meta;
    meta.name = QStringLiteral("liver-01 mosaic");
    meta.physicalSizeXUm = meta.physicalSizeYUm = 0.5;
    OmePlane origin;
    origin.hasPosition = true;
    origin.xUm = 37000;
    origin.yUm = 24800;
    meta.planes = {origin};
    QString error;
    const bool written = PyramidWriter().write(
        path, QSize(4096, 3072), meta,
        [&](int y, int rows, cv::Mat* out, QString*) {
            const QImage band = TruthRequest::render(slide, 370000, 248000 + y * 5.0, 4096, rows, 5)
                                    .convertToFormat(QImage::Format_RGB888);
            *out = cv::Mat(band.height(), band.width(), CV_8UC3, const_cast<uchar*>(band.constBits()),
                           size_t(band.bytesPerLine()))
                       .clone();
            return true;
        },
        &error);
    ViewerWindow* viewer = written ? ViewerWindow::open(path, &error) : nullptr;
    if (!viewer) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    viewer->resize(1100, 760);
    viewer->view->setZoom(0.5, QPointF(700, 500));
    viewer->marks->addMeasurement({QPointF(1100, 900), QPointF(1300, 900)}, false);
    viewer->marks->addMeasurement({QPointF(1500, 700), QPointF(1700, 820)}, true);
    viewer->marks->addNote(QPointF(1250, 1100), QStringLiteral("Portal vein"));
    viewer->marks->gridMicrometres = 100;
    if (png.isEmpty())
        return QApplication::exec();
    QTimer::singleShot(3000, viewer, [viewer, png] {
        viewer->grab().save(png);
        QApplication::quit();
    });
    return QApplication::exec();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QString scene = app.arguments().value(1, QStringLiteral("setup"));
    if (scene == QLatin1String("viewer"))
        return viewerScene(app.arguments().value(2));

    OrvexServerOptions options;
    if (scene == QLatin1String("mosaic"))
        options.stageErrorUm = 5.0;
    OrvexServer server(options);
    if (!server.listen(0)) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1\n");
        return 1;
    }
    // the tilted slide under the first microscope, which the demo account may use
    if (scene == QLatin1String("focusmap"))
        server.addScope(server.scopeNames().value(0), false, QString(), {QStringLiteral("tilted-51")});
    auto* browser = new ScopeBrowser;
    browser->hostName->setText(server.host());
    browser->loginBox->setText(QStringLiteral("demo"));
    browser->passwordBox->setText(QStringLiteral("orvex-demo"));
    browser->move(40, 40);
    browser->show();
    browser->connectToServer->click();

    const bool inSession = scene != QLatin1String("setup") && scene != QLatin1String("scheduled");
    const bool fused = scene == QLatin1String("allinfocus") || scene == QLatin1String("heightmap");
    if (scene == QLatin1String("scheduled") || inSession) {
        const bool reserve = scene == QLatin1String("scheduled");
        QTimer* poll = new QTimer(&app);
        QObject::connect(poll, &QTimer::timeout, browser, [browser, poll, reserve, fused]() {
            if (browser->connectionStatus->text() != QLatin1String("Connection Successful"))
                return;
            poll->stop();
            if (reserve) {
                browser->scopeListBox->setCurrentRow(1);
                browser->reserveButton->click();
            } else {
                // The fused scenes need the microscope with the thick specimens.
                const auto thick = browser->scopeListBox->findItems(QStringLiteral("Thick"), Qt::MatchContains);
                if (fused && !thick.isEmpty())
                    browser->scopeListBox->setCurrentItem(thick.first());
                browser->beginButton->click();
            }
        });
        poll->start(50);
    }
    // Without a window manager every window opens at the origin: set them side by side.
    QTimer arrange;
    QObject::connect(&arrange, &QTimer::timeout, &app, []() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (qobject_cast<Session*>(w))
                w->move(0, 0);
            else if (qobject_cast<VideoWindow*>(w))
                w->move(810, 0);
            else if (qobject_cast<AllInFocusWindow*>(w))
                w->move(0, 0);
            else if (qobject_cast<MosaicWindow*>(w))
                w->setGeometry(810, 0, 780, 660);
            // The scan's confirmation: start.
            else if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible() && box->defaultButton())
                box->defaultButton()->click();
        }
    });
    arrange.start(200);

    // Once the first frame is in and the controls are free, set the scene up.
    QTimer drive;
    QObject::connect(&drive, &QTimer::timeout, &app, [&drive, scene]() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* s = qobject_cast<Session*>(w);
            if (!s || !s->videoWindow || s->videoWindow->imageView->displayPicture().isNull() ||
                !s->frameGrabButton->isEnabled())
                continue;
            drive.stop();
            if (scene == QLatin1String("marks"))
                markUp(s);
            if (scene == QLatin1String("mosaic")) {
                s->Stack_Acquisition->setCurrentWidget(s->tab_3);
                s->xCoord->setText(QStringLiteral("37.5"));
                s->yCoord->setText(QStringLiteral("25.0"));
                s->PushButton6->click();
                s->xCoord->setText(QStringLiteral("39.0"));
                s->yCoord->setText(QStringLiteral("25.9"));
                s->PushButton7->click();
                s->scanFocusBox->setCurrentIndex(2);
                s->scanFocusEveryBox->setValue(3);
                QTimer::singleShot(0, s->scanRegionButton, &QPushButton::click);
            }
            if (scene == QLatin1String("focusmap")) {
                s->Stack_Acquisition->setCurrentWidget(s->tab_3);
                s->xCoord->setText(QStringLiteral("37.0"));
                s->yCoord->setText(QStringLiteral("24.5"));
                s->PushButton6->click();
                s->xCoord->setText(QStringLiteral("38.6"));
                s->yCoord->setText(QStringLiteral("25.7"));
                s->PushButton7->click();
                s->scanFocusBox->setCurrentIndex(3);
                QTimer::singleShot(0, s->scanRegionButton, &QPushButton::click);
            }
            if (scene == QLatin1String("focus")) {
                s->Stack_Acquisition->setCurrentIndex(1);
                s->focusStackButton->click();
                // Then show a frame beside the sharpest one, so the mark and the highlight part.
                auto* later = new QTimer(s);
                QObject::connect(later, &QTimer::timeout, s, [s, later] {
                    if (s->stackAcquiring)
                        return;
                    later->stop();
                    s->zSlider->setValue(s->zSlider->value() - 2);
                });
                later->start(200);
            } else if (scene == QLatin1String("allinfocus") || scene == QLatin1String("heightmap")) {
                // 30 whole frames of 1280 x 960, 2 µm apart (within the depth of
                // field): deeper than the smear's relief.
                s->Stack_Acquisition->setCurrentIndex(1);
                emit s->videoWindow->ComboBox3->activated(3);
                s->frameCountSelector->setValue(30);
                s->frameRangeSelector->setValue(60);
                s->fullFrameCheck->setChecked(true);
                auto* later = new QTimer(s);
                QObject::connect(later, &QTimer::timeout, s, [s, later, scene] {
                    if (!s->frameGrabButton->isEnabled())
                        return;
                    later->stop();
                    QObject::connect(s, &Session::fusionFinished, s, [s, scene] {
                        s->allInFocusWindow->resize(1000, 730);
                        if (scene == QLatin1String("heightmap"))
                            s->allInFocusWindow->heightButton->click();
                    });
                    s->focusStackButton->click();
                    auto* fuse = new QTimer(s);
                    QObject::connect(fuse, &QTimer::timeout, s, [s, fuse] {
                        if (s->stackAcquiring || !s->allInFocusButton->isEnabled())
                            return;
                        fuse->stop();
                        s->allInFocusButton->click();
                    });
                    fuse->start(200);
                });
                later->start(500);
            }
        }
    });
    if (inSession && scene != QLatin1String("session"))
        drive.start(200);
    return app.exec();
}
