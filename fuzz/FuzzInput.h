#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

// The fuzzer's bytes in a heap block of exactly their size with no
// terminator, the way a fetcher's buffer looks to a reader that trusts the
// length: one byte too far is a heap overflow that AddressSanitizer reports.
class FuzzInput
{
public:
    FuzzInput(const uint8_t* data, size_t size)
        : bytes(new char[size])
        , count(size > maxLength ? maxLength : static_cast<int>(size))
    {
        if (size)
            std::memcpy(bytes.get(), data, size);
    }

    const char* data() const { return bytes.get(); }
    int length() const { return count; }

private:
    // Replies are capped far below this by the fetchers; larger inputs are
    // read only up to it.
    static constexpr size_t maxLength = 1 << 24;

    std::unique_ptr<char[]> bytes;
    int count;
};
