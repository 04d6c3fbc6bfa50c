#include "acquire/RecipeJournal.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QRegularExpression>
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
    for (const QString& what : steps) {
        Entry entry;
        entry.what = what;
        entries.append(entry);
    }
}

bool RecipeJournal::save(const QString& folder, QString* error) const
{
    QJsonArray steps;
    for (const Entry& e : entries) {
        QJsonObject step{{QStringLiteral("step"), e.what},
                         {QStringLiteral("done"), e.done},
                         {QStringLiteral("files"), QJsonArray::fromStringList(e.files)}};
        if (e.begun)
            step.insert(QStringLiteral("from"), QJsonArray{e.from.x, e.from.y, e.from.z});
        steps.append(step);
    }
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
        Entry entry;
        entry.what = o.value(QStringLiteral("step")).toString();
        entry.done = o.value(QStringLiteral("done")).toBool();
        entry.files = files;
        const QJsonArray from = o.value(QStringLiteral("from")).toArray();
        entry.begun = from.size() == 3;
        if (entry.begun) {
            entry.from.x = float(from[0].toDouble());
            entry.from.y = float(from[1].toDouble());
            entry.from.z = float(from[2].toDouble());
        }
        entries.append(entry);
    }
    if (digest.size() != 64 || entries.isEmpty()) {
        *error = QStringLiteral("%1 is not the journal of a recipe run").arg(file.fileName());
        return false;
    }
    return true;
}

void RecipeJournal::removeLeftovers(const QString& folder)
{
    // The temporary names of TiffFile, QSaveFile and the scratch folders of the
    // mosaic (tiles) and its pyramid (levels); the files of steps done never match.
    static const QRegularExpression leftover(
        QStringLiteral("^(\\.(tiles|tessan-levels)-|\\.?(\\d{3}-.+|journal\\.json|recipe\\.yaml)\\.)[A-Za-z0-9]{6}$"));
    const QDir dir(folder);
    for (const QFileInfo& info : dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
        if (!leftover.match(info.fileName()).hasMatch())
            continue;
        if (info.isDir() && !info.isSymLink())
            QDir(info.filePath()).removeRecursively();
        else
            QFile::remove(info.filePath());
    }
}

int RecipeJournal::firstOpen() const
{
    for (int i = 0; i < entries.size(); ++i)
        if (!entries[i].done)
            return i;
    return int(entries.size());
}

bool RecipeJournal::lockFolder(const QString& folder, QString* error)
{
    auto lock = std::make_shared<QLockFile>(QDir(folder).filePath(QStringLiteral(".tessan-acquire.lock")));
    // Held as long as its run lives, however long; a killed run's lock is taken over.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0)) {
        qint64 pid = 0;
        QString host, app;
        lock->getLockInfo(&pid, &host, &app);
        *error = QStringLiteral("%1 is in use by another run (process %2)").arg(folder).arg(pid);
        return false;
    }
    folderLock = lock;
    return true;
}
