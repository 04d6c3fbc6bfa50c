#pragma once

// The remaining control time reply: an integer number of seconds ("%i").
class TimeReply
{
public:
    // Reads the first `length` bytes of `data` into `seconds`; false (and
    // `seconds` unchanged) when no number can be read.
    static bool read(const char* data, int length, int& seconds);
};
