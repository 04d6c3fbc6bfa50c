#include "net/ReplyScan.h"

#include <QtGlobal>

#include <cstdarg>
#include <cstdio>

namespace {

locale_t cLocale()
{
    static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    return c;
}

int scanUnder(locale_t locale, const char* text, const char* format, va_list args)
{
    // uselocale(0) would keep the desktop's locale without a word.
    if (!locale) {
        static bool told = false;
        if (!told)
            qCritical("Tessan: the \"C\" locale is not available; replies from the server cannot be read.");
        told = true;
        return EOF;
    }
    // uselocale() changes the calling thread only, so nothing else sees it.
    const locale_t previous = uselocale(locale);
    const int read = std::vsscanf(text, format, args);
    uselocale(previous);
    return read;
}

} // namespace

namespace ReplyScan {

int scan(const char* text, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const int read = scanUnder(cLocale(), text, format, args);
    va_end(args);
    return read;
}

int scanIn(locale_t locale, const char* text, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const int read = scanUnder(locale, text, format, args);
    va_end(args);
    return read;
}

} // namespace ReplyScan
