#pragma once

#include "acquire/Auth.h"

#include <QString>

// The address and the tokens of one granted control session: every request
// of the session is built here, so the window and a command send the same.
class SessionLink
{
public:
    void grant(const QString& serverHost, const QString& requestPrefix, const QString& password, quint32 ticket);

    // "http://" + host + prefix + query
    QString url(const QString& query) const;
    // A fresh token for a request that moves the stage or submits a job.
    QString token() { return auth.makeToken(); }
    // url() of a query that moves the stage, with a fresh token at its end.
    QString urlWithToken(const QString& query);

    Auth auth;

private:
    QString host;
    QString prefix;
};
