#include "acquire/SystemInfoReply.h"

#include "net/ReplyScan.h"

#include <cstring>
#include <string>

SystemInfoReply SystemInfoReply::read(const char* data, int length, float mppX, float mppY)
{
    SystemInfoReply reply;
    reply.mppX = mppX;
    reply.mppY = mppY;
    if (!data || length <= 0)
        return reply;

    const std::string text(data, static_cast<size_t>(length));
    ReplyScan::scan(text.c_str(), "%f %f\n", &reply.mppX, &reply.mppY);

    // The search for the line break stays within the received bytes.
    const void* lineBreak = std::memchr(data, '\n', static_cast<size_t>(length));
    if (!lineBreak)
        return reply;
    const char* restStart = static_cast<const char*>(lineBreak) + 1;
    const int restLength = length - static_cast<int>(restStart - data);
    reply.rest = QString::fromUtf8(restStart, restLength);
    reply.rest.remove(QChar(u'\0'));
    reply.rest.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return reply;
}
