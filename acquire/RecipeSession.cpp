#include "acquire/RecipeSession.h"

#include "acquire/TileGrid.h"

#include <QDir>
#include <QFile>
#include <QLineF>

#include <cmath>

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
    if (!Recipe::load(journal->recipePath, recipe, error))
        return false;
    if (RecipeJournal::digestOf(recipe->text) == journal->digest && recipe->steps.size() == journal->entries.size())
        return true;
    // The copy kept in the folder tells which step changed.
    QFile copy(RecipeJournal::recipeCopyPath(folder));
    Recipe before;
    QString ignored;
    const bool readable =
        copy.open(QIODevice::ReadOnly) && Recipe::parse(copy.readAll(), journal->recipePath, &before, &ignored);
    int differs = 0;
    while (readable && differs < recipe->steps.size() && differs < before.steps.size() &&
           recipe->steps[differs].describe() == before.steps[differs].describe())
        ++differs;
    *error = QStringLiteral("%1 has changed since the run in %2 began").arg(journal->recipePath, folder);
    if (readable && differs < std::max(recipe->steps.size(), before.steps.size()))
        *error += QStringLiteral(": step %1 differs (now: %2; was: %3)")
                      .arg(differs + 1)
                      .arg(differs < recipe->steps.size() ? recipe->steps[differs].describe() : QStringLiteral("none"),
                           differs < before.steps.size() ? before.steps[differs].describe() : QStringLiteral("none"));
    else if (readable)
        *error += QStringLiteral(": its steps are the same, but its settings (server, user, slide or output) differ");
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
    login.stop();
    scopeInfo.stop();
    runner.stop();
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
