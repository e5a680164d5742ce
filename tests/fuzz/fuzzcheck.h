// A broken property aborts the fuzz run with the condition and the place, so
// that libFuzzer keeps the input as a crash artifact.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#define FUZZ_CHECK(condition)                                                                                    \
    do {                                                                                                         \
        if (!(condition)) {                                                                                      \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition);                \
            std::abort();                                                                                        \
        }                                                                                                        \
    } while (false)

// Reads the fuzzer's bytes from the front; past the end everything reads as 0.
class FuzzInput
{
public:
    FuzzInput(const uint8_t *data, size_t size)
        : data_(data)
        , size_(size)
    {}

    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint16_t word()
    {
        const uint16_t high = byte();
        return static_cast<uint16_t>(high << 8 | byte());
    }
    uint32_t u32()
    {
        const uint32_t high = word();
        return high << 16 | word();
    }
    size_t remaining() const { return size_ - pos_; }
    const uint8_t *rest() const { return data_ + pos_; }

private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};
