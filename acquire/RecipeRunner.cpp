#include "acquire/RecipeRunner.h"

#include "acquire/JobGrid.h"
#include "acquire/SessionLink.h"
#include "acquire/TileGrid.h"
#include "imaging/FocusFusion.h"
#include "imaging/MosaicStitcher.h"
#include "imaging/PictureFile.h"
#include "imaging/StackFile.h"

#include <QDateTime>
#include <QDir>
#include <QSaveFile>
#include <QThread>
#include <QTimer>

#include <cmath>

RecipeRunner::RecipeRunner(SessionLink& sessionLink, QObject* parent)
    : QObject(parent)
    , stage(sessionLink)
    , clock(sessionLink)
    , link(sessionLink)
    , jobs(sessionLink)
    , stack(sessionLink)
    , scan(sessionLink, timing)
{
    connect(&stage, &Stage::arrived, this, &RecipeRunner::arrived);
    connect(&stage, &Stage::frameArrived, this, &RecipeRunner::frameArrived);
    connect(&stage, &Stage::failed, this, &RecipeRunner::fail);
    connect(&stack, &FocusStackRun::planeStarted, this,
            [this](int k) { emit progress(index, k, recipe.steps[index].planes); });
    connect(&stack, &FocusStackRun::planeTaken, this, &RecipeRunner::stackPlane);
    connect(&stack, &FocusStackRun::finished, this, &RecipeRunner::stackDone);
    connect(&stack, &FocusStackRun::failed, this,
            [this](FocusStackRun::Failure, const QString& reason) { fail(reason); });
    connect(&clock, &ControlClock::expired, this,
            [this] { end(Outcome::TimeOut, QStringLiteral("the control time has run out")); });
    connect(&jobs, &JobSubmitter::submitted, this, [this] {
        if (running)
            stepDone();
    });
    connect(&jobs, &JobSubmitter::message, this, [this](const QString& text) { fail(text.mid(3)); });
    connect(&scan, &TileScan::notice, this, &RecipeRunner::warning);
    connect(&scan, &TileScan::progress, this, [this](int done, int total) { emit progress(index, done, total); });
    connect(&scan, &TileScan::positionReported, this, [this](CoordinateTriple& at) { here = at; });
    connect(&scan, &TileScan::tileTaken, this,
            [this](int id, int row, int col, QPointF reportedUm, const QImage& frame) {
                tileZUm.append(double(here.z) * 0.1);
                mosaic->addTile(ScanTile{id, row, col, reportedUm}, frame);
            });
    connect(&scan, &TileScan::tileMissing, this, [this](int id, int, int, const QString& reason) {
        mosaic->markMissing(id);
        emit warning(reason);
    });
    connect(&scan, &TileScan::finished, this, &RecipeRunner::scanFinished);
}

RecipeRunner::~RecipeRunner()
{
    // No report from a destructor: the listeners may be gone already.
    if (running)
        dropStep();
}

QStringList RecipeRunner::filesOf(const RecipeStep& step, int index)
{
    const QString stem = QString::asprintf("%03d-", index + 1);
    switch (step.kind) {
    case RecipeStep::Kind::Picture:
        return {stem + QStringLiteral("picture") +
                (step.format == QLatin1String("png")    ? QStringLiteral(".png")
                 : step.format == QLatin1String("jpeg") ? QStringLiteral(".jpg")
                                                        : QStringLiteral(".ome.tif"))};
    case RecipeStep::Kind::Stack:
        if (step.fuse)
            return {stem + QStringLiteral("stack.ome.tif"), stem + QStringLiteral("all-in-focus.ome.tif")};
        return {stem + QStringLiteral("stack.ome.tif")};
    case RecipeStep::Kind::Scan:
        return {stem + QStringLiteral("mosaic.ome.tif")};
    default:
        return {};
    }
}

void RecipeRunner::start(const Recipe& toRun, RecipeJournal* runJournal, double umPerPxX, double umPerPxY)
{
    recipe = toRun;
    journal = runJournal;
    mppX = umPerPxX;
    mppY = umPerPxY;
    running = true;
    stepsThisRun = 0;
    index = -1;
    clock.restart();
    // Where the stage is, for a goto that keeps z and for the first stack; nothing moves.
    stage.query();
}

void RecipeRunner::stop()
{
    end(Outcome::Stopped, QStringLiteral("stopped"));
}

void RecipeRunner::end(Outcome outcome, const QString& reason)
{
    if (!running)
        return;
    dropStep();
    emit finished(outcome, reason);
}

