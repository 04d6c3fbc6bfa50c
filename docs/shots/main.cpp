// Opens a window in a given state against an in-process test server, for the
// README's screenshots: tessan-shots setup|scheduled|session|video|focus|mosaic
// (video: the first live frame with its scale bar; focus: a focus stack taken;
// mosaic: a 6 x 5 region scan with the stage error on, stitched)
#include "session/Session.h"
#include "setup/ScopeBrowser.h"
#include "sim/OrvexServer.h"
#include "views/MosaicWindow.h"
#include "views/VideoView.h"
#include "views/VideoWindow.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QString scene = app.arguments().value(1, QStringLiteral("setup"));

    OrvexServerOptions options;
    if (scene == QLatin1String("mosaic"))
        options.stageErrorUm = 5.0;
    OrvexServer server(options);
    if (!server.listen(0)) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1\n");
        return 1;
    }
    auto* browser = new ScopeBrowser;
    browser->hostName->setText(server.host());
    browser->loginBox->setText(QStringLiteral("demo"));
    browser->passwordBox->setText(QStringLiteral("orvex-demo"));
    browser->move(40, 40);
    browser->show();
    browser->connectToServer->click();

    const bool inSession = scene != QLatin1String("setup") && scene != QLatin1String("scheduled");
    if (scene == QLatin1String("scheduled") || inSession) {
        const bool reserve = scene == QLatin1String("scheduled");
        QTimer* poll = new QTimer(&app);
        QObject::connect(poll, &QTimer::timeout, browser, [browser, poll, reserve]() {
            if (browser->connectionStatus->text() != QLatin1String("Connection Successful"))
                return;
            poll->stop();
            if (reserve) {
                browser->scopeListBox->setCurrentRow(1);
                browser->reserveButton->click();
            } else {
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
            }
        }
    });
    if (inSession && scene != QLatin1String("session"))
        drive.start(200);
    return app.exec();
}
