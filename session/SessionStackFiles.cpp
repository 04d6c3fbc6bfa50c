#include "session/Session.h"

#include "acquire/Provenance.h"
#include "imaging/FocusFusion.h"
#include "session/StackExport.h"
#include "views/AllInFocusWindow.h"
#include "views/SavePathDialog.h"
#include "views/VideoStack.h"

#include <QAction>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QtConcurrent>

#include <cmath>

namespace {

QString stackFileName(const QString& slide, const QDateTime& began)
{
    QString base = (slide.isEmpty() ? QStringLiteral("focus") : slide) + QStringLiteral("_stack_") +
                   began.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    base.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]+")), QStringLiteral("_"));
    return base;
}

QString micrometres(double stageUnits)
{
    return QString::asprintf("%.1f", stageUnits * 0.1);
}

} // namespace

void Session::updateStackActions()
{
    fileSaveStackAction->setEnabled(stackComplete && !stackSaving);
    // While a fusion runs the button is its cancel.
    allInFocusButton->setEnabled(fusing || (stackComplete && stackFullFrame));
    allInFocusButton->setText(fusing ? QStringLiteral("Cancel") : QStringLiteral("All in Focus"));
    fileSaveAllInFocusAction->setEnabled(allInFocusWindow && !allInFocusWindow->result().picture.isNull());
}

void Session::saveStack()
{
    if (!stackComplete)
        return;
    const QString path =
        SavePathDialog::ask(this, QStringLiteral("Save Stack"), QStringLiteral("stack dialog"),
                            QStringLiteral("OME-TIFF stacks (*.ome.tif *.ome.tiff)"), QStringLiteral("ome.tif"),
                            stackFileName(sessionInfo.scope.slides.value(0), stackBegan) + QStringLiteral(".ome.tif"));
    if (!path.isEmpty())
        saveStackTo(path);
}

void Session::saveStackTo(const QString& fileName)
{
    if (!stackComplete || stackSaving)
        return;
    QString path = fileName;
    if (!path.endsWith(QLatin1String(".tif"), Qt::CaseInsensitive) &&
        !path.endsWith(QLatin1String(".tiff"), Qt::CaseInsensitive))
        path += QStringLiteral(".ome.tif");
    const QList<StackPlane> planes = insetStack->planes();
    OmeImage meta = StackExport::describe(sessionInfo.scope.slides.value(0), stackBegan, stackTopLeftUm, stackZ,
                                          scopeInfo.mppX, scopeInfo.mppY);
    meta.provenance =
        Provenance::of(sessionInfo.host, sessionInfo.scope.name, sessionInfo.scope.slides.value(0), sessionInfo.login,
                       QStringLiteral("focus stack of %1 %2 planes, %3 µm apart")
                           .arg(stackZ.size())
                           .arg(stackFullFrame ? QStringLiteral("whole-frame") : QStringLiteral("sampling-region"))
                           .arg(meta.physicalSizeZUm));

    stackSaving = new QFutureWatcher<QString>(this);
    connect(stackSaving, &QFutureWatcher<QString>::progressValueChanged, this, [this](int done) {
        statusBar()->showMessage(
            QStringLiteral("Saving focus stack: plane %1 of %2...").arg(done).arg(stackSaving->progressMaximum()));
    });
    connect(stackSaving, &QFutureWatcher<QString>::finished, this, [this, path] {
        const QString error =
            stackSaving->future().resultCount() > 0 ? stackSaving->result() : QStringLiteral("the writer stopped");
        stackSaving->deleteLater();
        stackSaving = nullptr;
        updateStackActions();
        if (error.isEmpty())
            statusBar()->showMessage(QStringLiteral("Focus stack saved to ") + path, 5000);
        else
            appendInfo(QStringLiteral("***The focus stack could not be saved to ") + path + QStringLiteral(": ") +
                       error + QLatin1Char('.'));
        emit stackSaved(path, error);
    });
    statusBar()->showMessage(QStringLiteral("Saving focus stack..."));
    stackSaving->setFuture(QtConcurrent::run(&StackExport::write, path, planes, meta));
    updateStackActions();
}

