#include "acquire/ScopeInfo.h"

#include "acquire/SessionLink.h"
#include "acquire/SystemInfoReply.h"

ScopeInfo::ScopeInfo(const SessionLink& sessionLink, QObject* parent)
    : QObject(parent)
    , link(sessionLink)
{
    connect(&sysInfoFetcher, qOverload<>(&MyHTTP::done), this, &ScopeInfo::replyArrived);
}

void ScopeInfo::request()
{
    sysInfoFetcher.setUrl(link.url(QStringLiteral("f=d")));
    sysInfoFetcher.start();
}

void ScopeInfo::stop()
{
    // An empty address aborts the request in flight without a report and sends nothing later.
    sysInfoFetcher.setUrl(QString());
}

void ScopeInfo::replyArrived()
{
    if (!sysInfoFetcher.succeeded()) {
        emit message(QStringLiteral("***Error fetching system information from microscope."));
        return;
    }
    const SystemInfoReply reply = SystemInfoReply::read(sysInfoFetcher.data(), sysInfoFetcher.length(), mppX, mppY);
    mppX = reply.mppX;
    mppY = reply.mppY;
    text = reply.rest;
    emit arrived();
}
