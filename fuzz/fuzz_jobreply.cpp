#include "FuzzInput.h"

#include "session/JobReply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const FuzzInput input(data, size);
    const JobReply reply = JobReply::read(input.data(), input.length());
    if (reply.accepted)
        fuzzCheck(input.data()[0] == '+', "accepted without '+'");
    fuzzCheck(!reply.text.contains(QChar(u'\0')), "text holds NUL");
    fuzzCheck(reply.text == reply.text.trimmed(), "text not trimmed");
    const bool known = input.length() > 0 && (input.data()[0] == '+' || input.data()[0] == '-');
    if (!known)
        fuzzCheck(!reply.text.isEmpty(), "unknown reply without a description");
    return 0;
}
