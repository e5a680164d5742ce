// Time texts hh:mm:ss.mmm: parsed from arbitrary bytes, and written from an
// elapsed time and a base and parsed back. Input: elapsed ms (4 bytes), base
// hour, minute, second (1 byte each), base millisecond (2 bytes), output
// buffer size (1 byte), then the text to parse.
#include "fuzzcheck.h"
#include "timetext.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

using namespace tarvpcan3;

namespace {

constexpr uint32_t MsPerDay = 24u * 3600u * 1000u;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

int twoDigits(const std::string &t, size_t pos)
{
    return (t[pos] - '0') * 10 + (t[pos + 1] - '0');
}

// The text up to its NUL or the length limit, when it is exactly hh:mm:ss.mmm.
bool fullFormValue(const char *text, size_t maxLength, uint32_t &value)
{
    const std::string t(text, strnlen(text, maxLength));
    if (t.size() != 12 || t[2] != ':' || t[5] != ':' || t[8] != '.')
        return false;
    for (size_t i : {0, 1, 3, 4, 6, 7, 9, 10, 11}) {
        if (!isDigit(t[i]))
            return false;
    }
    const uint32_t millis = static_cast<uint32_t>((t[9] - '0') * 100 + (t[10] - '0') * 10 + (t[11] - '0'));
    value = ((uint32_t(twoDigits(t, 0)) * 60 + uint32_t(twoDigits(t, 3))) * 60 + uint32_t(twoDigits(t, 6))) * 1000
            + millis;
    return true;
}

void checkParse(const uint8_t *bytes, size_t size)
{
    // Exactly the caller's bytes, no terminating NUL: the length limit must hold.
    std::unique_ptr<char[]> exact(new char[size]);
    std::memcpy(exact.get(), bytes, size);
    uint32_t expected = 0;
    const bool full = fullFormValue(exact.get(), size, expected);
    FUZZ_CHECK(ParseTimeText(exact.get(), size) == (full ? expected : 0));

    // The same text terminated, with a generous limit.
    const std::string terminated(exact.get(), size);
    const bool fullTerminated = fullFormValue(terminated.c_str(), terminated.size() + 1, expected);
    FUZZ_CHECK(ParseTimeText(terminated.c_str(), terminated.size() + 1) == (fullTerminated ? expected : 0));
    FUZZ_CHECK(ParseTimeText(nullptr, size) == 0);
}

void checkFormat(uint32_t elapsed, const WallTime &base, size_t outSize)
{
    const uint32_t baseMs = std::min(base.hour, 23u) * 3600000u + std::min(base.minute, 59u) * 60000u
                            + std::min(base.second, 59u) * 1000u + std::min(base.millisecond, 999u);
    const uint32_t expected = static_cast<uint32_t>((uint64_t(baseMs) + elapsed) % MsPerDay);

    char whole[32];
    std::memset(whole, 'x', sizeof whole);
    FormatTimeText(elapsed, base, whole, sizeof whole);
    FUZZ_CHECK(std::strlen(whole) == kTimeTextLength);
    FUZZ_CHECK(ParseTimeText(whole, sizeof whole) == expected);

    // A short buffer gets a terminated prefix, and nothing past its end.
    std::unique_ptr<char[]> out(new char[std::max<size_t>(outSize, 1)]);
    FormatTimeText(elapsed, base, outSize == 0 ? nullptr : out.get(), outSize);
    if (outSize == 0)
        return;
    const size_t written = strnlen(out.get(), outSize);
    FUZZ_CHECK(written == std::min(outSize - 1, kTimeTextLength));
    FUZZ_CHECK(std::memcmp(out.get(), whole, written) == 0);
    if (written < kTimeTextLength)
        FUZZ_CHECK(ParseTimeText(out.get(), outSize) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    const uint32_t elapsed = input.u32();
    WallTime base;
    base.hour = input.byte();
    base.minute = input.byte();
    base.second = input.byte();
    base.millisecond = input.word();
    const size_t outSize = input.byte() % 20;
    checkFormat(elapsed, base, outSize);
    checkParse(input.rest(), input.remaining());
    return 0;
}
