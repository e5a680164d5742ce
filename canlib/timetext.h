// Time-stamp texts hh:mm:ss.mmm: the wall-clock time of a frame, written from
// the interface's clock relative to the base taken when a line was opened.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvpcan3 {

// Local time of day.
struct WallTime
{
    unsigned hour = 0;
    unsigned minute = 0;
    unsigned second = 0;
    unsigned millisecond = 0;
};

inline constexpr std::size_t kTimeTextLength = 12;
inline constexpr char kClosedLineTime[] = "00:00:00.000";

// Writes base + elapsed as hh:mm:ss.mmm, the time of day wrapping at midnight
// both ways, truncated to outSize bytes with the NUL. Elapsed is negative for a
// time before the base. A base outside a valid time of day is clamped.
void FormatTimeText(int64_t elapsedMs, const WallTime &base, char *out, std::size_t outSize);

// Milliseconds of a text in the full form hh:mm:ss.mmm; reads at most
// maxLength bytes. Any other text, and a null text, gives 0.
uint32_t ParseTimeText(const char *text, std::size_t maxLength);

} // namespace tarvpcan3
