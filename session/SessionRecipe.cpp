#include "session/Session.h"

#include "acquire/Recipe.h"
#include "acquire/TileScan.h"
#include "session/RegionScan.h"
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
    QFileDialog dialog(this, QStringLiteral("Save as Recipe"));
    dialog.setObjectName(QStringLiteral("recipe dialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QStringLiteral("Recipes (*.yaml *.yml)"));
    dialog.setDefaultSuffix(QStringLiteral("yaml"));
    dialog.selectFile(recipeFromWindow().output + QStringLiteral(".yaml"));
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        saveRecipeTo(dialog.selectedFiles().constFirst());
}
