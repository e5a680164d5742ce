// The clock bases that relate the interface's clock to the PC's wall clock and
// file time. One set for the library, retaken whenever a line is opened.
#pragma once

#include "canapi.h"
#include "timetext.h"

#include <cstdint>
#include <mutex>
#include <optional>

namespace tarvpcan3 {

struct ClockBase
{
    ApiTimeStamp stamp{}; // the interface's clock
    WallTime wall;        // local time of day at the same moment
    int64_t fileTime = 0; // UTC, 100-ns units since 1601-01-01
};

// Current UTC file time and the local time of day of that same instant.
struct PcTime
{
    int64_t fileTime = 0;
    WallTime wall;
};
PcTime pcTimeNow();

// The interface's clock and the PC's, read as one instant.
struct ClockPair
{
    ApiTimeStamp stamp{};
    PcTime pc;          // read right after the stamp
    int64_t spread = 0; // file-time units between PC readings before and after the stamp
};
// A thread preempted between the two reads would pair instants that lie
// seconds apart, so the stamp is read between two PC readings and the
// narrowest of a few tries is kept. None when the interface's clock cannot be
// read; the caller decides whether a wide pair is good enough.
std::optional<ClockPair> readClockPair(PcTime (*pcNow)() = pcTimeNow);

// Zeroes the interface's clock correction (driver parameter 95), then takes the
// bases. Zeroed afterwards, a correction left by an earlier run would set the
// clock back behind the bases it was just read for.
void takeClockBase();
// Held by the timer's tick and by takeClockBase, so that a tick's
// read-measure-write never straddles a new set of bases.
std::mutex &clockCorrectionLock();
// A consistent copy: the bases are written by the thread opening a line while
// readers of other lines use them.
ClockBase clockBase();

} // namespace tarvpcan3
