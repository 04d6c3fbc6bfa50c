#include "acquire/Login.h"

#include "acquire/SessionLink.h"
#include "acquire/TicketReply.h"
#include "net/OrvexUrl.h"

Login::Login(SessionLink* sessionLink, QObject* parent)
    : QObject(parent)
    , link(sessionLink)
{
    connect(&listFetcher, qOverload<>(&MyHTTP::done), this, &Login::listArrived);
    connect(&challengeFetcher, qOverload<>(&MyHTTP::done), this, &Login::challengeArrived);
    connect(&reserveFetcher, qOverload<>(&MyHTTP::done), this, &Login::reservationArrived);
    connect(&ticketFetcher, qOverload<>(&MyHTTP::done), this, &Login::ticketArrived);

    connect(this, &Login::scopesRead, this, &Login::chainListed);
    connect(this, &Login::scopesFailed, this, [this](const QString& error) { fail(reason(Refusal::NoAnswer, error)); });
    connect(this, &Login::challengeRead, this, [this] {
        if (chained)
            reserve(host, microscope, user);
    });
    connect(this, &Login::challengeRefused, this,
            [this](Refusal why, const QString& detail) { fail(reason(why, detail)); });
    connect(this, &Login::timeReserved, this, [this] {
        if (!chained)
            return;
        reserved = true;
        askTicket(host, microscope, user);
    });
    connect(this, &Login::reservationRefused, this, [this](Refusal why, const QString& detail) {
        fail(why == Refusal::NoAuthorization ? QStringLiteral("%1 may not schedule time on %2").arg(user, microscope)
                                             : reason(why, detail));
    });
    connect(this, &Login::ticketGranted, this, &Login::chainGranted);
    connect(this, &Login::ticketRefused, this, [this](Refusal why, const QString& detail) {
        // Reserving the next free time is what the dialog's "Reserve" does; once is enough.
        if (why == Refusal::Unscheduled && chained && !reserved)
            askChallenge(host, microscope, user, password);
        else
            fail(reason(why, detail));
    });
}

void Login::start(const QString& serverHost, const QString& scopeName, const QString& login, const QString& secret)
{
    Q_ASSERT(link);
    host = serverHost;
    microscope = scopeName;
    user = login;
    password = secret;
    reserved = false;
    chained = true;
    readScopes(host);
}

void Login::stop()
{
    chained = false;
    for (MyHTTP* fetcher : {&listFetcher, &challengeFetcher, &reserveFetcher, &ticketFetcher})
        fetcher->setUrl(QString());
}

bool Login::send(MyHTTP& fetcher, const QString& url)
{
    // A new address would abandon the request on its way.
    if (fetcher.isBusy())
        return false;
    fetcher.setUrl(url);
    fetcher.start();
    return true;
}

bool Login::readScopes(const QString& serverHost)
{
    return send(listFetcher, OrvexUrl::scopeList(serverHost));
}

bool Login::askChallenge(const QString& serverHost, const QString& scopeName, const QString& login,
                         const QString& secret)
{
    auth.setKey(secret);
    return send(challengeFetcher, OrvexUrl::schedulingTicket(serverHost, scopeName, login));
}

bool Login::reserve(const QString& serverHost, const QString& scopeName, const QString& login)
{
    return send(reserveFetcher, OrvexUrl::reservation(serverHost, scopeName, login, auth.makeToken()));
}

bool Login::askTicket(const QString& serverHost, const QString& scopeName, const QString& login)
{
    return send(ticketFetcher, OrvexUrl::sessionTicket(serverHost, scopeName, login));
}

void Login::listArrived()
{
    if (!listFetcher.succeeded()) {
        emit scopesFailed(listFetcher.errorString());
        return;
    }
    emit scopesRead(ScopeListParser::parse(listFetcher.data(), listFetcher.length()));
}