void RecipeRunner::dropStep()
{
    running = false;
    restoring = false;
    stage.stop();
    stack.stop();
    scan.abort();
    jobs.stop();
    clock.stop();
    // A step cut short keeps none of its files: the journal has not counted them.
    if (stackFile)
        stackFile->cancel();
    stackFile.reset();
    fusion.reset();
    if (saver) {
        saver->disconnect(this);
        saveCancel = true;
        saver->wait();
        delete saver;
        saver = nullptr;
    }
    if (mosaic)
        mosaic->cancel();
    mosaic.reset();
    tileCache.reset();
    for (const QString& path : written)
        QFile::remove(path);
    written.clear();
}

void RecipeRunner::fail(const QString& reason)
{
    // Which request first meets a token made from a wrong password is a race; the hint is the same.
    const bool token = reason.contains(QLatin1String("BAD_AUTH"));
    end(Outcome::Failed,
        index >= 0 ? QStringLiteral("step %1 (%2): %3%4")
                         .arg(index + 1)
                         .arg(recipe.steps[index].describe(), reason,
                              token ? QStringLiteral("; is the password right?") : QString())
                   : QStringLiteral("the server did not accept the session (%1); is the password right?").arg(reason));
}

QString RecipeRunner::outputPath(int file) const
{
    return QDir(recipe.output).filePath(filesOf(recipe.steps[index], index).value(file));
}

void RecipeRunner::nextStep()
{
    if (!running)
        return;
    if (stopAfterSteps >= 0 && stepsThisRun >= stopAfterSteps) {
        stop();
        return;
    }
    index = journal->firstOpen();
    if (index >= recipe.steps.size()) {
        running = false;
        clock.stop();
        emit finished(Outcome::Done, QString());
        return;
    }
    written.clear();
    emit stepStarted(index, int(recipe.steps.size()), recipe.steps[index].describe());
    RecipeJournal::Entry& entry = journal->entries[index];
    if (entry.begun) {
        // A step a killed run left undone is done again as it began: a stack,
        // picture or autofocus from that place, a goto or scan keeping its z.
        const RecipeStep::Kind kind = recipe.steps[index].kind;
        const bool inPlace =
            kind == RecipeStep::Kind::Stack || kind == RecipeStep::Kind::Picture || kind == RecipeStep::Kind::Autofocus;
        if (inPlace && (entry.from.x != here.x || entry.from.y != here.y || entry.from.z != here.z)) {
            restoring = true;
            stage.moveTo(double(entry.from.x), double(entry.from.y), double(entry.from.z));
            return;
        }
        here = entry.from;
    } else {
        entry.begun = true;
        entry.from = here;
        QString error;
        if (!journal->save(recipe.output, &error)) {
            fail(error);
            return;
        }
    }
    beginStep();
}

void RecipeRunner::beginStep()
{
    const RecipeStep& step = recipe.steps[index];
    switch (step.kind) {
    case RecipeStep::Kind::Goto:
        stage.moveTo(std::trunc(step.xMm * 10000.0), std::trunc(step.yMm * 10000.0),
                     std::isnan(step.zUm) ? double(here.z) : step.zUm * 10.0);
        break;
    case RecipeStep::Kind::Autofocus:
        stage.autofocus(step.accurate);
        break;
    case RecipeStep::Kind::Picture:
        stage.picture(step.size);
        break;
    case RecipeStep::Kind::Stack:
        stackStart = here;
        // Checked before the first move, so a stack is never cut short at the end of the focus range.
        if (!(planeZ(0) > 0.0 && planeZ(step.planes - 1) < Recipe::maxZUm * 10.0))
            fail(QStringLiteral("the planes would reach beyond the focus range (0 to %1 µm) from z %2 µm")
                     .arg(Recipe::maxZUm)
                     .arg(double(stackStart.z) * 0.1));
        else
            stack.start(stackStart, step.planes, step.rangeUm, link.url(QString::asprintf("f=p&ps=%i", step.size)));
        break;
    case RecipeStep::Kind::Scan:
        startScan(step);
        break;
    case RecipeStep::Kind::Job: {
        CoordinateTriple from, to;
        from.x = float(step.fromMm.x());
        from.y = float(step.fromMm.y());
        to.x = float(step.toMm.x());
        to.y = float(step.toMm.y());
        jobs.submit(step.jobName, step.fromMm, step.toMm, step.density, JobGrid::count(from, to, step.density));
        break;
    }
    }
}

