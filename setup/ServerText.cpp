#include "setup/ServerText.h"

#include <algorithm>

namespace ServerText {

namespace {

constexpr QChar breakOpportunity(0x200B);
// Longest entity taken as one, "&thetasym;" and numeric ones included.
constexpr int maxEntityLength = 12;

// Appends a piece that counts as `width` characters of the current run.
void appendCounted(QString& out, QStringView piece, int width, int maxRun, int& run)
{
    if (piece.size() == 1 && (piece.front().isSpace() || piece.front() == breakOpportunity)) {
        run = 0;
    } else if (width > 0 && (run += width) > maxRun) {
        out += breakOpportunity;
        run = width;
    }
    out += piece;
}

// End (exclusive) of the tag that starts at `from`, or -1 when it never closes.
int tagEnd(const QString& text, int from)
{
    QChar quote;
    for (int i = from + 1; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
        } else if (c == u'"' || c == u'\'') {
            quote = c;
        } else if (c == u'>') {
            return i + 1;
        }
    }
    return -1;
}

int entityEnd(const QString& text, int from)
{
    const int last = std::min<int>(text.size(), from + maxEntityLength);
    for (int i = from + 1; i < last; ++i) {
        const QChar c = text.at(i);
        if (c == u';')
            return i > from + 1 ? i + 1 : -1;
        if (!c.isLetterOrNumber() && c != u'#')
            return -1;
    }
    return -1;
}

// Plain text goes one character at a time; in markup a tag or an entity
// goes as one piece.
QString breakRuns(const QString& text, int maxRun, bool markup)
{
    if (maxRun <= 0 || text.size() <= maxRun)
        return text;
    QString out;
    out.reserve(text.size() + text.size() / maxRun + 1);
    int run = 0;
    for (int i = 0; i < text.size();) {
        int end = -1;
        int width = 1;
        if (markup && text.at(i) == u'<') {
            end = tagEnd(text, i);
            width = 0;
        } else if (markup && text.at(i) == u'&') {
            end = entityEnd(text, i);
        }
        if (end < 0) {
            end = i + 1;
            width = 1;
        }
        appendCounted(out, QStringView(text).mid(i, end - i), width, maxRun, run);
        i = end;
    }
    return out;
}

} // namespace

QString breakLongRuns(const QString& text, int maxRun)
{
    return breakRuns(text, maxRun, false);
}

QString breakLongRunsInMarkup(const QString& text, int maxRun)
{
    return breakRuns(text, maxRun, true);
}

} // namespace ServerText
