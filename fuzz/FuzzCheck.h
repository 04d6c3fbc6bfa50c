#pragma once

#include <cstdio>
#include <cstdlib>

// A broken promise of a reader is a finding like a crash: libFuzzer keeps
// the input that made abort() run.
inline void fuzzCheck(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz check failed: %s\n", what);
        std::abort();
    }
}
