#include "acquire/ScopeListParser.h"

#include "net/ReplyScan.h"

#include <cstring>

namespace {

bool isMarker(char c)
{
    return c == '$' || c == '#';
}

bool isAlnum(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

QString latin1(const char* data, int from, int to)
{
    return QString::fromLatin1(data + from, to - from);
}

// Text shown to the user, from a server that may end its lines with CRLF.
QString shownText(const char* data, int from, int to)
{
    return latin1(data, from, to).replace(QLatin1String("\r\n"), QLatin1String("\n"));
}

} // namespace

ScopeListParser ScopeListParser::parse(const char* data, int length)
{
    ScopeListParser result;
    if (!data || length <= 0)
        return result;
    const int n = static_cast<int>(::strnlen(data, static_cast<size_t>(length)));

    int p = 0;
    while (p < n && !isMarker(data[p]))
        ++p;
    // The character just before the first marker (normally the line feed
    // that ends the banner) is not part of it.
    if (p > 0)
        result.banner = shownText(data, 0, p > 1 && data[p - 2] == '\r' ? p - 2 : p - 1);

    // Markers inside slide lines make later entries rescan text that earlier
    // ones read already; a hostile reply built of such lines would cost time
    // and memory growing with the square of its length. Entries past a
    // generous budget of scanned bytes are dropped.
    const qint64 budget = 8 * qint64(n) + 65536;
    qint64 scanned = 0;
    int i = 0;
    while (true) {
        while (i < n && !isMarker(data[i]))
            ++i;
        if (i >= n)
            break;
        const int entryStart = i;

        ScopeRecord record;
        record.controlLocked = data[i] == '$';
        ++i;

        const int nameStart = i;
        while (i < n && data[i] != '\n')
            ++i;
        // A server that ends its lines with CRLF does not count the CR as
        // part of the name; sent back, it would name an unknown microscope.
        record.name = latin1(data, nameStart, i > nameStart && data[i - 1] == '\r' ? i - 1 : i);
        if (i < n)
            ++i;

        const int descriptionStart = i;
        while (i < n && data[i] != '^')
            ++i;
        record.description = shownText(data, descriptionStart, i);

        // The slide section starts at the first letter or digit after the
        // description's '^'. A line that begins with '^' on the way is an
        // empty slide section: stopping there keeps the next entry's marker
        // from being swallowed.
        if (i < n)
            ++i;
        while (i < n && !isAlnum(data[i]) && !(data[i] == '^' && data[i - 1] == '\n'))
            ++i;
        const int s = i;

        int line = s;
        while (line < n && data[line] != '^') {
            int end = line;
            while (end < n && data[end] != '\n')
                ++end;
            int wordStart = line;
            while (wordStart < end && ReplyScan::isSpace(data[wordStart]))
                ++wordStart;
            int wordEnd = wordStart;
            while (wordEnd < end && !ReplyScan::isSpace(data[wordEnd]))
                ++wordEnd;
            if (wordEnd > wordStart)
                record.slides.append(latin1(data, wordStart, wordEnd));
            line = end < n ? end + 1 : n;
        }

        scanned += qMax(i, line) - entryStart;
        if (scanned > budget)
            break;
        result.records.append(record);
        // A marker anywhere in the slide lines begins a new entry.
        i = s;
    }
    return result;
}
