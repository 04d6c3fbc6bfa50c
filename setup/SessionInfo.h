#pragma once

#include "acquire/ScopeRecord.h"

#include <QString>

// What the setup dialog hands to the control window when the server grants a
// session ticket. The password stays here and in Auth only: it is never sent.
class SessionInfo
{
public:
    ScopeRecord scope;
    QString host;
    QString requestPrefix;
    quint32 ticket = 0;
    QString login;
    QString password;
};
