#pragma once

#include <QStringList>
#include <functional>

class QMenu;
class QObject;

// The files opened last, newest first, kept in the settings; a menu lists
// them and opens the one chosen in the viewer.
class RecentFiles
{
public:
    static constexpr int kCount = 10;

    static QStringList list();
    static void add(const QString& path);
    // Fills the menu each time it is about to show; a chosen file goes to `open`.
    static void attach(QMenu* menu, QObject* context, std::function<void(const QString&)> open);
};
