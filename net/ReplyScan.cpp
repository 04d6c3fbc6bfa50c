#include "net/ReplyScan.h"

#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <locale.h>

namespace {

locale_t cLocale()
{
    static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    return c;
}

} // namespace

namespace ReplyScan {

int scan(const char* text, const char* format, ...)
{
    // uselocale() changes the calling thread only, so nothing else sees it.
    const locale_t previous = uselocale(cLocale());
    va_list args;
    va_start(args, format);
    const int read = std::vsscanf(text, format, args);
    va_end(args);
    uselocale(previous);
    return read;
}

} // namespace ReplyScan
