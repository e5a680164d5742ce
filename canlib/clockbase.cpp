#include "clockbase.h"

#include "apibinding.h"
#include "clockmath.h"

#include <ctime>
#include <mutex>

namespace tarvpcan3 {

namespace {

std::mutex g_baseLock;
ClockBase g_base;

} // namespace

PcTime pcTimeNow()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::tm local{};
    localtime_r(&now.tv_sec, &local);
    PcTime result;
    result.fileTime = fileTimeFromUnix(now.tv_sec, now.tv_nsec);
    result.wall.hour = static_cast<unsigned>(local.tm_hour);
    result.wall.minute = static_cast<unsigned>(local.tm_min);
    // A leap second reads as 60; the time text has no room for it.
    result.wall.second = static_cast<unsigned>(local.tm_sec > 59 ? 59 : local.tm_sec);
    result.wall.millisecond = static_cast<unsigned>(now.tv_nsec / 1000000);
    return result;
}

void takeClockBase()
{
    ClockBase base;
    api().readClock(&base.stamp);
    const PcTime pc = pcTimeNow();
    base.wall = pc.wall;
    base.fileTime = pc.fileTime;
    std::lock_guard lock(g_baseLock);
    g_base = base;
}

ClockBase clockBase()
{
    std::lock_guard lock(g_baseLock);
    return g_base;
}

} // namespace tarvpcan3
