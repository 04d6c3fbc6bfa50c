// Opens a window in a given state against an in-process test server, for the
// README's screenshots: tessan-shots setup|scheduled|session
#include "session/Session.h"
#include "setup/ScopeBrowser.h"
#include "sim/OrvexServer.h"
#include "views/VideoWindow.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QString scene = app.arguments().value(1, QStringLiteral("setup"));

    OrvexServer server;
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

    if (scene == QLatin1String("scheduled") || scene == QLatin1String("session")) {
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
        }
    });
    arrange.start(200);
    return app.exec();
}
