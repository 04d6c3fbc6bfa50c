#include "acquire/ControlClock.h"
#include "acquire/JobSubmitter.h"
#include "acquire/RecipeSession.h"
#include "acquire/ScopeInfo.h"
#include "acquire/SessionLink.h"
#include "acquire/Stage.h"
#include "acquire/TicketReply.h"
#include "imaging/TiffFile.h"
#include "imaging/TileReader.h"
#include "net/MyHTTP.h"
#include "net/OrvexUrl.h"
#include "sim/OrvexServer.h"

#include "RefusedDraw.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// The engine of a granted session against the in-process server, with no
// window: this test links neither the widgets nor the control window.
class TestEngine : public QObject
{
    Q_OBJECT

    std::unique_ptr<OrvexServer> server;
    QStringList log;
    SessionLink link;
    // The uninterrupted run that killed and resumed ones are compared with.
    QTemporaryDir reference;
    QStringList referenceFiles;
    int referenceEvents = 0;
    QString referenceHost;

    // Two marks with a 3-plane stack each, then a 2 x 2 scan (0.5 µm per pixel, 640 x 480 frames).
    static QByteArray tinyRecipe(const QString& server, const QString& scope)
    {
        return QStringLiteral("server: %1\nmicroscope: %2\nuser: demo\nslide: liver-01\noutput: run\nsteps:\n"
                              "  - goto_marks:\n      file: marks.geojson\n      steps:\n"
                              "        - stack: {planes: 3, range: 6, fuse: true}\n"
                              "  - scan: {from: {x: 10.0, y: 10.0}, to: {x: 10.4, y: 10.3}}\n")
            .arg(server, scope)
            .toUtf8();
    }

