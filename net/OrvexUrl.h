#pragma once

#include <QString>

// Every URL the client sends to an Orvex server is built here. Values typed by
// the user or sent by the server (login, microscope, slide and job names) are
// percent-encoded where they hold bytes beyond ASCII, control characters or
// characters that would change the URL's structure ('&', '#', '%', '?', '+',
// '=', a space, ...), so a name cannot add or cut request parameters. Plain
// names, and '/', ':', '@', '(', ')', ',', ';', '!', '*', "'" and '$', go as typed.
//
// The server speaks bytes: it lists names in Latin-1 and compares the bytes
// it gets back, so a name goes back as the Latin-1 bytes it arrived as
// ("zeta-\xe4" as "zeta-%E4", not the UTF-8 "%C3%A4").
class OrvexUrl
{
public:
    // Percent-encodes the Latin-1 bytes of value outside A-Z a-z 0-9 - . _ ~
    // / : @ ( ) , ; ! * ' $; text that Latin-1 cannot hold (a login typed in
    // Cyrillic) goes as UTF-8.
    static QString encode(const QString& value);

    static QString base(const QString& host) { return QStringLiteral("http://") + host; }

    // "http://" + host + "/cgi-bin/oserv?f=i"
    static QString scopeList(const QString& host);
    // "...?f=sticket&s=" + scope + "&l=" + login
    static QString schedulingTicket(const QString& host, const QString& scope, const QString& login);
    // "...?f=scna&s=" + scope + "&l=" + login + "&auth=" + token
    static QString reservation(const QString& host, const QString& scope, const QString& login, const QString& token);
    // "...?f=ticket&s=" + scope + "&l=" + login
    static QString sessionTicket(const QString& host, const QString& scope, const QString& login);

    // "/cgi-bin/oserv?l=" + login + "&s=" + scope + "&": the prefix of every
    // query of a control session; the request's own keys follow it directly.
    static QString requestPrefix(const QString& login, const QString& scope);
    // "http://" + host + prefix + query
    static QString session(const QString& host, const QString& prefix, const QString& query);

    // Slide resources: "/small_slides/", "/whole_slides/", "/fiducials/" + slide
    static QString smallSlide(const QString& host, const QString& slide);
    static QString wholeSlide(const QString& host, const QString& slide);
    static QString fiducials(const QString& host, const QString& slide);
    // "http://" + host + "/cgi-bin/ocount?f=sl&s=" + slide
    static QString slideMarks(const QString& host, const QString& slide);
};
