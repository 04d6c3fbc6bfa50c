#include "session/Session.h"

#include "acquire/Recipe.h"
#include "acquire/RecipeRunner.h"
#include "acquire/RecipeSession.h"
#include "acquire/TileScan.h"
#include "session/RegionScan.h"
#include "views/SavePathDialog.h"
#include "views/VideoWindow.h"

#include <QComboBox>
#include <QFileDialog>
#include <QSaveFile>
#include <QSpinBox>
#include <QStatusBar>

Recipe Session::recipeFromWindow() const
{
    Recipe recipe;
    recipe.server = sessionInfo.host;
    recipe.microscope = sessionInfo.scope.name;
    recipe.user = sessionInfo.login;
    recipe.slide = sessionInfo.scope.slides.value(0);
    recipe.output = (recipe.slide.isEmpty() ? QStringLiteral("tessan") : recipe.slide) + QStringLiteral("-run");
    const int size = videoWindow ? videoWindow->ComboBox3->currentIndex() + 1 : 1;

    RecipeStep here;
    here.xMm = double(currentCoords.x) * 0.0001;
    here.yMm = double(currentCoords.y) * 0.0001;
    here.zUm = double(currentCoords.z) * 0.1;
    RecipeStep picture;
    picture.kind = RecipeStep::Kind::Picture;
    picture.size = size;
    RecipeStep stack;
    stack.kind = RecipeStep::Kind::Stack;
    stack.planes = frameCountSelector->value();
    stack.rangeUm = frameRangeSelector->value();
    stack.size = size;
    recipe.steps = {here, picture, stack};
    // The region of the Image Acquisition page, when it is one a scan can take.
    const TileGrid grid = regionScan->plannedGrid();
    if (grid.isValid()) {
        RecipeStep scan;
        scan.kind = RecipeStep::Kind::Scan;
        scan.fromMm = QPointF(jobTopLeft.x, jobTopLeft.y);
        scan.toMm = QPointF(jobBottomRight.x, jobBottomRight.y);
        scan.overlapPercent = overlapBox->value();
        scan.autofocusEvery = regionScan->autofocusEvery();
        scan.size = size;
        recipe.steps.append(scan);
    }
    return recipe;
}

bool Session::saveRecipeTo(const QString& path)
{
    const QByteArray text =
        "# Written by Tessan from the control window; run it with tessan-acquire.\n" + recipeFromWindow().write();
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit()) {
        statusBar()->showMessage(QStringLiteral("Recipe saved as %1.").arg(path), noticeMs);
        return true;
    }
    appendInfo(QStringLiteral("***The recipe could not be saved as %1: %2").arg(path, file.errorString()));
    return false;
}

void Session::saveRecipe()
{
    const QString path = SavePathDialog::ask(this, QStringLiteral("Save as Recipe"), QStringLiteral("recipe dialog"),
                                             QStringLiteral("Recipes (*.yaml *.yml)"), QStringLiteral("yaml"),
                                             recipeFromWindow().output + QStringLiteral(".yaml"));
    if (!path.isEmpty())
        saveRecipeTo(path);
}

void Session::runRecipe()
{
    if (recipeRunner) {
        recipeRunner->stop();
        return;
    }
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Run Recipe"), QString(),
                                                      QStringLiteral("Recipes (*.yaml *.yml *.json)"), nullptr,
                                                      QFileDialog::DontUseNativeDialog);
    if (!path.isEmpty())
        runRecipeFrom(path);
}

bool Session::runRecipeFrom(const QString& path)
{
    auto refuse = [this](const QString& reason) {
        appendInfo(QStringLiteral("***The recipe was not run: ") + reason);
        return false;
    };
    if (stageBusy() || clock.controlExpired)
        return refuse(QStringLiteral("the stage is busy or the control time is over."));
    if (!(scopeInfo.mppX > 0 && scopeInfo.mppY > 0))
        return refuse(QStringLiteral("the microscope has not said its scale yet."));
    Recipe recipe;
    QString error;
    if (!Recipe::load(path, &recipe, &error))
        return refuse(error);
    if (recipe.server != sessionInfo.host || recipe.microscope != sessionInfo.scope.name)
        return refuse(QStringLiteral("it is for %1 on %2, and this session is %3 on %4.")
                          .arg(recipe.microscope, recipe.server, sessionInfo.scope.name, sessionInfo.host));
    auto journal = std::make_shared<RecipeJournal>();
    if (!RecipeSession::prepareRun(path, recipe, journal.get(), &error))
        return refuse(error);

    recipeRunner = new RecipeRunner(link, this);
    connect(recipeRunner, &RecipeRunner::stepStarted, this, [this](int index, int count, const QString& what) {
        statusBar()->showMessage(QStringLiteral("Recipe step %1 of %2: %3").arg(index + 1).arg(count).arg(what));
    });
    connect(recipeRunner, &RecipeRunner::fileWritten, this,
            [this](const QString& file) { appendInfo(QStringLiteral("Recipe wrote ") + file); });
    connect(recipeRunner, &RecipeRunner::warning, this, &Session::appendInfo);
    // The journal lives as long as the run.
    connect(recipeRunner, &RecipeRunner::finished, this,
            [this, journal, output = recipe.output](RecipeRunner::Outcome outcome, const QString& reason) {
                recipeRunner->deleteLater();
                recipeRunner = nullptr;
                statusBar()->clearMessage();
                appendInfo(outcome == RecipeRunner::Outcome::Done
                               ? QStringLiteral("Recipe done: every step, files in %1.").arg(output)
                               : QStringLiteral("***Recipe stopped: %1 (tessan-acquire --resume %2 goes on).")
                                     .arg(reason, output));
                enableControls();
                // The stage is where the recipe left it.
                queryCoords();
            });
    disableControls();
    recipeRunner->start(recipe, journal.get(), scopeInfo.mppX, scopeInfo.mppY);
    return true;
}