    static void writeFile(const QString& path, const QByteArray& data)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(data);
    }

    static void writeRecipe(const QString& dir, const QString& host, const QString& scope)
    {
        writeFile(dir + "/recipe.yaml", tinyRecipe(host, scope));
        writeFile(dir + "/marks.geojson",
                  R"({"type": "FeatureCollection", "features": [
                  {"type": "Feature", "geometry": {"type": "Point", "coordinates": [12.5, 20.25]},
                   "properties": {"name": "a", "kind": "bookmark", "z_um": 1500}},
                  {"type": "Feature", "geometry": {"type": "Point", "coordinates": [12.75, 20.5]},
                   "properties": {"name": "b", "kind": "bookmark", "z_um": 1500}}]})");
    }

    // Runs the folder's recipe as tessan-acquire does; stopAfter -1 runs it through.
    RecipeRunner::Outcome runRecipe(const QString& dir, bool resume, int stopAfter)
    {
        RecipeSession session;
        Recipe recipe;
        QString error;
        const bool ready = resume
                               ? RecipeSession::prepareResume(dir + "/run", &recipe, &session.journal, &error)
                               : Recipe::load(dir + "/recipe.yaml", &recipe, &error) &&
                                     RecipeSession::prepareRun(dir + "/recipe.yaml", recipe, &session.journal, &error);
        if (!ready)
            qWarning() << error;
        session.runner.stopAfterSteps = stopAfter;
        session.runner.stage.requeryIntervalMs = 20;
        QSignalSpy finished(&session, &RecipeSession::finished);
        session.start(recipe, QStringLiteral("orvex-demo"), false);
        if (!ready || !finished.wait(120000))
            return RecipeRunner::Outcome::Failed;
        if (finished.value(0).value(0).value<RecipeRunner::Outcome>() == RecipeRunner::Outcome::Failed)
            qWarning() << finished.value(0).value(1).toString();
        return finished.value(0).value(0).value<RecipeRunner::Outcome>();
    }

    struct Run
    {
        int exitCode = -1; // -9 when killed
        int events = 0;    // progress and file-written
        QByteArray last;   // the last line read
    };

    // tessan-acquire --json in the folder; killAt > 0 kills it with SIGKILL on
    // reading that many progress and file-written events.
    static Run runCommand(const QString& dir, const QStringList& arguments, const QString& password, int killAt)
    {
        QProcess command;
        command.setWorkingDirectory(dir);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TESSAN_PASSWORD", password);
        if (!password.isEmpty() && password != QLatin1String("orvex-demo"))
            env.insert("TESSAN_TOKEN_DRAW", QString::number(refusedDraw(password, QStringLiteral("orvex-demo"))));
        command.setProcessEnvironment(env);
        // Standard input is no terminal: without the variable there is no password.
        command.setStandardInputFile(QProcess::nullDevice());
        Run run;
        connect(&command, &QProcess::readyReadStandardOutput, &command, [&] {
            while ((killAt <= 0 || run.events < killAt) && command.canReadLine()) {
                run.last = command.readLine().trimmed();
                if (run.last.contains("\"event\":\"progress\"") || run.last.contains("\"event\":\"file-written\""))
                    if (++run.events == killAt)
                        command.kill();
            }
        });
        QSignalSpy finished(&command, &QProcess::finished);
        command.start(TESSAN_ACQUIRE, QStringList{"--json"} + arguments);
        if (finished.wait(120000))
            run.exitCode = command.exitStatus() == QProcess::CrashExit ? -9 : command.exitCode();
        return run;
    }

    // What a written file holds, read back with the viewer's reader: sizes,
    // OME-XML but its times and server, and a digest of every page's pixels.
    static QString contentOf(const QString& path, const QString& host)
    {
        TileReader reader;
        QString error;
        if (!reader.open(path, &error))
            return error;
        // The OME-XML whole: sizes, planes and provenance, its times left out.
        TiffFile tiff;
        if (!tiff.openRead(path, 1 << 30))
            return tiff.error();
        static const QRegularExpression time(QStringLiteral("(<AcquisitionDate>|<M K=\"time\">)[^<]*"));
        QStringList text{QString::fromUtf8(tiff.description()).replace(time, QStringLiteral("\\1"))};
        const int pages = reader.planeCount() * reader.channelCount();
        for (int page = 0; page < pages + (reader.heightPage() >= 0 ? 1 : 0); ++page) {
            const int at = page < pages ? page : reader.heightPage();
            const TileReader::Level level = reader.levels(at).value(0);
            QCryptographicHash hash(QCryptographicHash::Sha1);
            for (int y = 0; y * level.tile.height() < level.size.height(); ++y)
                for (int x = 0; x * level.tile.width() < level.size.width(); ++x) {
                    cv::Mat tile;
                    if (!reader.readTile(at, 0, QPoint(x, y), &tile, &error))
                        return error;
                    for (int row = 0; row < tile.rows; ++row)
                        hash.addData(QByteArrayView(tile.ptr<char>(row), qsizetype(tile.cols * tile.elemSize())));
                }
            text << QString::fromLatin1(hash.result().toHex());
        }
        return text.join(QLatin1Char('\n')).replace(host, QLatin1String("SERVER"));
    }

    static QStringList folderContent(const QString& folder)
    {
        return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }

    int timeRequests() const
    {
        static const QRegularExpression time(QStringLiteral("[?&]f=t(&|$)"));
        return int(log.filter(time).size());
    }

