#include "timecheck.h"

#include "clockmath.h"

#include <cstdlib>
#include <ctime>

namespace canlibtest {

bool isTimeText(const std::string &text)
{
    static const char form[] = "dd:dd:dd.ddd";
    if (text.size() != sizeof form - 1)
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (form[i] == 'd' ? !digit : text[i] != form[i])
            return false;
    }
    return text.compare(0, 2, "24") < 0 && text[3] <= '5' && text[6] <= '5';
}

int64_t timeTextMs(const std::string &text)
{
    if (!isTimeText(text))
        return -1;
    const auto field = [&](std::size_t pos, std::size_t len) { return std::stoll(text.substr(pos, len)); };
    return ((field(0, 2) * 60 + field(3, 2)) * 60 + field(6, 2)) * 1000 + field(9, 3);
}

int64_t localTimeOfDayMs()
{
    return wallClockNow().timeOfDayMs;
}

int64_t timeOfDayDistanceMs(int64_t a, int64_t b)
{
    return std::llabs(timeOfDayOffsetMs(a, b));
}

int64_t timeOfDayOffsetMs(int64_t a, int64_t b)
{
    constexpr int64_t kDay = 24LL * 3600 * 1000;
    const int64_t d = ((a - b) % kDay + kDay) % kDay;
    return d > kDay / 2 ? d - kDay : d;
}

WallClock wallClockNow()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::tm local{};
    localtime_r(&now.tv_sec, &local);
    WallClock wall;
    wall.timeOfDayMs = ((local.tm_hour * 60 + local.tm_min) * 60 + local.tm_sec) * 1000LL + now.tv_nsec / 1000000;
    wall.fileTime = tarvpcan3::fileTimeFromUnix(now.tv_sec, now.tv_nsec);
    return wall;
}

} // namespace canlibtest
