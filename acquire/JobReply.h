#pragma once

#include <QString>

// The server's answer to a create-job request: "-" and a reason when it was
// refused; anything else, "+" and details or even nothing, means it was queued.
class JobReply
{
public:
    static JobReply read(const char* data, int length);

    bool accepted = false;
    // The server's words after a "+" or "-", or all of them without either,
    // trimmed, as plain text.
    QString text;
};