private slots:
    void initTestCase()
    {
        server = std::make_unique<OrvexServer>();
        connect(server.get(), &OrvexServer::requestReceived, this, [this](const QString& target) { log << target; });
        QVERIFY(server->listen(0));
        const QString scope = server->scopeNames().value(0);
        MyHTTP ticket;
        QSignalSpy done(&ticket, qOverload<>(&MyHTTP::done));
        ticket.setUrl(OrvexUrl::sessionTicket(server->host(), scope, QStringLiteral("demo")));
        ticket.start();
        QVERIFY(done.wait(30000));
        QVERIFY(ticket.succeeded() && ticket.length() > 0 && ticket.data()[0] == '+');
        // The test server's demo account.
        link.grant(server->host(), OrvexUrl::requestPrefix(QStringLiteral("demo"), scope), QStringLiteral("orvex-demo"),
                   TicketReply::hexAt(ticket.data(), ticket.length(), 3));
    }

    void recipeRefused_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("reason");
        QTest::newRow("not YAML") << "  - goto: {x: 1, y: [2}"
                                  << ":9: ";
        QTest::newRow("unknown step") << "  - teleport: {x: 1}"
                                      << ":9: unknown step \"teleport\"";
        QTest::newRow("unknown key") << "  - picture: {size: 2, colour: red}"
                                     << ":9: unknown key \"colour\"";
        QTest::newRow("x beyond the stage") << "  - goto: {x: 80, y: 2}"
                                            << ":9: x (mm) must lie between 0 and 75.67";
        QTest::newRow("decimal comma") << "  - goto: {x: '1,5', y: 2}"
                                       << ":9: x (mm) is not a number";
        QTest::newRow("stack of 0 planes") << "  - stack: {planes: 0}"
                                           << ":9: planes must lie between 3 and 120";
        QTest::newRow("picture size 5") << "  - picture: {size: 5}"
                                        << ":9: size must lie between 1 and 4";
        QTest::newRow("format") << "  - picture: {format: gif}"
                                << ":9: format is jpeg, png or ome-tiff";
        QTest::newRow("autofocus kind") << "  - autofocus: slow"
                                        << ":9: autofocus is quick or accurate";
        QTest::newRow("corners swapped") << "  - scan: {from: {x: 2, y: 2},\n           to: {x: 1, y: 3}}"
                                         << ":10: the scan corner \"to\" must lie right of and below \"from\"";
        QTest::newRow("job without name") << "  - job: {from: {x: 1, y: 1}, to: {x: 2, y: 2}}"
                                          << ":9: \"job\" needs \"name\"";
        QTest::newRow("no marks file") << "  - goto_marks: {file: none.geojson}"
                                       << ":9: cannot read the marks file";
        QTest::newRow("no steps") << ""
                                  << ":9: \"steps\" must be a list of one step or more";
    }

    // Refused before anything is sent, naming the file and line.
    void recipeRefused()
    {
        QFETCH(QString, steps);
        QFETCH(QString, reason);
        const QByteArray text = "# a recipe\nserver: " + server->host().toUtf8() +
                                "\nmicroscope: m\nuser: demo\nslide: s\noutput: out\n\nsteps:\n" + steps.toUtf8();
        Recipe recipe;
        QString error;
        QVERIFY(!Recipe::parse(text, QStringLiteral("/tmp/r.yaml"), &recipe, &error));
        QVERIFY2(error.startsWith(QStringLiteral("/tmp/r.yaml") + reason), qPrintable(error));
        QVERIFY(recipe.steps.isEmpty());
    }

    // What the window's "Save as Recipe" writes reads back as the same steps.
    void recipeWritten()
    {
        const QByteArray text = "server: h\nmicroscope: m\nuser: u\nslide: s\noutput: out\nsteps:\n"
                                "  - goto: {x: 12.3456, y: 0.5}\n  - goto: {x: 1, y: 2, z: 1500.5}\n"
                                "  - autofocus: accurate\n  - picture: {size: 4, format: png}\n"
                                "  - stack: {planes: 3, range: 7, fuse: true}\n"
                                "  - scan: {from: {x: 1, y: 1}, to: {x: 1.5, y: 1.25}, focus: 7, overlap: 50}\n"
                                "  - scan: {from: {x: 1, y: 1}, to: {x: 1.5, y: 1.25}, focus: every-tile}\n"
                                "  - job: {name: 'a: b', from: {x: 1, y: 1}, to: {x: 2, y: 3}, density: 3}\n";
        Recipe recipe, again;
        QString error;
        QVERIFY(Recipe::parse(text, "/tmp/r.yaml", &recipe, &error));
        recipe.output = QStringLiteral("out");
        QVERIFY2(Recipe::parse(recipe.write(), "/tmp/r.yaml", &again, &error), qPrintable(error));
        QCOMPARE(again.steps.size(), recipe.steps.size());
        for (int i = 0; i < recipe.steps.size(); ++i)
            QCOMPARE(again.steps[i].describe(), recipe.steps[i].describe());
        QCOMPARE(again.output, QStringLiteral("/tmp/out"));
    }

    // A recipe stopped after two steps and resumed: every file and the journal complete.
    void recipeRunAndResume()
    {
        QTemporaryDir dir;
        // Not scheduled yet: the login reserves time first; the session of the other tests stays granted.
        const QString scope = server->scopeNames().value(1);
        writeRecipe(dir.path(), server->host(), scope);
        QCOMPARE(runRecipe(dir.path(), false, 2), RecipeRunner::Outcome::Stopped);
        RecipeJournal journal;
        QString error;
        QVERIFY2(journal.load(dir.filePath("run"), &error), qPrintable(error));
        QCOMPARE(journal.firstOpen(), 2);
        QCOMPARE(runRecipe(dir.path(), true, -1), RecipeRunner::Outcome::Done);
        QVERIFY(journal.load(dir.filePath("run"), &error));
        QCOMPARE(journal.firstOpen(), 5);
        const QStringList files{"002-stack.ome.tif", "002-all-in-focus.ome.tif", "004-stack.ome.tif",
                                "004-all-in-focus.ome.tif", "005-mosaic.ome.tif"};
        QCOMPARE(journal.entries[1].files + journal.entries[3].files + journal.entries[4].files, files);
        QCOMPARE(QDir(dir.filePath("run")).entryList({"*.tif"}, QDir::Files, QDir::Name).size(), files.size());
        // A changed recipe is refused, naming the step.
        writeFile(dir.filePath("recipe.yaml"), tinyRecipe(server->host(), scope).replace("planes: 3", "planes: 4"));
        Recipe recipe;
        QVERIFY(!RecipeSession::prepareResume(dir.filePath("run"), &recipe, &journal, &error));
        QVERIFY2(error.contains("step 2 differs"), qPrintable(error));
        // While one run holds the folder, another may not clear its files.
        RecipeJournal holder, second;
        QVERIFY2(holder.lockFolder(dir.filePath("run"), &error), qPrintable(error));
        QVERIFY(!second.lockFolder(dir.filePath("run"), &error) && error.contains("in use"));
        // Every OME-TIFF says where it came from, valid against the schema.
        const QString xsd = qEnvironmentVariable("TESSAN_OME_XSD");
        for (const QString& name : files) {
            TiffFile tiff;
            QVERIFY(tiff.openRead(dir.filePath("run/" + name), 1 << 30));
            const QByteArray xml = tiff.description();
            QVERIFY2(xml.contains("<M K=\"recipe\">") && xml.contains("<AnnotationRef ID="), qPrintable(name));
            if (xsd.isEmpty())
                continue;
            writeFile(dir.filePath("ome.xml"), xml);
            QProcess lint;
            lint.start("xmllint", {"--noout", "--nonet", "--schema", xsd, dir.filePath("ome.xml")});
            QVERIFY(lint.waitForFinished(30000));
            QVERIFY2(lint.exitCode() == 0, lint.readAllStandardError().constData());
        }
    }

    void killedAndResumed_data()
    {
        QTest::addColumn<quint32>("seed");
        // Of the 18 events, these seeds kill in the first stack, between the
        // second stack's two files, and twice in the scan (its tiles folder left).
        for (quint32 seed : {1u, 2u, 5u, 7u})
            QTest::addRow("seed %u", seed) << seed;
    }

    // tessan-acquire killed with SIGKILL at a random event and resumed ends with
    // the files of an uninterrupted run: whole, the same planes and pixels, no
    // temporary file left, and no move sent again for a step already done.
    void killedAndResumed()
    {
        QFETCH(quint32, seed);
        OrvexServerOptions options;
        options.stageSpeed = 2000000.0; // keeps the three runs short
        if (referenceFiles.isEmpty()) {
            OrvexServer fresh(options);
            QVERIFY(fresh.listen(0));
            QVERIFY(reference.isValid());
            writeRecipe(reference.path(), fresh.host(), fresh.scopeNames().value(0));
            const Run run = runCommand(reference.path(), {"recipe.yaml"}, "orvex-demo", 0);
            QCOMPARE(run.exitCode, 0);
            referenceEvents = run.events;
            referenceFiles = folderContent(reference.filePath("run"));
            referenceHost = fresh.host();
        }
        OrvexServer fresh(options);
        QVERIFY(fresh.listen(0));
        QStringList requests;
        connect(&fresh, &OrvexServer::requestReceived, this,
                [&requests](const QString& target) { requests << target; });
        QTemporaryDir dir;
        writeRecipe(dir.path(), fresh.host(), fresh.scopeNames().value(0));
        const int killAt = 1 + int(QRandomGenerator(seed).bounded(referenceEvents - 1));
        QCOMPARE(runCommand(dir.path(), {"recipe.yaml"}, "orvex-demo", killAt).exitCode, -9);
        RecipeJournal journal;
        QString error;
        QVERIFY2(journal.load(dir.filePath("run"), &error), qPrintable(error));
        requests.clear();
        QCOMPARE(runCommand(dir.path(), {"--resume", "run"}, "orvex-demo", 0).exitCode, 0);
        // Steps 2 and 4 are the stacks at the marks x 12.5 and 12.75 mm.
        const QStringList moves = requests.filter(QRegularExpression(QStringLiteral("[?&]f=m&")));
        for (const auto& [step, x] : {std::pair{1, "x=125000"}, std::pair{3, "x=127500"}})
            if (journal.entries[step].done)
                QVERIFY2(moves.filter(QLatin1String(x)).isEmpty(), qPrintable(moves.join('\n')));
        QCOMPARE(folderContent(dir.filePath("run")), referenceFiles);
        for (const QString& name : referenceFiles)
            if (name.endsWith(QLatin1String(".tif")))
                QCOMPARE(contentOf(dir.filePath("run/" + name), fresh.host()),
                         contentOf(reference.filePath("run/" + name), referenceHost));
    }

    void command_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("lastEvent");
        QTest::addColumn<QByteArray>("scanTo");
        const QByteArray small = "{x: 10.4, y: 10.3}";
        QTest::newRow("plan") << QStringList{"--plan", "recipe.yaml"} << "orvex-demo" << 0 << "\"event\":\"done\""
                              << small;
        QTest::newRow("no password") << QStringList{"--plan", "recipe.yaml"} << "" << 1 << "\"refused\":true" << small;
        QTest::newRow("unknown folder") << QStringList{"--resume", "none"} << "orvex-demo" << 1 << "\"refused\":true"
                                        << small;
        // Refused at the reservation, the first query or the first move, as the requests race: each names the password.
        QTest::newRow("wrong password") << QStringList{"recipe.yaml"} << "wrong" << 2 << "password" << small;
        // About 1800 tiles: more than the half hour of control time.
        QTest::newRow("scan beyond the control time") << QStringList{"recipe.yaml"} << "orvex-demo" << 3
                                                      << "of control time are left" << QByteArray("{x: 20, y: 20}");
    }

    // The command's exit status and last JSON line.
    void command()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, password);
        QFETCH(int, exitCode);
        QFETCH(QString, lastEvent);
        QFETCH(QByteArray, scanTo);
        QTemporaryDir dir;
        writeRecipe(dir.path(), server->host(), server->scopeNames().value(1));
        writeFile(dir.filePath("recipe.yaml"),
                  tinyRecipe(server->host(), server->scopeNames().value(1)).replace("{x: 10.4, y: 10.3}", scanTo));
        const Run run = runCommand(dir.path(), arguments, password, 0);
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(run.last.contains(lastEvent.toUtf8()), run.last.constData());
    }

    void init()
    {
        server->clearFaults();
        log.clear();
    }

    void scopeInfo_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("scale and text") << QString();
        QTest::newRow("unreachable") << QStringLiteral("d:500:1");
    }

    void scopeInfo()
    {
        QFETCH(QString, fault);
        ScopeInfo info(link);
        QSignalSpy arrived(&info, &ScopeInfo::arrived);
        QSignalSpy messages(&info, &ScopeInfo::message);
        QSignalSpy answered(&info.sysInfoFetcher, qOverload<>(&MyHTTP::done));
        if (!fault.isEmpty())
            QVERIFY(server->addFault(fault));
        info.request();
        QVERIFY(answered.wait(10000));
        QCOMPARE(arrived.size(), fault.isEmpty() ? 1 : 0);
        QCOMPARE(messages.size(), fault.isEmpty() ? 0 : 1);
        QCOMPARE(info.mppX, fault.isEmpty() ? float(server->micronsPerPixel()) : 0.0f);
        QCOMPARE(info.text.isEmpty(), !fault.isEmpty());
    }

    void countdown_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<bool>("asks");
        QTest::addColumn<bool>("expires");
        QTest::newRow("32 onto 31") << 32 << false << false;
        QTest::newRow("31 onto 30 asks the server") << 31 << true << false;
        QTest::newRow("30 onto 29") << 30 << false << false;
        QTest::newRow("1 onto 0 ends control") << 1 << false << true;
    }

    void countdown()
    {
        QFETCH(int, from);
        QFETCH(bool, asks);
        QFETCH(bool, expires);
        ControlClock clock(link);
        QSignalSpy ticked(&clock, &ControlClock::ticked);
        QSignalSpy expired(&clock, &ControlClock::expired);
        QSignalSpy answered(&clock.timeFetcher, qOverload<>(&MyHTTP::done));
        // Counting, as after a first answer, but never ticking on its own here.
        clock.countdownTimer.start(3600 * 1000);
        clock.remainingSeconds = from;
        clock.tick();
        QCOMPARE(ticked.size(), 1);
        QCOMPARE(ticked.value(0).value(0).toInt(), from - 1);
        QCOMPARE(expired.size(), expires ? 1 : 0);
        QCOMPARE(clock.controlExpired, expires);
        QCOMPARE(clock.countdownTimer.isActive(), !expires);
        QCOMPARE(clock.timeFetcher.isBusy(), asks);
        if (asks) {
            QVERIFY(answered.wait(10000));
            // The server's time replaces the local count.
            QVERIFY(clock.remainingSeconds > 30);
        }
        QCOMPARE(timeRequests(), asks ? 1 : 0);
    }

    void answers_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("afterExpiry");
        QTest::addColumn<bool>("counting");
        QTest::addColumn<bool>("retrying");
        QTest::newRow("first answer starts the count") << "" << false << true << false;
        QTest::newRow("failed first answer asks again") << "t:500:1" << false << false << true;
        QTest::newRow("failure after the end stays quiet") << "t:500:1" << true << false << false;
        QTest::newRow("late answer counts again") << "" << true << true << false;
    }

    void answers()
    {
        QFETCH(QString, fault);
        QFETCH(bool, afterExpiry);
        QFETCH(bool, counting);
        QFETCH(bool, retrying);
        ControlClock clock(link);
        clock.countdownInterval = 50;
        clock.controlExpired = afterExpiry;
        QSignalSpy messages(&clock, &ControlClock::message);
        QSignalSpy answered(&clock.timeFetcher, qOverload<>(&MyHTTP::done));
        if (!fault.isEmpty())
            QVERIFY(server->addFault(fault));
        clock.request();
        QVERIFY(answered.wait(10000));
        QCOMPARE(clock.countdownTimer.isActive(), counting);
        QCOMPARE(clock.timeRetryTimer.isActive(), retrying);
        QCOMPARE(messages.size(), fault.isEmpty() ? 0 : 1);
        // Only the countdown itself ends control, and only a new session restores it.
        QCOMPARE(clock.controlExpired, afterExpiry);
        if (counting)
            QCOMPARE(clock.countdownTimer.interval(), 50);
        if (retrying) {
            QCOMPARE(clock.timeRetryTimer.interval(), 30 * 50);
            QVERIFY(answered.wait(10000));
            QVERIFY(clock.countdownTimer.isActive());
            QCOMPARE(timeRequests(), 2);
        }
        clock.stop();
        QVERIFY(!clock.countdownTimer.isActive() && !clock.timeRetryTimer.isActive() && !clock.timeFetcher.isBusy());
    }

    void jobs_data()
    {
        QTest::addColumn<QPointF>("topLeft");
        QTest::addColumn<QPointF>("bottomRight");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("queued") << QPointF(10.5, 20.25) << QPointF(12, 22.5) << "Job liver submitted.";
        QTest::newRow("corners swapped")
            << QPointF(12, 22.5) << QPointF(10.5, 20.25)
            << "***Job liver was not accepted: EMPTY_REGION (corners (12.0000, 22.5000) mm and (10.5000, 20.2500) mm, "
               "2 samples / mm, 15 sampling points)";
    }

    // The server's verdict reaches the listener with what is needed to submit again.
    void jobs()
    {
        QFETCH(QPointF, topLeft);
        QFETCH(QPointF, bottomRight);
        QFETCH(QString, outcome);
        JobSubmitter submitter(link);
        QStringList heard;
        connect(&submitter, &JobSubmitter::submitted, this,
                [&heard](const QString& job, const QString&) { heard << job + QStringLiteral(" submitted."); });
        connect(&submitter, &JobSubmitter::message, this, [&heard](const QString& text) { heard << text; });
        const qsizetype queued = server->jobs().size();
        QSignalSpy answered(&submitter.jobFetcher, qOverload<>(&MyHTTP::done));
        submitter.submit(QStringLiteral("liver"), topLeft, bottomRight, 2, 15);
        QVERIFY(answered.wait(10000));
        QCOMPARE(heard, QStringList{outcome});
        QCOMPARE(server->jobs().size() - queued, outcome.startsWith(QLatin1String("***")) ? 0 : 1);
    }

    void stageMove_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("failure"); // -1: the stage arrives
        QTest::newRow("arrives") << "" << -1;
        QTest::newRow("no answer") << "m:500:1" << int(Stage::Failure::Transport);
        QTest::newRow("garbled") << "m:status:1" << int(Stage::Failure::Invalid);
        QTest::newRow("refused") << "wrong key" << int(Stage::Failure::Refused);
        QTest::newRow("never arrives") << "slow" << int(Stage::Failure::NoArrival);
    }

    // Every position on the way is reported, each '*' asks again, and a failure says what kind it is.
    void stageMove()
    {
        QFETCH(QString, fault);
        QFETCH(int, failure);
        Stage stage(link);
        if (fault == "wrong key")
            link.auth.setKey(QStringLiteral("not the password")); // every token is refused
        stage.requeryIntervalMs = 20;
        if (fault == "slow")
            stage.arrivalTimeoutMs = 1;
        else if (fault.contains(':'))
            QVERIFY(server->addFault(fault));
        QSignalSpy reported(&stage, &Stage::reported);
        QSignalSpy arrived(&stage, &Stage::arrived);
        QSignalSpy failed(&stage, &Stage::failed);
        const QVector3D from = server->stagePosition(server->scopeNames().value(0));
        server->setStageSpeed(fault == "slow" ? 1000 : 20000);
        stage.moveTo(from.x() + (from.x() > 200000 ? -4000 : 4000), from.y(), from.z());
        QTRY_VERIFY_WITH_TIMEOUT(!stage.isBusy(), 20000);
        server->setStageSpeed(OrvexServerOptions().stageSpeed);
        link.auth.setKey(QStringLiteral("orvex-demo"));
        QCOMPARE(arrived.size(), failure < 0 ? 1 : 0);
        QCOMPARE(failed.size() ? int(failed.value(0).value(1).value<Stage::Failure>()) : -1, failure);
        if (failure < 0) {
            QVERIFY(reported.size() >= 2);
            QCOMPARE(reported.last().value(0).value<CoordinateTriple>().x, stage.position().x);
        }
        QCOMPARE(log.filter(QStringLiteral("f=w&auth=")).size(), qMax(0, int(reported.size()) - 1));
    }
};

QTEST_GUILESS_MAIN(TestEngine)
#include "tst_engine.moc"
