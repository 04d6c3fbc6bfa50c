#include "acquire/RecipeSession.h"

#include "acquire/TileGrid.h"

#include <QDir>
#include <QFile>
#include <QLineF>

RecipeSession::RecipeSession(QObject* parent)
    : QObject(parent)
{
    connect(&login, &Login::granted, &scopeInfo, &ScopeInfo::request);
    connect(&login, &Login::failed, this,
            [this](const QString& reason) { emit finished(RecipeRunner::Outcome::Failed, reason); });
    connect(&scopeInfo, &ScopeInfo::arrived, this, &RecipeSession::scaleArrived);
    connect(&scopeInfo, &ScopeInfo::message, this, [this] {
        emit finished(RecipeRunner::Outcome::Failed, QStringLiteral("the microscope did not say its scale"));
    });
    connect(&runner, &RecipeRunner::finished, this, &RecipeSession::finished);
    connect(&runner.clock.timeFetcher, qOverload<>(&MyHTTP::done), this, [this] {
        if (waitingForTime) {
            waitingForTime = false;
            planReady();
        }
    });
    connect(&runner.stage, &Stage::arrived, this, [this] {
        if (waitingForStage) {
            waitingForStage = false;
            planReady();
        }
    });
    connect(&runner.stage, &Stage::failed, this, [this](const QString& reason) {
        if (waitingForStage)
            emit finished(RecipeRunner::Outcome::Failed, reason);
    });
}

bool RecipeSession::prepareRun(const QString& recipePath, const Recipe& recipe, RecipeJournal* journal, QString* error)
{
    if (QFile::exists(RecipeJournal::journalPath(recipe.output))) {
        *error = QStringLiteral("%1 holds a run already: go on with it by --resume %1, or name another output folder")
                     .arg(recipe.output);
        return false;
    }
    if (!QDir().mkpath(recipe.output)) {
        *error = QStringLiteral("cannot make the output folder %1").arg(recipe.output);
        return false;
    }
    if (!journal->lockFolder(recipe.output, error))
        return false;
    QStringList steps;
    for (const RecipeStep& step : recipe.steps)
        steps << step.describe();
    journal->reset(QFileInfo(recipePath).absoluteFilePath(), recipe.text, steps);
    return RecipeJournal::keepRecipe(recipe.output, recipe.text, error) && journal->save(recipe.output, error);
}

bool RecipeSession::prepareResume(const QString& folder, Recipe* recipe, RecipeJournal* journal, QString* error)
{
    if (!journal->load(folder, error))
        return false;
    // A recipe moved or deleted since: the copy kept here is the one begun.
    QFile copy(RecipeJournal::recipeCopyPath(folder));
    const bool fromCopy = !QFile::exists(journal->recipePath);
    if (fromCopy && !copy.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("neither %1 nor its copy %2 can be read").arg(journal->recipePath, copy.fileName());
        return false;
    }
    if (fromCopy ? !Recipe::parse(copy.readAll(), journal->recipePath, recipe, error)
                 : !Recipe::load(journal->recipePath, recipe, error))
        return false;
    // The journal holds each step as it was begun, marks spread out: a marks file changed counts too.
    const QVector<RecipeJournal::Entry>& was = journal->entries;
    int differs = 0;
    while (differs < recipe->steps.size() && differs < was.size() &&
           recipe->steps[differs].describe() == was[differs].what)
        ++differs;
    const bool sameSteps = differs == recipe->steps.size() && differs == was.size();
    if (sameSteps && RecipeJournal::digestOf(recipe->text) == journal->digest) {
        // The folder may have moved since: the files go on beside the journal.
        recipe->output = QDir(folder).absolutePath();
        if (!journal->lockFolder(recipe->output, error))
            return false;
        RecipeJournal::removeLeftovers(recipe->output);
        return true;
    }
    *error = QStringLiteral("%1 has changed since the run in %2 began (its first text is %3)")
                 .arg(journal->recipePath, folder, RecipeJournal::recipeCopyPath(folder));
    if (!sameSteps)
        *error += QStringLiteral(": step %1 differs (now: %2; was: %3)")
                      .arg(differs + 1)
                      .arg(differs < recipe->steps.size() ? recipe->steps[differs].describe() : QStringLiteral("none"),
                           differs < was.size() ? was[differs].what : QStringLiteral("none"));
    return false;
}

