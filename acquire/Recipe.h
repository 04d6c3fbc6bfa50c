#pragma once

#include <QByteArray>
#include <QPointF>
#include <QString>
#include <QVector>

// One step of a recipe, after the marks of a "goto_marks" step have been
// spread out into a "goto" and the steps to repeat there, once per mark.
struct RecipeStep
{
    enum class Kind { Goto, Autofocus, Picture, Stack, Scan, Job };

    Kind kind = Kind::Goto;
    // 1-based line of the step in the recipe file.
    int line = 0;
    // Goto: stage millimetres, z in µm (not a number: keep the present z);
    // the name of the mark it came from, if any.
    double xMm = 0, yMm = 0, zUm = 0;
    QString mark;
    // Autofocus
    bool accurate = false;
    // Picture, stack and scan frames: the video picture size 1 to 4.
    int size = 1;
    // Picture: "jpeg", "png" or "ome-tiff".
    QString format = QStringLiteral("jpeg");
    // Stack: planes over rangeUm centred on the present z.
    int planes = 15;
    int rangeUm = 200;
    bool fuse = false;
    // Scan and job corners in stage millimetres.
    QPointF fromMm, toMm;
    int overlapPercent = 15;
    // Scan: 0 keeps focus, 1 focuses before every tile, N before every N-th.
    int autofocusEvery = 0;
    // Job
    QString jobName;
    int density = 1;

    // One line for the plan, the journal and the progress: what the step does.
    QString describe() const;
};

// An acquisition recipe: where to log in, where the files go and the steps.
// The settings a step leaves out are those the control window starts with.
struct Recipe
{
    QString server;
    QString microscope;
    QString user;
    QString slide;
    // Absolute: relative folders are taken from the recipe's own folder.
    QString output;
    QVector<RecipeStep> steps;
    QByteArray text;

    // The stage's travel, the limits of every position in a recipe.
    static constexpr double maxXMm = 75.67;
    static constexpr double maxYMm = 50.325;
    static constexpr double maxZUm = 3000.0;

    // Reads the YAML (or JSON) text of the file at `path` (for relative
    // paths and messages only). Refuses anything it does not know or that
    // lies out of range with "FILE:LINE: reason" and leaves `recipe` alone.
    static bool parse(const QByteArray& text, const QString& path, Recipe* recipe, QString* error);
    static bool load(const QString& path, Recipe* recipe, QString* error);
    // The recipe as YAML that parse() reads back to the same steps; `output`
    // is written as given (relative to the recipe's folder when relative).
    QByteArray write() const;
};
