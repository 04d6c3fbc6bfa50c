#include "acquire/JobReply.h"

JobReply JobReply::read(const char* data, int length)
{
    JobReply reply;
    if (!data || length <= 0) {
        reply.accepted = true;
        return reply;
    }
    const char status = data[0];
    reply.accepted = status != '-';
    const int skip = status == '+' || status == '-' ? 1 : 0;
    reply.text = QString::fromUtf8(data + skip, length - skip);
    reply.text.remove(QChar(u'\0'));
    reply.text = reply.text.trimmed();
    return reply;
}
