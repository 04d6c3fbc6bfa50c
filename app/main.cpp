#include "setup/ScopeBrowser.h"

#include <QApplication>

int main(int argc, char** argv)
{
    // Qt's network module needs no protocol registration before the first request.
    QApplication app(argc, argv);
    // Lets the desktop match the windows to the installed entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.tessan.Tessan"));
    auto* browser = new ScopeBrowser(nullptr, nullptr, false);
    browser->show();
    QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QApplication::quit);
    return app.exec();
}
