#include "session/TimeReply.h"

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
