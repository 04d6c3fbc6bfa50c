#pragma once

#include "net/MyHTTP.h"

#include <QObject>
#include <QString>

class SessionLink;

// What the microscope says about itself at the start of a session ("f=d"):
// the scale of its video pictures and a free text for the user.
class ScopeInfo : public QObject
{
    Q_OBJECT

public:
    explicit ScopeInfo(const SessionLink& link, QObject* parent = nullptr);

    void request();
    void stop();

    MyHTTP sysInfoFetcher;
    // Micrometres per video pixel; 0 until the server said.
    float mppX = 0.0f;
    float mppY = 0.0f;
    // The server's text after the scale, as plain text.
    QString text;

signals:
    void arrived();
    // A "***" line: without the scale the read-outs would silently stay at zero.
    void message(const QString& text);

private:
    void replyArrived();

    const SessionLink& link;
};