void Login::challengeArrived()
{
    if (!challengeFetcher.succeeded()) {
        emit challengeRefused(Refusal::NoAnswer, challengeFetcher.errorString());
        return;
    }
    const char* reply = challengeFetcher.data();
    const int length = challengeFetcher.length();
    if (length < 1 || reply[0] != '+') {
        emit challengeRefused(Refusal::UnknownUser, QString());
        return;
    }
    auth.setChallenge(static_cast<int>(TicketReply::hexAt(reply, length, 4)));
    emit challengeRead();
}

void Login::reservationArrived()
{
    if (!reserveFetcher.succeeded()) {
        emit reservationRefused(Refusal::NoAnswer, reserveFetcher.errorString());
        return;
    }
    const QByteArray word = TicketReply::firstWord(reserveFetcher.data(), reserveFetcher.length());
    if (word == "-NO_AUTHORIZATION")
        emit reservationRefused(Refusal::NoAuthorization, QString());
    else if (word == "-DOUBLE_DIPPING")
        emit reservationRefused(Refusal::DoubleDipping, QString());
    else if (word == "-BAD_AUTH")
        emit reservationRefused(Refusal::BadAuth, QString());
    else
        emit timeReserved(word == "+NOW");
}

void Login::ticketArrived()
{
    if (!ticketFetcher.succeeded()) {
        emit ticketRefused(Refusal::NoAnswer, ticketFetcher.errorString());
        return;
    }
    const char* reply = ticketFetcher.data();
    const int length = ticketFetcher.length();
    switch (TicketReply::classifyTicket(reply, length)) {
    case TicketReply::Ticket::Granted:
        emit ticketGranted(TicketReply::hexAt(reply, length, 3));
        return;
    case TicketReply::Ticket::NoAuthorization:
        emit ticketRefused(Refusal::NoAuthorization, QString());
        return;
    case TicketReply::Ticket::Unscheduled:
        emit ticketRefused(Refusal::Unscheduled, QString());
        return;
    case TicketReply::Ticket::Other:
        emit ticketRefused(Refusal::Unexpected, QString::fromLatin1(TicketReply::firstWord(reply, length)));
        return;
    }
}

void Login::chainListed(const ScopeListParser& list)
{
    if (!chained)
        return;
    QStringList names;
    for (const ScopeRecord& record : list.records) {
        if (record.name == microscope) {
            if (record.controlLocked) {
                fail(QStringLiteral("the microscope %1 is in use").arg(microscope));
                return;
            }
            scope = record;
            askTicket(host, microscope, user);
            return;
        }
        names << record.name;
    }
    fail(QStringLiteral("the server has no microscope \"%1\" (it has: %2)")
             .arg(microscope, names.join(QStringLiteral(", "))));
}

void Login::chainGranted(quint32 ticket)
{
    if (!chained)
        return;
    chained = false;
    link->grant(host, OrvexUrl::requestPrefix(user, microscope), password, ticket);
    emit granted();
}

QString Login::reason(Refusal why, const QString& detail) const
{
    switch (why) {
    case Refusal::NoAnswer:
        return QStringLiteral("the server %1 did not answer (%2)").arg(host, detail);
    case Refusal::UnknownUser:
        return QStringLiteral("the server rejected the user %1 as unauthorized for this microscope").arg(user);
    case Refusal::NoAuthorization:
        return QStringLiteral("the server rejected the user %1 for this microscope").arg(user);
    case Refusal::Unscheduled:
        return QStringLiteral("%1 is not scheduled on %2 at this time").arg(user, microscope);
    case Refusal::DoubleDipping:
        return QStringLiteral("%1 holds another reservation already").arg(user);
    case Refusal::BadAuth:
        return QStringLiteral("the server rejected the user name and password");
    case Refusal::Unexpected:
        break;
    }
    return QStringLiteral("the server answered the ticket request with \"%1\"").arg(detail);
}

void Login::fail(const QString& reason)
{
    if (!chained)
        return;
    chained = false;
    emit failed(reason);
}
