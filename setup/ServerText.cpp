#include "setup/ServerText.h"

#include <algorithm>

namespace ServerText {

namespace {

constexpr QChar breakOpportunity(0x200B);
// The toolkit reads at most this many characters after '&' looking for ';'.
constexpr int maxEntityLength = 9;

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

// Where the toolkit's rich-text reader ends a tag. Every step moves `pos`
// forward only, so a text full of '<' is still read in one pass.

bool isAt(const QString& t, int pos, QChar c)
{
    return pos < t.size() && t.at(pos) == c;
}

void eatSpace(const QString& t, int& pos)
{
    while (pos < t.size() && t.at(pos).isSpace())
        ++pos;
}

// A quote opens a string only where a word begins; within a word it is a
// plain character. Returns the number of characters read.
int word(const QString& t, int& pos)
{
    const int start = pos;
    if (isAt(t, pos, u'"')) {
        const int close = t.indexOf(u'"', pos + 1);
        pos = close < 0 ? int(t.size()) : close + 1;
    } else if (isAt(t, pos, u'\'')) {
        // \' does not end a single-quoted string.
        for (++pos; pos < t.size() && t.at(pos) != u'\''; ++pos)
            if (t.at(pos) == u'\\' && isAt(t, pos + 1, u'\''))
                ++pos;
        pos = std::min<int>(pos + 1, t.size());
    } else {
        for (; pos < t.size(); ++pos) {
            const QChar c = t.at(pos);
            if (c == u'>' || c == u'<' || c == u'=' || c.isSpace() || (c == u'/' && isAt(t, pos + 1, u'>')))
                break;
        }
    }
    return pos - start;
}

void attributes(const QString& t, int& pos)
{
    while (pos < t.size()) {
        eatSpace(t, pos);
        if (isAt(t, pos, u'>') || isAt(t, pos, u'/') || word(t, pos) == 0)
            return;
        eatSpace(t, pos);
        if (isAt(t, pos, u'=')) {
            ++pos;
            eatSpace(t, pos);
            word(t, pos);
        }
    }
}

// End (exclusive) of the tag that starts at `from`; the rest of the text when
// it never closes, as nothing after such a '<' is shown.
int tagEnd(const QString& t, int from)
{
    int pos = from + 1;
    eatSpace(t, pos);
    if (isAt(t, pos, u'!')) {
        // A comment ends at "-->", any other declaration at '>'.
        const bool comment = isAt(t, pos + 1, u'-') && isAt(t, pos + 2, u'-');
        const int close = comment ? t.indexOf(QStringLiteral("-->"), pos + 3) : t.indexOf(u'>', pos + 1);
        return close < 0 ? int(t.size()) : close + (comment ? 3 : 1);
    }
    if (isAt(t, pos, u'/')) {
        ++pos;
        word(t, pos);
    } else {
        word(t, pos);
        if (pos < t.size() && t.at(pos).isSpace())
            attributes(t, pos);
    }
    while (pos < t.size() && t.at(pos) != u'>')
        ++pos;
    return std::min<int>(pos + 1, t.size());
}

// End (exclusive) of an entity such as "&amp;" or "&#233;" at `from`, or -1:
// a ';' within the next nine characters, with no white space before it.
int entityEnd(const QString& text, int from)
{
    const int last = std::min<int>(text.size(), from + 1 + maxEntityLength);
    for (int i = from + 1; i < last; ++i) {
        const QChar c = text.at(i);
        if (c == u';')
            return i > from + 1 ? i + 1 : -1;
        if (c.isSpace())
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
            // Counted at its full length: an unknown name is shown as typed.
            end = entityEnd(text, i);
            width = end - i;
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
