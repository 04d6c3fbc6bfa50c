#pragma once

#include <locale.h>

// Every reader of a server reply scans numbers through here. Qt applies the
// desktop's locale to the C library at start-up, so a plain sscanf("%f")
// expects "0,5" on a German or French desktop, while the server always
// writes "0.5". scan() keeps sscanf's exact rules (partial reads, what counts
// as a number, the count it returns) but reads under the "C" locale (also for what
// counts as white space).
namespace ReplyScan {

int scan(const char* text, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(scanf, 2, 3)))
#endif
    ;

// scan() under the given locale. Without a locale (the "C" locale could not
// be made) it reads nothing, says so once on the console and returns EOF:
// never a number read under the desktop's locale.
int scanIn(locale_t locale, const char* text, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(scanf, 3, 4)))
#endif
    ;

// White space as the C locale counts it, for readers that walk the bytes themselves.
inline bool isSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

} // namespace ReplyScan
