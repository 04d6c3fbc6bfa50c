#pragma once

#include <QByteArray>
#include <QtGlobal>

// Readers of the scheduling replies. Each takes the received bytes and their
// length and never looks past that length.
namespace TicketReply {

// The hexadecimal number that starts at index: white space skipped, then hex
// digits only (no sign, no "0x") up to the first other character, low 32 bits
// kept; 0 when no digits follow or the reply is shorter than index.
quint32 hexAt(const char* data, int length, int index);

// The first white-space-delimited word of a reservation reply, at most 511
// characters; empty when the reply holds none.
QByteArray firstWord(const char* data, int length);

enum class Ticket { Granted, NoAuthorization, Unscheduled, Other };
// "-NO_AUTHORIZATION" and "-UNSCHEDULED" count only as the whole reply.
Ticket classifyTicket(const char* data, int length);

} // namespace TicketReply
