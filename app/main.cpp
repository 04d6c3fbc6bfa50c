#include "setup/ScopeBrowser.h"

#include <QApplication>

int main(int argc, char** argv)
{
    // Qt's network module needs no protocol registration before the first request.
    QApplication app(argc, argv);
    auto* browser = new ScopeBrowser(nullptr, nullptr, false);
    browser->show();
    QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QApplication::quit);
    return app.exec();
}
