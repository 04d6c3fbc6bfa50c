#include "setup/TicketReply.h"

#include <cstdio>
#include <cstring>

namespace {

// A zero-terminated copy bounded by the received length, for sscanf.
QByteArray terminated(const char* data, int length)
{
    if (!data || length <= 0)
        return QByteArray();
    return QByteArray(data, length);
}

} // namespace

namespace TicketReply {

quint32 hexAt(const char* data, int length, int index)
{
    if (!data || length <= index)
        return 0;
    const QByteArray text = terminated(data + index, length - index);
    unsigned long long value = 0;
    if (std::sscanf(text.constData(), "%llx", &value) != 1)
        return 0;
    return static_cast<quint32>(value);
}

QByteArray firstWord(const char* data, int length)
{
    const QByteArray text = terminated(data, length);
    char word[512] = {};
    if (text.isEmpty() || std::sscanf(text.constData(), "%511s", word) != 1)
        return QByteArray();
    return QByteArray(word);
}

Ticket classifyTicket(const char* data, int length)
{
    const QByteArray reply = terminated(data, length);
    if (reply == "-NO_AUTHORIZATION")
        return Ticket::NoAuthorization;
    if (reply == "-UNSCHEDULED")
        return Ticket::Unscheduled;
    if (!reply.isEmpty() && reply.at(0) == '+')
        return Ticket::Granted;
    return Ticket::Other;
}

} // namespace TicketReply
