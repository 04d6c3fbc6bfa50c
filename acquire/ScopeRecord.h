#pragma once

#include <QString>
#include <QStringList>

// One microscope of the server's list.
class ScopeRecord
{
public:
    QString name;
    QString description;
    QStringList slides;
    // The entry's marker was '$': the microscope is in use and cannot be
    // controlled from here.
    bool controlLocked = false;
};
