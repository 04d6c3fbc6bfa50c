// tessan-acquire: runs an acquisition recipe without a display.

#include "acquire/RecipeSession.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace {

enum Exit { Done = 0, Refused = 1, StepFailed = 2, TimeOut = 3 };

int signalPipe[2] = {-1, -1};

void onSignal(int number)
{
    const char byte = char(number);
    // Only async-signal-safe work here: the event loop reads the byte.
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[0], &byte, 1);
}

// The password never comes from the command line or a file.
bool readPassword(bool fromStdin, QString* password, QString* error)
{
    const QByteArray env = qgetenv("TESSAN_PASSWORD");
    if (!env.isEmpty() && !fromStdin) {
        *password = QString::fromLocal8Bit(env);
        return true;
    }
    const bool terminal = ::isatty(STDIN_FILENO);
    if (!fromStdin && !terminal) {
        *error = QStringLiteral("no password: set TESSAN_PASSWORD, pass --password-stdin, or run on a terminal");
        return false;
    }
    termios saved{};
    if (terminal && !fromStdin) {
        std::fputs("Password: ", stderr);
        std::fflush(stderr);
        ::tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string line;
    const bool got = bool(std::getline(std::cin, line));
    if (terminal && !fromStdin) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputs("\n", stderr);
    }
    if (!got || line.empty()) {
        *error = QStringLiteral("no password on standard input");
        return false;
    }
    *password = QString::fromLocal8Bit(line.c_str());
    return true;
}

// What the run says: JSON lines, a progress bar on a terminal, or plain lines.
class Reporter
{
public:
    bool json = false;
    bool bar = false;

