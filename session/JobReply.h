#pragma once

#include <QString>

// The server's answer to a create-job request: "+" and details when the job
// was queued, "-" and a reason when it was refused.
class JobReply
{
public:
    static JobReply read(const char* data, int length);

    bool accepted = false;
    // The server's words after the status character, trimmed, as plain text;
    // for a reply without a known status character, a description of it.
    QString text;
};
