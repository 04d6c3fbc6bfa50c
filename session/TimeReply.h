#pragma once

// The remaining control time reply: an integer number of seconds ("%i").
class TimeReply
{
public:
    // Reads the first `length` bytes of `data` into `seconds`; false (and
    // `seconds` unchanged) when no number can be read. A negative time reads
    // as 0: it is over, and the countdown must not wrap around.
    static bool read(const char* data, int length, int& seconds);
};
