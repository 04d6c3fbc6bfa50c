#pragma once

#include <QString>
#include <QVector>

// What the server does wrong on purpose, per request kind.
enum class Fault {
    None,
    Refuse,   // close the connection without any reply
    Http500,  // HTTP 500
    Empty,    // 200 with an empty body
    Garbage,  // 200 with random bytes
    Cut,      // Content-Length promises more than is sent, then close
    Stall,    // never answer; the connection stays open
    Drip,     // the correct reply, a few bytes at a time
    Oversize, // a body far beyond any sane cap
    Status,   // a text reply whose status character is wrong
    Nul,      // NUL bytes mixed into the reply
    NulEnd    // the reply followed by one NUL byte, as a C string ends
};

// Rules "KIND:FAULT" or "KIND:FAULT:COUNT"; KIND "*" matches every request.
// A rule with a count applies to that many matching requests only.
class FaultRules
{
public:
    static Fault faultFromName(const QString& name);
    bool add(const QString& rule);
    void clear() { m_rules.clear(); }
    bool isEmpty() const { return m_rules.isEmpty(); }
    // The fault for the next request of this kind; uses up one count.
    Fault take(const QString& kind);

private:
    struct Rule
    {
        QString kind;
        Fault fault = Fault::None;
        int remaining = -1; // -1: forever
    };
    QVector<Rule> m_rules;
};
