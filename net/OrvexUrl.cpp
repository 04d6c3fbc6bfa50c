#include "net/OrvexUrl.h"

#include <QByteArray>

#include <algorithm>

namespace {

const QString oserv = QStringLiteral("/cgi-bin/oserv?");

} // namespace

QString OrvexUrl::encode(const QString& value)
{
    const bool latin1 = std::all_of(value.cbegin(), value.cend(), [](QChar c) { return c.unicode() <= 0xFF; });
    // Characters that are legal in a path and a query value stay as the server listed them.
    return QString::fromLatin1((latin1 ? value.toLatin1() : value.toUtf8()).toPercentEncoding("/:@(),;!*'$"));
}

QString OrvexUrl::scopeList(const QString& host)
{
    return base(host) + oserv + QStringLiteral("f=i");
}

QString OrvexUrl::schedulingTicket(const QString& host, const QString& scope, const QString& login)
{
    return base(host) + oserv + QStringLiteral("f=sticket&s=") + encode(scope) + QStringLiteral("&l=") + encode(login);
}

QString OrvexUrl::reservation(const QString& host, const QString& scope, const QString& login, const QString& token)
{
    return base(host) + oserv + QStringLiteral("f=scna&s=") + encode(scope) + QStringLiteral("&l=") + encode(login) +
           QStringLiteral("&auth=") + token;
}

QString OrvexUrl::sessionTicket(const QString& host, const QString& scope, const QString& login)
{
    return base(host) + oserv + QStringLiteral("f=ticket&s=") + encode(scope) + QStringLiteral("&l=") + encode(login);
}

QString OrvexUrl::requestPrefix(const QString& login, const QString& scope)
{
    return QStringLiteral("/cgi-bin/oserv?l=") + encode(login) + QStringLiteral("&s=") + encode(scope) +
           QStringLiteral("&");
}

QString OrvexUrl::session(const QString& host, const QString& prefix, const QString& query)
{
    return base(host) + prefix + query;
}

QString OrvexUrl::smallSlide(const QString& host, const QString& slide)
{
    return base(host) + QStringLiteral("/small_slides/") + encode(slide);
}

QString OrvexUrl::wholeSlide(const QString& host, const QString& slide)
{
    return base(host) + QStringLiteral("/whole_slides/") + encode(slide);
}

QString OrvexUrl::fiducials(const QString& host, const QString& slide)
{
    return base(host) + QStringLiteral("/fiducials/") + encode(slide);
}

QString OrvexUrl::slideMarks(const QString& host, const QString& slide)
{
    return base(host) + QStringLiteral("/cgi-bin/ocount?f=sl&s=") + encode(slide);
}
