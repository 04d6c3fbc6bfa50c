#include "acquire/TimeReply.h"

#include "net/ReplyScan.h"
#include <algorithm>

#include <string>

bool TimeReply::read(const char* data, int length, int& seconds)
{
    if (!data || length <= 0)
        return false;
    const std::string text(data, static_cast<size_t>(length));
    int value = 0;
    if (ReplyScan::scan(text.c_str(), "%i", &value) != 1)
        return false;
    seconds = std::max(value, 0);
    return true;
}

bool TimeReply::cutShort(const char* data, int length)
{
    const char* end = data + std::max(length, 0);
    const char* nul = std::find(data, end, '\0');
    return std::find_if(nul, end, [](char c) { return c != '\0'; }) != end;
}
