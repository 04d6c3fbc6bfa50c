#include "FuzzInput.h"

#include "session/SystemInfoReply.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const FuzzInput input(data, size);
    const SystemInfoReply reply = SystemInfoReply::read(input.data(), input.length(), 0.5f, 0.25f);
    fuzzCheck(!reply.rest.contains(QChar(u'\0')), "free text holds NUL");
    fuzzCheck(reply.rest.size() < input.length() || reply.rest.isEmpty(), "free text longer than the reply");
    if (!std::memchr(input.data(), '\n', static_cast<size_t>(input.length())))
        fuzzCheck(reply.rest.isEmpty(), "free text without a line break");
    return 0;
}
