#include "FuzzInput.h"

#include "session/TimeReply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const FuzzInput input(data, size);
    int seconds = -424242;
    if (!TimeReply::read(input.data(), input.length(), seconds))
        fuzzCheck(seconds == -424242, "unreadable reply changed the time");
    else
        fuzzCheck(seconds >= 0, "a read time is negative");
    return 0;
}
