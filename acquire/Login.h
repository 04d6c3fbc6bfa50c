#pragma once

#include "acquire/Auth.h"
#include "acquire/ScopeRecord.h"
#include "net/MyHTTP.h"

#include <QObject>
#include <QString>

class SessionLink;

// Logs in without the setup dialog, with the requests the dialog sends: the
// microscope list ("f=i"), then the session ticket; a user not scheduled
// for the microscope reserves the next free time first ("sticket", then
// "scna" with a token) and asks for the ticket once more. Ends with the
// link granted, or a sentence saying why not.
class Login : public QObject
{
    Q_OBJECT

public:
    explicit Login(SessionLink& link, QObject* parent = nullptr);

    void start(const QString& host, const QString& microscope, const QString& user, const QString& password);
    void stop();

    // The microscope's entry in the server's list, once read.
    ScopeRecord scope;

signals:
    void granted();
    void failed(const QString& reason);

private:
    enum class Step { Idle, List, Ticket, Sticket, Reserve };

    void send(Step next, const QString& url);
    void replyArrived();
    void listArrived();
    void ticketArrived();
    void sticketArrived();
    void reservationArrived();
    void fail(const QString& reason);

    SessionLink& link;
    MyHTTP fetcher;
    Auth auth;
    Step step = Step::Idle;
    bool reserved = false;
    QString host;
    QString microscope;
    QString user;
    QString password;
};
