#include "setup/ScopeBrowser.h"

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
    if (const ScopeRecord* record = currentRecord())
        login->askChallenge(serverHost(), record->name, loginBox->text(), passwordBox->text());
}

void ScopeBrowser::gotSticket()
{
    reserveNextAvailable();
}

void ScopeBrowser::reserveNextAvailable()
{
    if (const ScopeRecord* record = currentRecord())
        login->reserve(serverHost(), record->name, loginBox->text());
}

void ScopeBrowser::schedulingRefused(Login::Refusal why)
{
    switch (why) {
    case Login::Refusal::UnknownUser:
        warn(QStringLiteral("Scheduling Failed"),
             QStringLiteral("The server rejected your username as unauthorized for this microscope."));
        return;
    case Login::Refusal::NoAuthorization:
        warn(QStringLiteral("Authorization Failed"),
             QStringLiteral("The server reported that you are not authorized to schedule time for this "
                            "microscope."));
        return;
    case Login::Refusal::DoubleDipping:
        warn(QStringLiteral("Authorization Failed"),
             QStringLiteral("You cannot schedule more than one entry at a time."));
        return;
    case Login::Refusal::BadAuth:
        warn(QStringLiteral("Incorrect Login"),
             QStringLiteral("The server rejected the username/password pair you supplied."));
        return;
    case Login::Refusal::NoAnswer:
    case Login::Refusal::Unscheduled:
    case Login::Refusal::Unexpected:
        // A failed challenge is reported like a failed reservation: pressing
        // the button must not seem to do nothing.
        warn(QStringLiteral("Connection Failed"), QStringLiteral("Error contacting the Orvex server."));
        return;
    }
}

void ScopeBrowser::schedResponse(bool now)
{
    if (now)
        warn(QStringLiteral("Scheduling Successful"),
             QStringLiteral("You are now scheduled for scope time.  You may click \"Control Scope\" to "
                            "begin using the microscope."));
    else
        warn(QStringLiteral("Reserved Scope Time"), QStringLiteral("You have been scheduled for scope time."));
    justScheduled = true;
    savedRow = scopeListBox->currentRow();
    fetchScopeList();
}

void ScopeBrowser::startsession()
{
    const ScopeRecord* record = currentRecord();
    if (!record || !login->askTicket(serverHost(), record->name, loginBox->text()))
        return;
    justScheduled = false;
    selectionFrozen = true;
}

void ScopeBrowser::ticketRefused(Login::Refusal why)
{
    if (why == Login::Refusal::NoAuthorization) {
        warn(QStringLiteral("Authorization Failed"),
             QStringLiteral("The server rejected the username and password pair you supplied."));
    } else if (why == Login::Refusal::Unscheduled) {
        const ScopeRecord* record = currentRecord();
        warn(QStringLiteral("User Not Scheduled on Scope \"") + (record ? record->name : QString()) +
                 QStringLiteral("\""),
             QStringLiteral("The server reported that you were not scheduled for access at this time."));
    } else {
        warn(connectionFailure, contactAdministrator);
    }
}

void ScopeBrowser::authOrNot(quint32 ticket)
{
    const ScopeRecord* record = currentRecord();
    if (!record)
        return;

    SessionInfo info;
    info.host = serverHost();
    info.scope = *record;
    info.login = loginBox->text();
    info.password = passwordBox->text();
    info.ticket = ticket;
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