void RecipeRunner::stepDone()
{
    RecipeJournal::Entry& entry = journal->entries[index];
    entry.done = true;
    entry.files.clear();
    for (const QString& path : written)
        entry.files << QFileInfo(path).fileName();
    QString error;
    if (!journal->save(recipe.output, &error)) {
        fail(error);
        return;
    }
    written.clear();
    ++stepsThisRun;
    // From the event loop: the reply that ended the step is still being handled.
    QTimer::singleShot(0, this, &RecipeRunner::nextStep);
}

void RecipeRunner::arrived()
{
    if (!running)
        return;
    here = stage.position();
    if (index < 0) {
        nextStep();
        return;
    }
    if (restoring) {
        restoring = false;
        beginStep();
        return;
    }
    stepDone();
}

void RecipeRunner::frameArrived(const QImage& frame)
{
    if (!running || index < 0)
        return;
    QString error;
    const QString path = outputPath(0);
    if (!writePicture(frame, path, &error)) {
        fail(error);
        return;
    }
    written << path;
    emit fileWritten(path);
    stepDone();
}

double RecipeRunner::planeZ(int k) const
{
    const RecipeStep& step = recipe.steps[index];
    return FocusStackRun::planeZ(double(stackStart.z), k, step.planes, step.rangeUm);
}

OmeImage RecipeRunner::describe(const QString& name, const CoordinateTriple& centre, const QSize& picture,
                                const QVector<double>& zUm) const
{
    OmeImage meta;
    meta.name = name;
    meta.acquired = QDateTime::currentDateTime();
    meta.physicalSizeXUm = mppX;
    meta.physicalSizeYUm = mppY;
    const QPointF topLeft = micrometres(centre) - QPointF(picture.width() * 0.5 * mppX, picture.height() * 0.5 * mppY);
    for (int k = 0; k < zUm.size(); ++k)
        meta.planes.append(OmePlane{k, 0, 0, true, topLeft.x(), topLeft.y(), zUm[k]});
    meta.provenance = provenance();
    return meta;
}

void RecipeRunner::stackPlane(const QImage& frame, int plane, double z)
{
    // The stage is at the plane: the files' provenance and the next step start from there.
    here.z = float(z);
    const RecipeStep& step = recipe.steps[index];
    const QImage rgb = frame.convertToFormat(QImage::Format_RGB888);
    QString error;
    if (plane == 0) {
        QVector<double> zUm;
        for (int k = 0; k < step.planes; ++k)
            zUm << planeZ(k) * 0.1;
        OmeImage meta = describe(recipe.slide, stackStart, rgb.size(), zUm);
        meta.sizeZ = step.planes;
        meta.physicalSizeZUm = step.rangeUm / double(step.planes);
        stackFile = std::make_unique<StackFile>();
        if (!stackFile->begin(outputPath(0), meta, &error)) {
            fail(error);
            return;
        }
        if (step.fuse) {
            fusion = std::make_unique<FocusFusion>();
            fusion->begin(rgb.size());
        }
    }
    if (!stackFile->addPlane(rgb, &error)) {
        fail(error);
        return;
    }
    if (fusion && !fusion->addPlane(rgb, z * 0.1))
        fail(QStringLiteral("plane %1 is not the size of the first").arg(plane + 1));
}

void RecipeRunner::stackDone()
{
    const RecipeStep& step = recipe.steps[index];
    // A plain query after this step reads the same position the last plane's move left.
    stage.setPosition(here);
    emit progress(index, step.planes, step.planes);
    QString error;
    if (!stackFile->finish(&error)) {
        fail(error);
        return;
    }
    stackFile.reset();
    written << outputPath(0);
    emit fileWritten(outputPath(0));
    if (fusion) {
        const FusionResult fused = fusion->finish();
        fusion.reset();
        const OmeImage meta =
            describe(recipe.slide + QStringLiteral(" all in focus"), stackStart, fused.picture.size(), {std::nan("")});
        if (!PictureFile::writeOmeTiff(outputPath(1), fused.picture, meta, &fused.heightUm, &error)) {
            fail(error);
            return;
        }
        written << outputPath(1);
        emit fileWritten(outputPath(1));
    }
    stepDone();
}

