#pragma once

// The remaining control time reply: an integer number of seconds ("%i").
class TimeReply
{
public:
    // Reads the first `length` bytes of `data` into `seconds`; false (and
    // `seconds` unchanged) when no number can be read. A negative time reads
    // as 0: it is over, and the countdown must not wrap around.
    // A NUL ends the reply, as it ends a position reply.
    static bool read(const char* data, int length, int& seconds);
    // Text after a NUL: the reply is corrupt, and read up to the NUL it could
    // cut the remaining time short and end control for nothing.
    static bool cutShort(const char* data, int length);
};
