#include "setup/ScopeBrowser.h"

#include "acquire/TicketReply.h"
#include "net/MyHTTP.h"
#include "net/OrvexUrl.h"
#include "session/Session.h"
#include "setup/SessionInfo.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

namespace {

const QString connectionFailure = QStringLiteral("Connection Failure");
const QString contactAdministrator =
    QStringLiteral("Error connecting to the Orvex server.  Please contact the server administrator");

} // namespace

void ScopeBrowser::getSticket()
{
    auth.setKey(passwordBox->text());
    const ScopeRecord* record = currentRecord();
    if (sticketFetcher->isBusy() || !record)
        return;
    sticketFetcher->setUrl(OrvexUrl::schedulingTicket(serverHost(), record->name, loginBox->text()));
    sticketFetcher->start();
}

void ScopeBrowser::gotSticket()
{
    // Reported like a failed reservation: pressing the button must not seem to do nothing.
    if (!sticketFetcher->succeeded()) {
        warn(QStringLiteral("Connection Failed"), QStringLiteral("Error contacting the Orvex server."));
        return;
    }
    const char* reply = sticketFetcher->data();
    const int length = sticketFetcher->length();
    if (length < 1 || reply[0] != '+') {
        warn(QStringLiteral("Scheduling Failed"),
             QStringLiteral("The server rejected your username as unauthorized for this microscope."));
        return;
    }
    auth.setChallenge(static_cast<int>(TicketReply::hexAt(reply, length, 4)));
    reserveNextAvailable();
}

void ScopeBrowser::reserveNextAvailable()
{
    const ScopeRecord* record = currentRecord();
    if (scheduleFetcher->isBusy() || !record)
        return;
    const QString token = auth.makeToken();
    scheduleFetcher->setUrl(OrvexUrl::reservation(serverHost(), record->name, loginBox->text(), token));
    scheduleFetcher->start();
}

void ScopeBrowser::schedResponse()
{
    if (!scheduleFetcher->succeeded()) {
        warn(QStringLiteral("Connection Failed"), QStringLiteral("Error contacting the Orvex server."));
        return;
    }
    const QByteArray word = TicketReply::firstWord(scheduleFetcher->data(), scheduleFetcher->length());
    if (word == "+NOW") {
        warn(QStringLiteral("Scheduling Successful"),
             QStringLiteral("You are now scheduled for scope time.  You may click \"Control Scope\" to "
                            "begin using the microscope."));
    } else if (word == "-NO_AUTHORIZATION") {
        warn(QStringLiteral("Authorization Failed"),
             QStringLiteral("The server reported that you are not authorized to schedule time for this "
                            "microscope."));
        return;
    } else if (word == "-DOUBLE_DIPPING") {
        warn(QStringLiteral("Authorization Failed"),
             QStringLiteral("You cannot schedule more than one entry at a time."));
        return;
    } else if (word == "-BAD_AUTH") {
        warn(QStringLiteral("Incorrect Login"),
             QStringLiteral("The server rejected the username/password pair you supplied."));
        return;
    } else {
        warn(QStringLiteral("Reserved Scope Time"), QStringLiteral("You have been scheduled for scope time."));
    }
    justScheduled = true;
    savedRow = scopeListBox->currentRow();
    fetchScopeList();
}

void ScopeBrowser::startsession()
{
    const ScopeRecord* record = currentRecord();
    if (ticketFetcher->isBusy() || !record)
        return;
    ticketFetcher->setUrl(OrvexUrl::sessionTicket(serverHost(), record->name, loginBox->text()));
    ticketFetcher->start();
    justScheduled = false;
    selectionFrozen = true;
}

void ScopeBrowser::authOrNot()
{
    if (!ticketFetcher->succeeded()) {
        warn(connectionFailure, contactAdministrator);
        return;
    }
    const char* reply = ticketFetcher->data();
    const int length = ticketFetcher->length();
    const ScopeRecord* record = currentRecord();
    switch (TicketReply::classifyTicket(reply, length)) {
    case TicketReply::Ticket::NoAuthorization:
        warn(QStringLiteral("Authorization Failed"),
             QStringLiteral("The server rejected the username and password pair you supplied."));
        return;
    case TicketReply::Ticket::Unscheduled:
        warn(QStringLiteral("User Not Scheduled on Scope \"") + (record ? record->name : QString()) +
                 QStringLiteral("\""),
             QStringLiteral("The server reported that you were not scheduled for access at this time."));
        return;
    case TicketReply::Ticket::Other:
        warn(connectionFailure, contactAdministrator);
        return;
    case TicketReply::Ticket::Granted:
        break;
    }
    if (!record)
        return;

    SessionInfo info;
    info.host = serverHost();
    info.scope = *record;
    info.login = loginBox->text();
    info.password = passwordBox->text();
    info.ticket = TicketReply::hexAt(reply, length, 3);
    info.requestPrefix = OrvexUrl::requestPrefix(info.login, info.scope.name);

    auto* session = new Session(nullptr, nullptr);
    // Closing the window ends the session and frees it, its video window with it.
    session->setAttribute(Qt::WA_DeleteOnClose);
    session->show();
    session->begin(info);
    // No second click can reach the dialog before it is gone.
    beginButton->setEnabled(false);
    hide();
    deleteLater();
}
