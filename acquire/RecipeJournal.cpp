#include "acquire/RecipeJournal.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace {

bool writeAtomically(const QString& path, const QByteArray& data, QString* error)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(data) == data.size() && file.commit())
        return true;
    *error = QStringLiteral("cannot write %1 (%2)").arg(path, file.errorString());
    return false;
}

} // namespace

QString RecipeJournal::digestOf(const QByteArray& recipeText)
{
    return QString::fromLatin1(QCryptographicHash::hash(recipeText, QCryptographicHash::Sha256).toHex());
}

QString RecipeJournal::journalPath(const QString& folder)
{
    return QDir(folder).filePath(QStringLiteral("journal.json"));
}

QString RecipeJournal::recipeCopyPath(const QString& folder)
{
    return QDir(folder).filePath(QStringLiteral("recipe.yaml"));
}

void RecipeJournal::reset(const QString& path, const QByteArray& recipeText, const QStringList& steps)
{
    recipePath = path;
    digest = digestOf(recipeText);
    entries.clear();
    for (const QString& what : steps)
        entries.append({what, false, {}});
}

bool RecipeJournal::save(const QString& folder, QString* error) const
{
    QJsonArray steps;
    for (const Entry& e : entries)
        steps.append(QJsonObject{{QStringLiteral("step"), e.what},
                                 {QStringLiteral("done"), e.done},
                                 {QStringLiteral("files"), QJsonArray::fromStringList(e.files)}});
    const QJsonObject root{
        {QStringLiteral("recipe"), recipePath}, {QStringLiteral("sha256"), digest}, {QStringLiteral("steps"), steps}};
    return writeAtomically(journalPath(folder), QJsonDocument(root).toJson(), error);
}

bool RecipeJournal::keepRecipe(const QString& folder, const QByteArray& recipeText, QString* error)
{
    return writeAtomically(recipeCopyPath(folder), recipeText, error);
}

bool RecipeJournal::load(const QString& folder, QString* error)
{
    QFile file(journalPath(folder));
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(file.fileName(), file.errorString());
        return false;
    }
    const QJsonObject root = QJsonDocument::fromJson(file.read(16 << 20)).object();
    recipePath = root.value(QStringLiteral("recipe")).toString();
    digest = root.value(QStringLiteral("sha256")).toString();
    entries.clear();
    for (const QJsonValue& v : root.value(QStringLiteral("steps")).toArray()) {
        const QJsonObject o = v.toObject();
        QStringList files;
        for (const QJsonValue& f : o.value(QStringLiteral("files")).toArray())
            files << f.toString();
        entries.append({o.value(QStringLiteral("step")).toString(), o.value(QStringLiteral("done")).toBool(), files});
    }
    if (digest.size() != 64 || entries.isEmpty()) {
        *error = QStringLiteral("%1 is not the journal of a recipe run").arg(file.fileName());
        return false;
    }
    return true;
}

int RecipeJournal::firstOpen() const
{
    for (int i = 0; i < entries.size(); ++i)
        if (!entries[i].done)
            return i;
    return int(entries.size());
}
