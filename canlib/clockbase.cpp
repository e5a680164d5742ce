#include "clockbase.h"

#include "apibinding.h"
#include "clockmath.h"

#include <ctime>
#include <mutex>

#ifdef _WIN32
#include <windows.h>
#endif

namespace tarvpcan3 {

namespace {

std::mutex g_baseLock;
ClockBase g_base;
std::mutex g_correctionLock;

} // namespace

#ifdef _WIN32

PcTime pcTimeNow()
{
    FILETIME utc{};
    GetSystemTimePreciseAsFileTime(&utc);
    SYSTEMTIME utcParts{};
    SYSTEMTIME local{};
    // The zone's rules for that instant, as the clock on the task bar shows it.
    if (!FileTimeToSystemTime(&utc, &utcParts) || !SystemTimeToTzSpecificLocalTime(nullptr, &utcParts, &local))
        local = utcParts;
    PcTime result;
    result.fileTime = static_cast<int64_t>((uint64_t{utc.dwHighDateTime} << 32) | utc.dwLowDateTime);
    result.wall.hour = local.wHour;
    result.wall.minute = local.wMinute;
    result.wall.second = local.wSecond;
    result.wall.millisecond = local.wMilliseconds;
    return result;
}

#else

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

#endif

std::optional<ClockPair> readClockPair(PcTime (*pcNow)())
{
    constexpr int kTries = 4;
    std::optional<ClockPair> best;
    for (int i = 0; i < kTries && !(best && best->spread <= kClockPairSpread); ++i) {
        ClockPair pair;
        const int64_t before = pcNow().fileTime;
        if (api().readClock(&pair.stamp) != API_OK)
            return std::nullopt;
        pair.pc = pcNow();
        pair.spread = pair.pc.fileTime - before;
        if (!best || pair.spread < best->spread)
            best = pair;
    }
    return best;
}

void takeClockBase()
{
    std::lock_guard correction(g_correctionLock);
    api().writeDriverParam(API_DRVPARAM_CLOCKCORR, 0);
    // A line needs bases even from a wide pair; the timer corrects the rest.
    const std::optional<ClockPair> pair = readClockPair();
    ClockBase base;
    const PcTime pc = pair ? pair->pc : pcTimeNow();
    if (pair)
        base.stamp = pair->stamp;
    base.wall = pc.wall;
    base.fileTime = pc.fileTime;
    std::lock_guard lock(g_baseLock);
    g_base = base;
}

std::mutex &clockCorrectionLock()
{
    return g_correctionLock;
}

ClockBase clockBase()
{
    std::lock_guard lock(g_baseLock);
    return g_base;
}

} // namespace tarvpcan3
