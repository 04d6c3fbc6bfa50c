#pragma once

#include "acquire/Auth.h"
#include "acquire/ScopeListParser.h"
#include "net/MyHTTP.h"

#include <QObject>
#include <QString>

class SessionLink;

// Logs in to a microscope, one request per step: the microscope list
// ("f=i"), the scheduling challenge ("sticket"), a reservation of the next
// free time ("scna" with a token) and the session ticket. The setup dialog
// drives the steps one user action at a time; start() runs the whole chain
// for a command: the list, the ticket, and for a user not scheduled the
// challenge, the reservation and the ticket once more. Each step has its own
// fetcher, so one step waiting never holds up another.
class Login : public QObject
{
    Q_OBJECT

public:
    // Why a step did not succeed. The failure signals' detail is the
    // fetcher's error for NoAnswer and the reply's first word for Unexpected.
    enum class Refusal {
        NoAnswer,        // no reply, or not a whole one
        UnknownUser,     // "sticket" answered without '+'
        NoAuthorization, // not authorized for the microscope
        Unscheduled,     // no reserved time now
        DoubleDipping,   // holds another reservation already
        BadAuth,         // the token did not prove the password
        Unexpected,      // a ticket reply of no known kind
    };

    // The link is granted when the chain ends well; the steps alone need none.
    explicit Login(SessionLink* link = nullptr, QObject* parent = nullptr);

    // The whole chain, for a command.
    void start(const QString& host, const QString& microscope, const QString& user, const QString& password);
    void stop();

    // Each step returns false and sends nothing while its previous request waits.
    bool readScopes(const QString& host);
    bool isReadingScopes() const { return listFetcher.isBusy(); }
    bool askChallenge(const QString& host, const QString& microscope, const QString& user, const QString& password);
    // Needs the challenge the last askChallenge read.
    bool reserve(const QString& host, const QString& microscope, const QString& user);
    bool askTicket(const QString& host, const QString& microscope, const QString& user);

    void setDrawSource(Auth::DrawSource source) { auth.setDrawSource(std::move(source)); }

    // The microscope's entry in the server's list, once the chain read it.
    ScopeRecord scope;

signals:
    void scopesRead(const ScopeListParser& list);
    void scopesFailed(const QString& error);
    void challengeRead();
    void challengeRefused(Login::Refusal why, const QString& detail);
    // now: the server said "+NOW"; any other word that is no refusal counts as reserved too.
    void timeReserved(bool now);
    void reservationRefused(Login::Refusal why, const QString& detail);
    void ticketGranted(quint32 ticket);
    void ticketRefused(Login::Refusal why, const QString& detail);

    // The chain's end.
    void granted();
    void failed(const QString& reason);

private:
    static bool send(MyHTTP& fetcher, const QString& url);
    void listArrived();
    void challengeArrived();
    void reservationArrived();
    void ticketArrived();

    void chainListed(const ScopeListParser& list);
    void chainGranted(quint32 ticket);
    // The command's sentence for a refusal.
    QString reason(Login::Refusal why, const QString& detail) const;
    void fail(const QString& reason);

    SessionLink* link;
    MyHTTP listFetcher;
    MyHTTP challengeFetcher;
    MyHTTP reserveFetcher;
    MyHTTP ticketFetcher;
    Auth auth;
    // The chain is running: the steps' signals lead on to the next step.
    bool chained = false;
    bool reserved = false;
    QString host;
    QString microscope;
    QString user;
    QString password;
};
