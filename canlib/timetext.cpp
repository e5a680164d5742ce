#include "timetext.h"

#include <algorithm>
#include <cstdio>

namespace tarvpcan3 {

namespace {

constexpr uint32_t kMsPerSecond = 1000;
constexpr uint32_t kMsPerMinute = 60 * kMsPerSecond;
constexpr uint32_t kMsPerHour = 60 * kMsPerMinute;
constexpr int64_t kMsPerDay = 24 * int64_t{kMsPerHour};

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

uint32_t digitsAt(const char *text, std::size_t pos, std::size_t count)
{
    uint32_t value = 0;
    for (std::size_t i = 0; i < count; ++i)
        value = value * 10 + static_cast<uint32_t>(text[pos + i] - '0');
    return value;
}

// The full form only: a shorter text must not lead the parser past its end,
// and a longer one is not a delay the caller could have meant.
bool isFullForm(const char *text, std::size_t length)
{
    if (length != kTimeTextLength)
        return false;
    for (std::size_t i = 0; i < kTimeTextLength; ++i) {
        const char expected = i == 2 || i == 5 ? ':' : i == 8 ? '.' : '0';
        if (expected == '0' ? !isDigit(text[i]) : text[i] != expected)
            return false;
    }
    return true;
}

} // namespace

void FormatTimeText(int64_t elapsedMs, const WallTime &base, char *out, std::size_t outSize)
{
    if (out == nullptr || outSize == 0)
        return;
    // Whole days leave the time of day as it is, so a time before the base
    // becomes the same time of day counted forwards.
    const auto dayMs = static_cast<uint32_t>((elapsedMs % kMsPerDay + kMsPerDay) % kMsPerDay);
    uint32_t h = dayMs / kMsPerHour;
    uint32_t r = dayMs % kMsPerHour;
    uint32_t m = r / kMsPerMinute;
    r %= kMsPerMinute;
    uint32_t s = r / kMsPerSecond;
    uint32_t ms = std::min(base.millisecond, 999u) + r % kMsPerSecond;
    if (ms >= 1000) {
        ms -= 1000;
        ++s;
    }
    s += std::min(base.second, 59u);
    if (s >= 60) {
        s -= 60;
        ++m;
    }
    m += std::min(base.minute, 59u);
    if (m >= 60) {
        m -= 60;
        ++h;
    }
    h = (h + std::min(base.hour, 23u)) % 24;
    std::snprintf(out, outSize, "%02u:%02u:%02u.%03u", static_cast<unsigned>(h), static_cast<unsigned>(m),
                  static_cast<unsigned>(s), static_cast<unsigned>(ms));
}

uint32_t ParseTimeText(const char *text, std::size_t maxLength)
{
    if (text == nullptr)
        return 0;
    std::size_t length = 0;
    while (length < maxLength && length <= kTimeTextLength && text[length] != '\0')
        ++length;
    if (!isFullForm(text, length))
        return 0;
    const uint32_t hours = digitsAt(text, 0, 2);
    const uint32_t minutes = digitsAt(text, 3, 2);
    const uint32_t seconds = digitsAt(text, 6, 2);
    const uint32_t millis = digitsAt(text, 9, 3);
    return ((hours * 60 + minutes) * 60 + seconds) * 1000 + millis;
}

} // namespace tarvpcan3
