#pragma once

#include <QString>

class QWidget;

// Asks where to save, with Qt's own dialog so the suffix is added before it
// asks about replacing a file; empty when the user cancels.
class SavePathDialog
{
public:
    static QString ask(QWidget* parent, const QString& title, const QString& objectName, const QString& nameFilter,
                       const QString& defaultSuffix, const QString& suggested);
};