void Session::fuseStack()
{
    if (fusing) {
        fusion->cancel();
        fusing->cancel();
        return;
    }
    if (!stackComplete || !stackFullFrame)
        return;
    const QList<StackPlane> planes = insetStack->planes();
    const QVector<double> zs = stackZ;
    const QString slide = sessionInfo.scope.slides.value(0);
    OmeImage meta =
        StackExport::describe(slide, stackBegan, stackTopLeftUm, {stackStart.z}, scopeInfo.mppX, scopeInfo.mppY);
    const QString text =
        QStringList{
            QStringLiteral("All in focus from %1 planes, z %2 to %3 µm")
                .arg(zs.size())
                .arg(micrometres(zs.constFirst()), micrometres(zs.constLast())),
            QStringLiteral("Stage X: ") + QString::asprintf("%.4f mm", double(stackStart.x) * 0.0001),
            QStringLiteral("Stage Y: ") + QString::asprintf("%.4f mm", double(stackStart.y) * 0.0001),
            QStringLiteral("Scale: ") + QString::asprintf("%g x %g", double(scopeInfo.mppX), double(scopeInfo.mppY)) +
                QStringLiteral(" µm per pixel"),
            QStringLiteral("Microscope: ") + sessionInfo.scope.name,
            QStringLiteral("Slide: ") + slide,
            QStringLiteral("Server: ") + sessionInfo.host,
            QStringLiteral("Taken: ") + stackBegan.toOffsetFromUtc(stackBegan.offsetFromUtc()).toString(Qt::ISODate)}
            .join(QStringLiteral("; "));
    const QString summary = QStringLiteral("%1 planes, z %2 to %3 µm, %4 µm apart")
                                .arg(zs.size())
                                .arg(micrometres(zs.constFirst()), micrometres(zs.constLast()),
                                     micrometres(zs.size() > 1 ? std::abs(zs[1] - zs[0]) : 0.0));

    meta.provenance = Provenance::of(sessionInfo.host, sessionInfo.scope.name, slide, sessionInfo.login,
                                     QStringLiteral("all in focus from ") + summary);
    fusion = std::make_shared<FocusFusion>();
    fusing = new QFutureWatcher<FusionResult>(this);
    connect(fusing, &QFutureWatcher<FusionResult>::progressValueChanged, this, [this](int done) {
        statusBar()->showMessage(
            QStringLiteral("All in Focus: plane %1 of %2...").arg(done).arg(fusing->progressMaximum()));
    });
    connect(fusing, &QFutureWatcher<FusionResult>::finished, this, [this, meta, text, summary]() mutable {
        const bool cancelled = fusing->isCanceled() || fusing->future().resultCount() == 0;
        const FusionResult fused = cancelled ? FusionResult() : fusing->result();
        fusing->deleteLater();
        fusing = nullptr;
        fusion.reset();
        if (cancelled) {
            statusBar()->showMessage(QStringLiteral("All in Focus cancelled."), 5000);
        } else if (fused.picture.isNull()) {
            appendInfo(QStringLiteral("***All in Focus failed: the stack's planes differ in size or do not decode."));
        } else {
            statusBar()->clearMessage();
            meta.sizeX = fused.picture.width();
            meta.sizeY = fused.picture.height();
            showAllInFocus(fused, meta, text, summary);
        }
        updateStackActions();
        emit fusionFinished(cancelled || fused.picture.isNull());
    });
    statusBar()->showMessage(QStringLiteral("All in Focus: fusing %1 planes...").arg(planes.size()));
    std::shared_ptr<FocusFusion> folding = fusion;
    fusing->setFuture(QtConcurrent::run([folding, planes, zs](QPromise<FusionResult>& promise) {
        promise.setProgressRange(0, int(planes.size()));
        folding->begin(planes.constFirst().size());
        for (int i = 0; i < planes.size(); ++i) {
            // A plane that no longer decodes is left out rather than spoiling the picture.
            const QImage plane = planes[i].image();
            if (promise.isCanceled())
                return;
            if (!plane.isNull() && !folding->addPlane(plane, zs.value(i) * 0.1)) {
                promise.addResult(FusionResult());
                return;
            }
            promise.setProgressValue(i + 1);
        }
        promise.addResult(folding->finish());
    }));
    updateStackActions();
}

void Session::showAllInFocus(const FusionResult& fused, const OmeImage& meta, const QString& text,
                             const QString& summary)
{
    if (!allInFocusWindow) {
        allInFocusWindow = new AllInFocusWindow();
        allInFocusWindow->resize(1000, 730);
    }
    allInFocusWindow->setResult(fused, meta, text, summary);
    allInFocusWindow->show();
    allInFocusWindow->raise();
    allInFocusWindow->activateWindow();
}

void Session::saveAllInFocus()
{
    if (!allInFocusWindow)
        return;
    allInFocusWindow->show();
    allInFocusWindow->raise();
    allInFocusWindow->saveAs();
}
