#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

// A broken promise of a reader is a finding like a crash: libFuzzer keeps the
// input that made abort() run.
inline void fuzzCheck(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz check failed: %s\n", what);
        std::abort();
    }
}

// The fuzzer's bytes in a heap block of exactly their size with no
// terminator, as a fetcher's buffer looks to a reader that trusts the length:
// one byte too far is a heap overflow that AddressSanitizer reports. Inputs
// beyond any fetcher's cap are read only up to 16 MiB.
class FuzzInput
{
public:
    FuzzInput(const uint8_t* data, size_t size)
        : bytes(new char[size])
        , count(size > (1u << 24) ? (1 << 24) : static_cast<int>(size))
    {
        if (size)
            std::memcpy(bytes.get(), data, size);
    }

    const char* data() const { return bytes.get(); }
    int length() const { return count; }

private:
    std::unique_ptr<char[]> bytes;
    int count;
};
