#include "views/RecentFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QSettings>

namespace {
const char* const kKey = "viewer/recentFiles";
} // namespace

QStringList RecentFiles::list()
{
    return QSettings().value(QLatin1String(kKey)).toStringList();
}

void RecentFiles::add(const QString& path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QStringList files = list();
    files.removeAll(absolute);
    files.prepend(absolute);
    QSettings().setValue(QLatin1String(kKey), files.mid(0, kCount));
}

void RecentFiles::attach(QMenu* menu, QObject* context, std::function<void(const QString&)> open)
{
    QObject::connect(menu, &QMenu::aboutToShow, menu, [menu, context, open] {
        menu->clear();
        const QStringList files = list();
        for (const QString& file : files) {
            QAction* action = menu->addAction(QDir::toNativeSeparators(file));
            QObject::connect(action, &QAction::triggered, context, [file, open] { open(file); });
        }
        if (files.isEmpty())
            menu->addAction(QStringLiteral("No recent files"))->setEnabled(false);
    });
}
