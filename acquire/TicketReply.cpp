#include "acquire/TicketReply.h"

#include "net/ReplyScan.h"

namespace {

// A zero-terminated copy bounded by the received length, for scanning.
QByteArray terminated(const char* data, int length)
{
    if (!data || length <= 0)
        return QByteArray();
    return QByteArray(data, length);
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

namespace TicketReply {

quint32 hexAt(const char* data, int length, int index)
{
    if (!data || index < 0 || length <= index)
        return 0;
    // Hex digits only: no sign and no "0x" prefix, and a number longer than
    // eight digits keeps its low 32 bits instead of saturating.
    int i = index;
    while (i < length && ReplyScan::isSpace(data[i]))
        ++i;
    quint32 value = 0;
    for (int digit; i < length && (digit = hexDigit(data[i])) >= 0; ++i)
        value = (value << 4) | quint32(digit);
    return value;
}

QByteArray firstWord(const char* data, int length)
{
    const QByteArray text = terminated(data, length);
    char word[512] = {};
    if (text.isEmpty() || ReplyScan::scan(text.constData(), "%511s", word) != 1)
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
