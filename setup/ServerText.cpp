#include "setup/ServerText.h"

namespace ServerText {

QString breakLongRuns(const QString& text, int maxRun)
{
    if (maxRun <= 0 || text.size() <= maxRun)
        return text;
    QString out;
    out.reserve(text.size() + text.size() / maxRun + 1);
    int run = 0;
    for (const QChar c : text) {
        if (c.isSpace() || c == QChar(0x200B)) {
            run = 0;
        } else if (++run > maxRun) {
            out += QChar(0x200B);
            run = 1;
        }
        out += c;
    }
    return out;
}

} // namespace ServerText
