// Checks on time-stamp texts against the PC's clock.
#pragma once

#include <cstdint>
#include <string>

namespace canlibtest {

// Whether text has the form hh:mm:ss.mmm with valid fields.
bool isTimeText(const std::string &text);
// Milliseconds since midnight of a time text; -1 when it is not one.
int64_t timeTextMs(const std::string &text);
// Milliseconds since local midnight now.
int64_t localTimeOfDayMs();
// Distance of two times of day, across midnight.
int64_t timeOfDayDistanceMs(int64_t a, int64_t b);
// How far time of day a lies after b (negative: before), across midnight.
int64_t timeOfDayOffsetMs(int64_t a, int64_t b);

// One reading of the PC's clock, as local time of day and as UTC file time.
struct WallClock
{
    int64_t timeOfDayMs = 0;
    int64_t fileTime = 0;
};
WallClock wallClockNow();

} // namespace canlibtest
