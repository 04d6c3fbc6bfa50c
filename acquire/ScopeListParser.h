#pragma once

#include "acquire/ScopeRecord.h"

#include <QList>
#include <QString>

// The microscope-list reply: a banner, then entries that each begin with '$'
// (in use) or '#' (free), a name line, a description ended by '^', and slide
// lines ended by a line that begins with '^'.
class ScopeListParser
{
public:
    // Reads length bytes as Latin-1; the reply ends at its first NUL byte.
    static ScopeListParser parse(const char* data, int length);

    QString banner;
    QList<ScopeRecord> records;
};