QVector<RecipeSession::PlannedStep> RecipeSession::plan(const Recipe& recipe, const QPointF& startUm, double mppX,
                                                        double mppY, const ScanTiming::Model& model)
{
    QVector<PlannedStep> steps;
    QPointF at = startUm;
    for (int i = 0; i < recipe.steps.size(); ++i) {
        const RecipeStep& step = recipe.steps[i];
        PlannedStep planned{step.describe(), 0, RecipeRunner::filesOf(step, i), 0};
        switch (step.kind) {
        case RecipeStep::Kind::Goto: {
            const QPointF to(step.xMm * 1000.0, step.yMm * 1000.0);
            planned.seconds = (model.moveMs + model.moveMsPerMm * QLineF(at, to).length() / 1000.0) / 1000.0;
            at = to;
            break;
        }
        case RecipeStep::Kind::Autofocus:
            // The accurate sweep covers the whole focus range: rather a few quick ones.
            planned.seconds = model.autofocusMs * (step.accurate ? 4 : 1) / 1000.0;
            break;
        case RecipeStep::Kind::Picture:
            planned.seconds = model.frameMs / 1000.0;
            break;
        case RecipeStep::Kind::Stack:
            planned.seconds = step.planes * (model.moveMs + model.frameMs) / 1000.0;
            break;
        case RecipeStep::Kind::Scan: {
            const TileGrid grid = TileGrid::plan(step.fromMm * 1000.0, step.toMm * 1000.0,
                                                 TileScan::pictureOf(step.size), mppX, mppY, step.overlapPercent);
            planned.tiles = grid.isValid() ? grid.count() : 0;
            planned.seconds = grid.isValid() ? ScanTiming::estimateSeconds(grid, at, step.autofocusEvery, model) : 0;
            if (grid.isValid()) {
                const QPoint last = grid.serpentine().constLast();
                at = grid.centreUm(last.y(), last.x());
            }
            break;
        }
        case RecipeStep::Kind::Job:
            break;
        }
        steps.append(planned);
    }
    return steps;
}

void RecipeSession::start(const Recipe& toRun, const QString& password, bool onlyPlan)
{
    recipe = toRun;
    planOnly = onlyPlan;
    login.start(recipe.server, recipe.microscope, recipe.user, password);
}

void RecipeSession::stop()
{
    if (runner.isRunning()) {
        runner.stop();
        return;
    }
    // Still logging in or planning: nothing to keep.
    login.stop();
    scopeInfo.stop();
    runner.stage.stop();
    runner.clock.stop();
    waitingForTime = waitingForStage = false;
    emit finished(RecipeRunner::Outcome::Stopped, QStringLiteral("stopped"));
}

void RecipeSession::scaleArrived()
{
    if (!(scopeInfo.mppX > 0 && scopeInfo.mppY > 0)) {
        emit finished(RecipeRunner::Outcome::Failed, QStringLiteral("the microscope did not say its scale"));
        return;
    }
    if (!planOnly) {
        runner.start(recipe, &journal, scopeInfo.mppX, scopeInfo.mppY);
        return;
    }
    // Reads only: where the stage is, and the control time left.
    waitingForTime = waitingForStage = true;
    runner.clock.request();
    runner.stage.query();
}

void RecipeSession::planReady()
{
    if (waitingForTime || waitingForStage)
        return;
    const CoordinateTriple at = runner.stage.position();
    const bool known = runner.clock.timeFetcher.succeeded() && runner.clock.countdownTimer.isActive();
    runner.clock.stop();
    emit planned(plan(recipe, QPointF(double(at.x) * 0.1, double(at.y) * 0.1), scopeInfo.mppX, scopeInfo.mppY,
                      ScanTiming().model()),
                 known ? runner.clock.remainingSeconds : -1);
    emit finished(RecipeRunner::Outcome::Done, QString());
}
