#include "FuzzInput.h"

#include "acquire/JobReply.h"
#include "acquire/SystemInfoReply.h"
#include "acquire/TimeReply.h"

#include <cstring>

// The small text replies: remaining time, system information, job outcome.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const FuzzInput input(data, size);
    int seconds = -424242;
    if (!TimeReply::read(input.data(), input.length(), seconds))
        fuzzCheck(seconds == -424242, "unreadable reply changed the time");
    else
        fuzzCheck(seconds >= 0, "a read time is negative");

    const SystemInfoReply info = SystemInfoReply::read(input.data(), input.length(), 0.5f, 0.25f);
    fuzzCheck(!info.rest.contains(QChar(u'\0')), "free text holds NUL");
    fuzzCheck(info.rest.size() < input.length() || info.rest.isEmpty(), "free text longer than the reply");
    if (!std::memchr(input.data(), '\n', static_cast<size_t>(input.length())))
        fuzzCheck(info.rest.isEmpty(), "free text without a line break");

    const JobReply job = JobReply::read(input.data(), input.length());
    fuzzCheck(job.accepted == !(input.length() > 0 && input.data()[0] == '-'), "a refusal without '-'");
    fuzzCheck(!job.text.contains(QChar(u'\0')), "text holds NUL");
    fuzzCheck(job.text == job.text.trimmed(), "text not trimmed");
    return 0;
}
