#pragma once

#include "acquire/Login.h"
#include "acquire/Recipe.h"
#include "acquire/RecipeJournal.h"
#include "acquire/RecipeRunner.h"
#include "acquire/ScanTiming.h"
#include "acquire/ScopeInfo.h"
#include "acquire/SessionLink.h"

#include <QObject>

// A recipe from login to the last step, as tessan-acquire runs it: logs in
// as the recipe says, asks the microscope for its scale, then either plans
// (reads only: where the stage is and the control time left) or runs the
// steps the journal has not done.
class RecipeSession : public QObject
{
    Q_OBJECT

public:
    struct PlannedStep
    {
        QString what;
        int tiles = 0;
        QStringList files;
        double seconds = 0;
    };

    explicit RecipeSession(QObject* parent = nullptr);

    // A new run: the output folder made, the recipe copied into it and a
    // fresh journal; refused for a folder that holds a run already.
    static bool prepareRun(const QString& recipePath, const Recipe& recipe, RecipeJournal* journal, QString* error);
    // Going on with the run in `folder`: its recipe read again and refused
    // (naming the first step that differs) unless it is the one begun.
    static bool prepareResume(const QString& folder, Recipe* recipe, RecipeJournal* journal, QString* error);
    // The steps with their tiles, files and expected seconds, from the stage at startUm.
    static QVector<PlannedStep> plan(const Recipe& recipe, const QPointF& startUm, double mppX, double mppY,
                                     const ScanTiming::Model& model);

    void start(const Recipe& recipe, const QString& password, bool planOnly);
    void stop();

    SessionLink link;
    Login login{&link};
    ScopeInfo scopeInfo{link};
    RecipeRunner runner{link};
    RecipeJournal journal;

signals:
    // The plan, and the control time left (-1: unknown).
    void planned(const QVector<RecipeSession::PlannedStep>& steps, int remainingSeconds);
    void finished(RecipeRunner::Outcome outcome, const QString& reason);

private:
    void scaleArrived();
    void planReady();

    Recipe recipe;
    bool planOnly = false;
    bool waitingForTime = false;
    bool waitingForStage = false;
};
