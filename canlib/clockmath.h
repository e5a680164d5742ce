// Arithmetic on the interface's clock, the PC's clocks and file times (100-ns
// units since 1601-01-01 UTC). Everything here is pure.
#pragma once

#include "canapi.h"

#include <cstdint>
#include <optional>

namespace tarvpcan3 {

inline constexpr int64_t kFileTimeUnitsPerMs = 10000;
// Seconds from 1601-01-01 to 1970-01-01.
inline constexpr int64_t kFileTimeUnixEpochSeconds = 11644473600;
// Up to 50 ms of drift are left alone.
inline constexpr int64_t kDriftTolerance = 500000;
// Two clock readings further apart than 10 ms are no measurement of drift:
// well within the tolerance, and wide enough for a busy machine's time slices.
inline constexpr int64_t kClockPairSpread = 100000;

int64_t fileTimeFromUnix(int64_t seconds, int64_t nanoseconds);

// The interface clock's advance from base to now, in file-time units.
int64_t clockAdvance(const ApiTimeStamp &now, const ApiTimeStamp &base);

// Whole milliseconds from base to stamp, negative for a stamp taken before the
// base: a frame can wait in a line's queue while another line retakes the bases.
int64_t stampElapsedMs(const ApiTimeStamp &stamp, const ApiTimeStamp &base);

// File time of a frame stamped by the interface's clock.
int64_t receptionFileTime(const ApiTimeStamp &stamp, const ApiTimeStamp &base, int64_t baseFileTime);

// How far the PC clock has run ahead of the interface clock since the base.
int64_t clockDrift(int64_t fileTimeNow, int64_t baseFileTime, const ApiTimeStamp &clockNow,
                   const ApiTimeStamp &base);

// Milliseconds to add to the interface's clock correction, none within tolerance.
std::optional<int32_t> clockCorrectionMs(int64_t drift);

// Milliseconds since the base of a send time stamp; a microsecond part below
// the base's means the last whole millisecond has not yet passed.
uint32_t sendElapsedMs(const ApiTimeStamp &sent, const ApiTimeStamp &base);

// Microseconds apart, as LogOnOff reports them after the send time.
uint32_t microsDistance(const ApiTimeStamp &sent, const ApiTimeStamp &base);

} // namespace tarvpcan3
