#pragma once

#include "acquire/CoordinateTriple.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>

class QLockFile;

// What a recipe run has done, kept in its output folder as journal.json
// beside a copy of the recipe text (recipe.yaml): the recipe's SHA-256 and,
// per step, whether it is done and the files it wrote. Saved whole and
// atomically after every step, so an interrupted run resumes from it.
class RecipeJournal
{
public:
    struct Entry
    {
        QString what;
        bool done = false;
        QStringList files;
        // Where the stage stood when the step began: a step cut short is done
        // again from there, so a stack is centred where it was meant to be.
        bool begun = false;
        CoordinateTriple from;
    };

    static QString digestOf(const QByteArray& recipeText);
    static QString journalPath(const QString& folder);
    static QString recipeCopyPath(const QString& folder);

    // A fresh journal for a recipe with these step descriptions.
    void reset(const QString& recipePath, const QByteArray& recipeText, const QStringList& steps);
    // Writes journal.json atomically.
    bool save(const QString& folder, QString* error) const;
    // The recipe text as it was run, to tell a changed recipe's steps from it.
    static bool keepRecipe(const QString& folder, const QByteArray& recipeText, QString* error);
    bool load(const QString& folder, QString* error);
    // Removes what a run killed while writing leaves in its folder: files
    // under their temporary names and the scratch folders of tiles and levels.
    static void removeLeftovers(const QString& folder);

    // Claims the folder for this run until the journal goes: a second run or
    // resume of the same folder would remove the first one's files in progress.
    bool lockFolder(const QString& folder, QString* error);

    // The first step not done; entries.size() when all are.
    int firstOpen() const;

    QString recipePath;
    QString digest;
    QVector<Entry> entries;

private:
    std::shared_ptr<QLockFile> folderLock;
};
