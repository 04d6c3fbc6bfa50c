#include "FuzzInput.h"

#include "acquire/TicketReply.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const FuzzInput input(data, size);
    const char* bytes = input.data();
    const int length = input.length();

    // The challenge follows "+OK " and the ticket "+T ": indices 4 and 3.
    TicketReply::hexAt(bytes, length, 3);
    TicketReply::hexAt(bytes, length, 4);
    fuzzCheck(TicketReply::hexAt(bytes, length, length) == 0, "number read past the reply");

    const QByteArray word = TicketReply::firstWord(bytes, length);
    fuzzCheck(word.size() <= 511 && word.size() <= length, "word longer than 511 characters or the reply");
    fuzzCheck(!word.contains(' ') && !word.contains('\n') && !word.contains('\t') && !word.contains('\0'),
              "word holds white space or NUL");
    if (!word.isEmpty())
        fuzzCheck(QByteArray::fromRawData(bytes, length).contains(word), "word not in the reply");

    const TicketReply::Ticket ticket = TicketReply::classifyTicket(bytes, length);
    if (ticket == TicketReply::Ticket::Granted)
        fuzzCheck(length > 0 && bytes[0] == '+', "granted without '+'");
    if (ticket == TicketReply::Ticket::NoAuthorization)
        fuzzCheck(length == 17 && std::memcmp(bytes, "-NO_AUTHORIZATION", 17) == 0, "refusal not the whole reply");
    if (ticket == TicketReply::Ticket::Unscheduled)
        fuzzCheck(length == 12 && std::memcmp(bytes, "-UNSCHEDULED", 12) == 0, "refusal not the whole reply");
    return 0;
}
