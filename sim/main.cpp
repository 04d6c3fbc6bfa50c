#include "sim/OrvexServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvex-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulated Orvex microscope server for Tessan. Listens on 127.0.0.1 only.\n"
        "Accounts: demo / orvex-demo (authorized everywhere, scheduled on the first microscope),\n"
        "guest / guest (authorized nowhere).\n"
        "Fault rules: KIND:FAULT or KIND:FAULT:COUNT, KIND an f= value (i sticket scna ticket d t m w a r p\n"
        "cj, mb for a stack move, inset for an inset picture), sl, small_slides, whole_slides, fiducials\n"
        "or * for every request; FAULT one of refuse 500 empty garbage cut stall drip oversize status nul\n"
        "nulend.\n"
        "Thick specimens (slides smear-31 and thick-32 on Orvex-BF-40x-Thick) are never sharp everywhere in\n"
        "one frame. Their truth, for testing focus stacking, without login:\n"
        "  /cgi-bin/otruth?f=aif&s=SLIDE&x=X&y=Y&ps=N     the all-in-focus frame (PNG) centred on x, y\n"
        "  /cgi-bin/otruth?f=height&s=SLIDE&x=X&y=Y&ps=N  its in-focus z per pixel (16-bit grey PNG, 0.1 um)\n"
        "x and y in stage units (0.1 um), ps the picture size 1..4 as for frames.\n"
        "The truth of any region of any slide, for testing the stitching of tile scans:\n"
        "  /cgi-bin/otruth?f=region&s=SLIDE&x=X&y=Y&w=W&h=H&upp=U  W x H pixels (PNG, at most 4096 a side),\n"
        "  the top-left one centred on x, y, U stage units per pixel (default 5, the camera's).\n"
        "Every slide has a patch of bare glass at x 40.0 to 41.5 mm, y 24.0 to 26.5 mm.\n"
        "The slide cells-41 on Orvex-BF-20x-Cells holds loose flat-coloured cells with wide empty glass between.\n"
        "The slide tilted-51 on Orvex-BF-20x-Tilted lies crooked: focus drifts about 16 um per mm, with a swell.\n"
        "An autofocus over bare glass, where no z stands out, answers + with the z where its measure peaked.\n"
        "The truth never shows dust, light fall-off, noise or JPEG loss."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("TCP port (default 8642)."),
                                        QStringLiteral("N"), QStringLiteral("8642"));
    const QCommandLineOption logOption(QStringLiteral("log"),
                                       QStringLiteral("Write every request target to FILE, one per line."),
                                       QStringLiteral("FILE"));
    const QCommandLineOption faultOption(QStringLiteral("fault"), QStringLiteral("Add a fault rule (repeatable)."),
                                         QStringLiteral("RULE"));
    const QCommandLineOption latencyOption(QStringLiteral("latency"),
                                           QStringLiteral("Milliseconds added to every reply (default 0)."),
                                           QStringLiteral("MS"), QStringLiteral("0"));
    const QCommandLineOption speedOption(QStringLiteral("stage-speed"),
                                         QStringLiteral("Stage speed in stage units (0.1 um) per second "
                                                        "(default 200000)."),
                                         QStringLiteral("UNITS"), QStringLiteral("200000"));
    const QCommandLineOption sessionOption(QStringLiteral("session-seconds"),
                                           QStringLiteral("Length of a control session (default 1800)."),
                                           QStringLiteral("N"), QStringLiteral("1800"));
    const QCommandLineOption seedOption(QStringLiteral("seed"),
                                        QStringLiteral("Seed of slides, tickets and noise (default 1)."),
                                        QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption usersOption(QStringLiteral("users"),
                                         QStringLiteral("Add accounts from FILE, lines \"login password\", "
                                                        "authorized on every microscope."),
                                         QStringLiteral("FILE"));
    const QCommandLineOption legacyOption(QStringLiteral("legacy"),
                                          QStringLiteral("Answer like an old CGI server: HTTP/1.0 without "
                                                         "Content-Length, CRLF line ends, positions with decimals."));
    const QCommandLineOption stageErrorOption(QStringLiteral("stage-error"),
                                              QStringLiteral("Ordinary moves land up to UM micrometres off the "
                                                             "requested point in x and y, while the stage reports "
                                                             "the requested point (default 0, exact)."),
                                              QStringLiteral("UM"), QStringLiteral("0"));
    const QCommandLineOption jpegOption(QStringLiteral("jpeg-quality"),
                                        QStringLiteral("JPEG quality of the camera frames, 1 to 100 (default 85)."),
                                        QStringLiteral("Q"), QStringLiteral("85"));
    const QCommandLineOption dustOption(QStringLiteral("dust"),
                                        QStringLiteral("Dust on the camera's sensor: a few faint shadows at the "
                                                       "same places in every frame."));
    const QCommandLineOption cornerOption(QStringLiteral("corner-light"),
                                          QStringLiteral("Lens fall-off: the frames' corners get F of the light "
                                                         "of the middle, 0.1 to 1, on top of the uneven lighting "
                                                         "every frame has (default 1, none; 0.75 is typical)."),
                                          QStringLiteral("F"), QStringLiteral("1"));
    const QCommandLineOption focusOption(QStringLiteral("focus-exposure-ms"),
                                         QStringLiteral("Time of each z an autofocus tries, stage settle and "
                                                        "exposure (default 3.9: a quick autofocus of 103 z in "
                                                        "about 0.4 s; a real camera at 33 frames a second: 30)."),
                                         QStringLiteral("MS"), QStringLiteral("3.9"));
    parser.addOptions({portOption, logOption, faultOption, latencyOption, speedOption, sessionOption, seedOption,
                       usersOption, legacyOption, stageErrorOption, jpegOption, dustOption, cornerOption, focusOption});
    parser.process(app);

    auto fail = [](const QString& message) {
        std::fprintf(stderr, "orvex-sim: %s\n", qPrintable(message));
        return 1;
    };
    bool ok = false;
    OrvexServerOptions options;
    const uint port = parser.value(portOption).toUInt(&ok);
    if (!ok || port > 65535)
        return fail(QStringLiteral("invalid --port"));
    options.seed = parser.value(seedOption).toUInt(&ok);
    if (!ok)
        return fail(QStringLiteral("invalid --seed"));
    options.sessionSeconds = parser.value(sessionOption).toInt(&ok);
    if (!ok || options.sessionSeconds < 0)
        return fail(QStringLiteral("invalid --session-seconds"));
    options.stageSpeed = parser.value(speedOption).toDouble(&ok);
    if (!ok || options.stageSpeed <= 0.0)
        return fail(QStringLiteral("invalid --stage-speed"));
    options.latencyMs = parser.value(latencyOption).toInt(&ok);
    if (!ok || options.latencyMs < 0)
        return fail(QStringLiteral("invalid --latency"));

    options.stageErrorUm = parser.value(stageErrorOption).toDouble(&ok);
    if (!ok || options.stageErrorUm < 0.0 || options.stageErrorUm > 1000.0)
        return fail(QStringLiteral("invalid --stage-error"));
    options.jpegQuality = parser.value(jpegOption).toInt(&ok);
    if (!ok || options.jpegQuality < 1 || options.jpegQuality > 100)
        return fail(QStringLiteral("invalid --jpeg-quality"));
    options.camera.cornerLight = parser.value(cornerOption).toDouble(&ok);
    if (!ok || !(options.camera.cornerLight >= 0.1 && options.camera.cornerLight <= 1.0))
        return fail(QStringLiteral("invalid --corner-light"));
    options.focusExposureMs = parser.value(focusOption).toDouble(&ok);
    if (!ok || !(options.focusExposureMs >= 0.0 && options.focusExposureMs <= 1000.0))
        return fail(QStringLiteral("invalid --focus-exposure-ms"));
    options.camera.dust = parser.isSet(dustOption);
    options.legacy = parser.isSet(legacyOption);

    OrvexServer server(options);
    for (const QString& rule : parser.values(faultOption))
        if (!server.addFault(rule))
            return fail(QStringLiteral("invalid fault rule \"%1\"").arg(rule));
    if (parser.isSet(logOption) && !server.setLogFile(parser.value(logOption)))
        return fail(QStringLiteral("cannot write the log file"));
    if (parser.isSet(usersOption)) {
        QFile file(parser.value(usersOption));
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            return fail(QStringLiteral("cannot read the users file"));
        QTextStream in(&file);
        while (!in.atEnd()) {
            const QStringList words = in.readLine().split(QLatin1Char(' '), Qt::SkipEmptyParts);
            if (words.size() < 2)
                continue;
            server.addAccount(words.at(0), words.at(1));
            for (const QString& scope : server.scopeNames())
                server.authorize(words.at(0), scope);
        }
    }
    if (!server.listen(static_cast<quint16>(port)))
        return fail(QStringLiteral("cannot listen on 127.0.0.1:%1").arg(port));
    std::fprintf(stderr, "orvex-sim listening on %s\n", qPrintable(server.host()));
    return app.exec();
}
