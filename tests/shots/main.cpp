// Opens a window in a given state against an in-process test server, for the
// README's screenshots: tessan-shots setup|scheduled
#include "setup/ScopeBrowser.h"
#include "sim/OrvexServer.h"

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

    if (scene == QLatin1String("scheduled")) {
        QTimer* poll = new QTimer(&app);
        QObject::connect(poll, &QTimer::timeout, browser, [browser, poll]() {
            if (browser->connectionStatus->text() != QLatin1String("Connection Successful"))
                return;
            poll->stop();
            browser->scopeListBox->setCurrentRow(1);
            browser->reserveButton->click();
        });
        poll->start(50);
    }
    return app.exec();
}
