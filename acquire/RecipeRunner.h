#pragma once

#include "acquire/ControlClock.h"
#include "acquire/FocusStackRun.h"
#include "acquire/JobSubmitter.h"
#include "acquire/Provenance.h"
#include "acquire/Recipe.h"
#include "acquire/RecipeJournal.h"
#include "acquire/ScanTiming.h"
#include "acquire/Stage.h"
#include "acquire/TileScan.h"
#include "imaging/OmeXml.h"

#include <QObject>
#include <QTemporaryDir>

#include <atomic>
#include <memory>

class FocusFusion;
class MosaicStitcher;
class QThread;
class SessionLink;
class StackFile;

// Runs the steps of a recipe on a granted session, from a given step on,
// writing each step's files into the output folder and marking the step done
// in the journal once its files are complete. Every file is written under a
// temporary name and renamed when whole; a stopped step leaves none.
class RecipeRunner : public QObject
{
    Q_OBJECT

public:
    enum class Outcome { Done, Failed, Stopped, TimeOut };

    RecipeRunner(SessionLink& link, QObject* parent = nullptr);
    ~RecipeRunner() override;

    // The files step `index` writes, relative to the output folder.
    static QStringList filesOf(const RecipeStep& step, int index);

    // mpp: the microscope's µm per video pixel. Starts with the first step
    // the journal has not done; `journal` must outlive the run.
    void start(const Recipe& recipe, RecipeJournal* journal, double mppX, double mppY);
    // Ends the run at once; the step under way writes nothing.
    void stop();
    bool isRunning() const { return running; }

    // Tests: end the run as if stopped once this many steps are done (-1: never).
    int stopAfterSteps = -1;

    Stage stage;
    ControlClock clock;

signals:
    void stepStarted(int index, int count, const QString& what);
    // Tiles or planes of the step under way.
    void progress(int index, int done, int total);
    void fileWritten(const QString& path);
    void warning(const QString& text);
    void finished(RecipeRunner::Outcome outcome, const QString& reason);

private:
    void nextStep();
    void beginStep();
    void stepDone();
    void fail(const QString& reason);
    void end(Outcome outcome, const QString& reason);
    // Stops every request and removes the files of the step under way.
    void dropStep();
    void arrived();
    void frameArrived(const QImage& frame);
    // Stage z (0.1 µm) of plane k of the stack under way.
    double planeZ(int k) const;
    // A picture centred on `centre` with a plane at each z (µm), its scale and provenance.
    OmeImage describe(const QString& name, const CoordinateTriple& centre, const QSize& picture,
                      const QVector<double>& zUm) const;
    void stackPlane(const QImage& frame, int k, double z);
    void stackDone();
    void startScan(const RecipeStep& step);
    void scanFinished(bool cancelled);
    void mosaicSaved();
    bool writePicture(const QImage& frame, const QString& path, QString* error);
    // Where the file came from, for the file itself.
    Provenance::KeyValues provenance() const;
    QString outputPath(int file) const;
    QString stageText() const;

    SessionLink& link;
    JobSubmitter jobs;
    FocusStackRun stack;
    ScanTiming timing;
    TileScan scan;
    Recipe recipe;
    RecipeJournal* journal = nullptr;
    double mppX = 0;
    double mppY = 0;
    int index = -1;
    bool running = false;
    QStringList written;
    // Where the stage last reported itself.
    CoordinateTriple here;
    // Moving back to where an undone step began, before doing it again.
    bool restoring = false;
    int stepsThisRun = 0;
    // The stack under way.
    CoordinateTriple stackStart;
    std::unique_ptr<StackFile> stackFile;
    std::unique_ptr<FocusFusion> fusion;
    // The scan under way.
    std::unique_ptr<MosaicStitcher> mosaic;
    std::unique_ptr<QTemporaryDir> tileCache;
    QVector<double> tileZUm;
    // Writes the mosaic off the event loop, so a signal still stops the run.
    QThread* saver = nullptr;
    std::atomic<bool> saveCancel{false};
    bool saveOk = false;
    QString saveError;
};
