#include "session/JobReply.h"

JobReply JobReply::read(const char* data, int length)
{
    JobReply reply;
    if (!data || length <= 0) {
        reply.text = QStringLiteral("the server sent an empty reply.");
        return reply;
    }
    const char status = data[0];
    if (status != '+' && status != '-') {
        reply.text = QStringLiteral("the server sent a reply that could not be read.");
        return reply;
    }
    reply.accepted = status == '+';
    reply.text = QString::fromUtf8(data + 1, length - 1);
    reply.text.remove(QChar(u'\0'));
    reply.text = reply.text.trimmed();
    return reply;
}
