#include "acquire/SessionLink.h"

#include "net/OrvexUrl.h"

void SessionLink::grant(const QString& serverHost, const QString& requestPrefix, const QString& password,
                        quint32 ticket)
{
    host = serverHost;
    prefix = requestPrefix;
    auth.setKey(password);
    auth.setChallenge(static_cast<int>(ticket));
}

QString SessionLink::url(const QString& query) const
{
    return OrvexUrl::session(host, prefix, query);
}

QString SessionLink::urlWithToken(const QString& query)
{
    return url(query + QStringLiteral("&auth=") + token());
}
