#include "acquire/Login.h"

#include "acquire/ScopeListParser.h"
#include "acquire/SessionLink.h"
#include "acquire/TicketReply.h"
#include "net/OrvexUrl.h"

Login::Login(SessionLink& sessionLink, QObject* parent)
    : QObject(parent)
    , link(sessionLink)
{
    connect(&fetcher, qOverload<>(&MyHTTP::done), this, &Login::replyArrived);
}

void Login::start(const QString& serverHost, const QString& scopeName, const QString& login, const QString& secret)
{
    host = serverHost;
    microscope = scopeName;
    user = login;
    password = secret;
    reserved = false;
    send(Step::List, OrvexUrl::scopeList(host));
}

void Login::stop()
{
    step = Step::Idle;
    fetcher.setUrl(QString());
}

void Login::send(Step next, const QString& url)
{
    step = next;
    fetcher.setUrl(url);
    fetcher.start();
}

void Login::replyArrived()
{
    if (step == Step::Idle)
        return;
    if (!fetcher.succeeded()) {
        fail(QStringLiteral("the server %1 did not answer (%2)").arg(host, fetcher.errorString()));
        return;
    }
    switch (step) {
    case Step::List:
        listArrived();
        break;
    case Step::Ticket:
        ticketArrived();
        break;
    case Step::Sticket:
        sticketArrived();
        break;
    case Step::Reserve:
        reservationArrived();
        break;
    case Step::Idle:
        break;
    }
}

void Login::listArrived()
{
    const ScopeListParser list = ScopeListParser::parse(fetcher.data(), fetcher.length());
    QStringList names;
    for (const ScopeRecord& record : list.records) {
        if (record.name == microscope) {
            if (record.controlLocked) {
                fail(QStringLiteral("the microscope %1 is in use").arg(microscope));
                return;
            }
            scope = record;
            send(Step::Ticket, OrvexUrl::sessionTicket(host, microscope, user));
            return;
        }
        names << record.name;
    }
    fail(QStringLiteral("the server has no microscope \"%1\" (it has: %2)")
             .arg(microscope, names.join(QStringLiteral(", "))));
}

void Login::ticketArrived()
{
    const char* reply = fetcher.data();
    const int length = fetcher.length();
    switch (TicketReply::classifyTicket(reply, length)) {
    case TicketReply::Ticket::Granted:
        step = Step::Idle;
        link.grant(host, OrvexUrl::requestPrefix(user, microscope), password, TicketReply::hexAt(reply, length, 3));
        emit granted();
        return;
    case TicketReply::Ticket::NoAuthorization:
        fail(QStringLiteral("the server rejected the user %1 for this microscope").arg(user));
        return;
    case TicketReply::Ticket::Unscheduled:
        // Reserving the next free time is what the dialog's "Reserve" does; once is enough.
        if (reserved) {
            fail(QStringLiteral("%1 is not scheduled on %2 at this time").arg(user, microscope));
            return;
        }
        auth.setKey(password);
        send(Step::Sticket, OrvexUrl::schedulingTicket(host, microscope, user));
        return;
    case TicketReply::Ticket::Other:
        fail(QStringLiteral("the server answered the ticket request with \"%1\"")
                 .arg(QString::fromLatin1(TicketReply::firstWord(reply, length))));
        return;
    }
}

void Login::sticketArrived()
{
    const char* reply = fetcher.data();
    const int length = fetcher.length();
    if (length < 1 || reply[0] != '+') {
        fail(QStringLiteral("the server rejected the user %1 as unauthorized for this microscope").arg(user));
        return;
    }
    auth.setChallenge(static_cast<int>(TicketReply::hexAt(reply, length, 4)));
    send(Step::Reserve, OrvexUrl::reservation(host, microscope, user, auth.makeToken()));
}

void Login::reservationArrived()
{
    const QByteArray word = TicketReply::firstWord(fetcher.data(), fetcher.length());
    if (word == "-NO_AUTHORIZATION") {
        fail(QStringLiteral("%1 may not schedule time on %2").arg(user, microscope));
    } else if (word == "-DOUBLE_DIPPING") {
        fail(QStringLiteral("%1 holds another reservation already").arg(user));
    } else if (word == "-BAD_AUTH") {
        fail(QStringLiteral("the server rejected the user name and password"));
    } else {
        reserved = true;
        send(Step::Ticket, OrvexUrl::sessionTicket(host, microscope, user));
    }
}

void Login::fail(const QString& reason)
{
    step = Step::Idle;
    emit failed(reason);
}