    void event(const QJsonObject& fields)
    {
        if (!json)
            return;
        std::fputs(QJsonDocument(fields).toJson(QJsonDocument::Compact).constData(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    void line(const QString& text)
    {
        if (json)
            return;
        clearBar();
        std::fputs(text.toLocal8Bit().constData(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    void progress(int step, int done, int total)
    {
        event({{"event", "progress"}, {"step", step + 1}, {"done", done}, {"total", total}});
        if (json || total <= 0)
            return;
        if (!bar) {
            if (done == total)
                line(QStringLiteral("  %1 of %2").arg(done).arg(total));
            return;
        }
        const int width = 30;
        const int filled = done * width / total;
        std::fprintf(stdout, "\r  [%s%s] %d/%d", std::string(size_t(filled), '#').c_str(),
                     std::string(size_t(width - filled), ' ').c_str(), done, total);
        std::fflush(stdout);
        barShown = true;
    }

private:
    void clearBar()
    {
        if (barShown)
            std::fputs("\r\033[K", stdout);
        barShown = false;
    }
    bool barShown = false;
};

QString duration(double seconds)
{
    const int s = int(std::ceil(seconds));
    return s >= 60 ? QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60) : QStringLiteral("%1 s").arg(s);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessan-acquire"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Runs a Tessan acquisition recipe on an Orvex server.\n"
                                                    "Exit status: 0 done, 1 recipe refused, 2 a step failed, "
                                                    "3 control time ran out, 130/143 stopped by a signal."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("RECIPE"), QStringLiteral("The recipe (YAML or JSON)."));
    const QCommandLineOption planOption(QStringLiteral("plan"),
                                        QStringLiteral("Log in and only say what the run would do and take."));
    const QCommandLineOption jsonOption(QStringLiteral("json"), QStringLiteral("One JSON object per line."));
    const QCommandLineOption resumeOption(QStringLiteral("resume"),
                                          QStringLiteral("Go on with the interrupted run in FOLDER."),
                                          QStringLiteral("FOLDER"));
    const QCommandLineOption stdinOption(QStringLiteral("password-stdin"),
                                         QStringLiteral("Read the password from the first line of standard input."));
    parser.addOptions({planOption, jsonOption, resumeOption, stdinOption});
    parser.process(app);

    Reporter report;
    report.json = parser.isSet(jsonOption);
    report.bar = !report.json && ::isatty(STDOUT_FILENO);
    auto refuse = [&report](const QString& reason) {
        report.event({{"event", "failed"}, {"reason", reason}, {"refused", true}});
        std::fprintf(stderr, "tessan-acquire: %s\n", reason.toLocal8Bit().constData());
        return int(Refused);
    };

    const bool resume = parser.isSet(resumeOption);
    if (resume == (parser.positionalArguments().size() == 1))
        return refuse(QStringLiteral("name one recipe, or --resume FOLDER (see --help)"));

    RecipeSession session;
    Recipe recipe;
    QString error;
    if (resume) {
        if (!RecipeSession::prepareResume(QDir(parser.value(resumeOption)).absolutePath(), &recipe, &session.journal,
                                          &error))
            return refuse(error);
    } else if (!Recipe::load(parser.positionalArguments().constFirst(), &recipe, &error)) {
        return refuse(error);
    }
    const bool planOnly = parser.isSet(planOption);
    if (!resume && !planOnly &&
        !RecipeSession::prepareRun(parser.positionalArguments().constFirst(), recipe, &session.journal, &error))
        return refuse(error);
    QString password;
    if (!readPassword(parser.isSet(stdinOption), &password, &error))
        return refuse(error);
    // Test hook: a fixed draw in every token, so that a test can choose one
    // the server refuses when the password is wrong.
    bool fixedDraw = false;
    const quint32 draw = qEnvironmentVariable("TESSAN_TOKEN_DRAW").toUInt(&fixedDraw);
    if (fixedDraw) {
        session.login.setDrawSource([draw] { return draw; });
        session.link.auth.setDrawSource([draw] { return draw; });
    }

    // Signals reach the event loop through a socket pair.
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return refuse(QStringLiteral("cannot watch for signals"));
    QSocketNotifier notifier(signalPipe[1], QSocketNotifier::Read);
    int stoppedBy = 0;
    QObject::connect(&notifier, &QSocketNotifier::activated, &session, [&] {
        char byte = 0;
        if (::read(signalPipe[1], &byte, 1) == 1 && !stoppedBy) {
            stoppedBy = byte;
            report.line(
                QStringLiteral("Stopping: the step under way is dropped; --resume %1 goes on.").arg(recipe.output));
            session.stop();
        }
    });
    struct sigaction action
    {
    };
    action.sa_handler = onSignal;
    ::sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);

    const RecipeRunner& runner = session.runner;
    QObject::connect(&runner, &RecipeRunner::stepStarted, &session, [&](int index, int count, const QString& what) {
        report.event({{"event", "step-started"}, {"step", index + 1}, {"of", count}, {"what", what}});
        report.line(QStringLiteral("Step %1 of %2: %3").arg(index + 1).arg(count).arg(what));
    });
    QObject::connect(&runner, &RecipeRunner::progress, &session,
                     [&](int index, int done, int total) { report.progress(index, done, total); });
    QObject::connect(&runner, &RecipeRunner::fileWritten, &session, [&](const QString& path) {
        report.event({{"event", "file-written"}, {"path", path}});
        report.line(QStringLiteral("  wrote %1").arg(path));
    });
    QObject::connect(&runner, &RecipeRunner::warning, &session, [&](const QString& text) {
        report.event({{"event", "warning"}, {"text", text}});
        report.line(QStringLiteral("  warning: %1").arg(text));
    });
    QObject::connect(
        &session, &RecipeSession::planned, &session,
        [&](const QVector<RecipeSession::PlannedStep>& steps, int remaining) {
            double total = 0;
            for (int i = 0; i < steps.size(); ++i) {
                const RecipeSession::PlannedStep& s = steps[i];
                total += s.seconds;
                report.line(QStringLiteral("%1. %2%3, about %4%5")
                                .arg(i + 1)
                                .arg(s.what)
                                .arg(s.tiles ? QStringLiteral(", %1 tiles").arg(s.tiles) : QString())
                                .arg(duration(s.seconds))
                                .arg(s.files.isEmpty() ? QString() : QStringLiteral(" -> ") + s.files.join(", ")));
            }
            const QString fits =
                remaining < 0 ? QStringLiteral("the control time left is not known")
                : total <= remaining
                    ? QStringLiteral("fits the %1 of control time left").arg(duration(remaining))
                    : QStringLiteral("does NOT fit the %1 of control time left").arg(duration(remaining));
            report.line(
                QStringLiteral("Into %1: about %2 in all, which %3.").arg(recipe.output, duration(total), fits));
            report.event(
                {{"event", "plan"}, {"steps", int(steps.size())}, {"seconds", total}, {"remaining", remaining}});
        });
    int status = Done;
    QObject::connect(&session, &RecipeSession::finished, &app,
                     [&](RecipeRunner::Outcome outcome, const QString& reason) {
                         switch (outcome) {
                         case RecipeRunner::Outcome::Done:
                             status = Done;
                             report.event({{"event", "done"}, {"output", recipe.output}});
                             if (!planOnly)
                                 report.line(QStringLiteral("Done: every step, files in %1.").arg(recipe.output));
                             break;
                         case RecipeRunner::Outcome::Stopped:
                             status = 128 + (stoppedBy ? stoppedBy : SIGINT);
                             report.event({{"event", "failed"}, {"reason", reason}, {"stopped", true}});
                             break;
                         case RecipeRunner::Outcome::TimeOut:
                         case RecipeRunner::Outcome::Failed:
                             status = outcome == RecipeRunner::Outcome::TimeOut ? TimeOut : StepFailed;
                             report.event({{"event", "failed"}, {"reason", reason}});
                             std::fprintf(stderr, "tessan-acquire: %s\n", reason.toLocal8Bit().constData());
                             break;
                         }
                         QCoreApplication::exit(status);
                     });
    session.start(recipe, password, planOnly);
    return app.exec();
}
