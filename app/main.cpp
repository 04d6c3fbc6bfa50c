#include "setup/ScopeBrowser.h"
#include "views/StageLink.h"
#include "views/ViewerWindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QPointer>

int main(int argc, char** argv)
{
    // Qt's network module needs no protocol registration before the first request.
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Tessan"));
    QCoreApplication::setApplicationName(QStringLiteral("tessan"));
    // Lets the desktop match the windows to the installed entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.tessan.Tessan"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Drive a remote microscope, or view the files it saved."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("files"), QStringLiteral("Mosaics, stacks or pictures to view."),
                                 QStringLiteral("[FILE...]"));
    parser.process(app);
    const QStringList files = parser.positionalArguments();
    // With files, only their viewers open: no server is needed.
    int opened = 0;
    for (const QString& file : files)
        opened += ViewerWindow::openOrWarn(file, nullptr) != nullptr;
    if (!files.isEmpty() && opened == 0)
        return 1;
    // The setup dialog at start without files, and whenever a viewer asks to connect.
    QPointer<ScopeBrowser> setup;
    const auto showSetup = [&setup] {
        if (!setup)
            setup = new ScopeBrowser(nullptr, nullptr, false);
        setup->show();
        setup->raise();
        setup->activateWindow();
    };
    QObject::connect(&StageLink::instance(), &StageLink::sessionWanted, &app, showSetup);
    if (files.isEmpty())
        showSetup();
    QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QApplication::quit);
    return app.exec();
}