void RecipeRunner::startScan(const RecipeStep& step)
{
    const TileGrid grid = TileGrid::plan(step.fromMm * 1000.0, step.toMm * 1000.0, TileScan::pictureOf(step.size), mppX,
                                         mppY, step.overlapPercent);
    if (!grid.isValid()) {
        fail(grid.refusal);
        return;
    }
    // As the window does: a scan that cannot end within the control time does not begin.
    const double seconds = ScanTiming::estimateSeconds(grid, micrometres(here), step.autofocusEvery, timing.model());
    if (clock.countdownTimer.isActive() && seconds > clock.remainingSeconds) {
        end(Outcome::TimeOut, QStringLiteral("step %1: the scan of %2 tiles would take about %3 s, but only %4 s of "
                                             "control time are left")
                                  .arg(index + 1)
                                  .arg(grid.count())
                                  .arg(qRound(seconds))
                                  .arg(clock.remainingSeconds));
        return;
    }
    tileCache = std::make_unique<QTemporaryDir>(QDir(recipe.output).filePath(QStringLiteral(".tiles-XXXXXX")));
    mosaic = std::make_unique<MosaicStitcher>();
    const MosaicPlan plan = grid.mosaicPlan(tileCache->path());
    QString error;
    if (!tileCache->isValid() || !mosaic->begin(plan, &error)) {
        fail(QStringLiteral("no room for the tiles (%1)").arg(error.isEmpty() ? tileCache->errorString() : error));
        return;
    }
    connect(mosaic.get(), &MosaicStitcher::problem, this, &RecipeRunner::warning);
    tileZUm.clear();
    scan.start(grid, step.size, step.autofocusEvery, here);
}

void RecipeRunner::scanFinished(bool)
{
    if (!running)
        return;
    if (scan.missing().size() == scan.total()) {
        fail(QStringLiteral("no tile could be taken"));
        return;
    }
    double sum = 0;
    for (double z : tileZUm)
        sum += z;
    mosaic->setStageZ(tileZUm.isEmpty() ? std::nan("") : sum / tileZUm.size(), QString());
    mosaic->setProvenance(provenance());
    mosaic->finish();
    saveCancel = false;
    MosaicStitcher* source = mosaic.get();
    const QString path = outputPath(0);
    // Waits for the last placements; the mosaic is written under a temporary name.
    saver = QThread::create([this, source, path] { saveOk = source->save(path, &saveError, {}, &saveCancel); });
    connect(saver, &QThread::finished, this, &RecipeRunner::mosaicSaved);
    saver->start();
}

void RecipeRunner::mosaicSaved()
{
    saver->deleteLater();
    saver = nullptr;
    if (!saveOk) {
        fail(saveError);
        return;
    }
    mosaic.reset();
    tileCache.reset();
    written << outputPath(0);
    emit fileWritten(outputPath(0));
    stepDone();
}

bool RecipeRunner::writePicture(const QImage& frame, const QString& path, QString* error)
{
    const RecipeStep& step = recipe.steps[index];
    if (step.format == QLatin1String("ome-tiff")) {
        const OmeImage meta = describe(recipe.slide, here, frame.size(), {double(here.z) * 0.1});
        return PictureFile::writeOmeTiff(path, frame.convertToFormat(QImage::Format_RGB888), meta, nullptr, error);
    }
    QImage picture = frame;
    QStringList lines;
    for (const auto& [key, value] : provenance())
        if (key != QLatin1String("recipe"))
            lines << key + QStringLiteral(": ") + value;
    picture.setText(QStringLiteral("Description"), lines.join(QLatin1Char('\n')));
    QSaveFile file(path);
    const bool jpeg = step.format == QLatin1String("jpeg");
    if (file.open(QIODevice::WriteOnly) && picture.save(&file, jpeg ? "JPEG" : "PNG", jpeg ? 95 : -1) && file.commit())
        return true;
    *error = QStringLiteral("cannot write %1 (%2)").arg(path, file.errorString());
    return false;
}

QString RecipeRunner::stageText() const
{
    return QString::asprintf("x %.4f mm, y %.4f mm, z %.1f µm", double(here.x) * 0.0001, double(here.y) * 0.0001,
                             double(here.z) * 0.1);
}

Provenance::KeyValues RecipeRunner::provenance() const
{
    const RecipeStep& step = recipe.steps[index];
    Provenance::KeyValues pairs =
        Provenance::of(recipe.server, recipe.microscope, recipe.slide, recipe.user, step.describe());
    pairs += {{QStringLiteral("stage"), stageText()},
              {QStringLiteral("step"), QStringLiteral("%1 of %2").arg(index + 1).arg(recipe.steps.size())},
              {QStringLiteral("recipe"), QString::fromUtf8(recipe.text)}};
    return pairs;
}
