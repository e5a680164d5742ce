#include "timecheck.h"

#include <cstdlib>
#include <ctime>
#include <regex>

namespace canlibtest {

bool isTimeText(const std::string &text)
{
    static const std::regex form(R"(([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]\.[0-9]{3})");
    return std::regex_match(text, form);
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
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::tm local{};
    localtime_r(&now.tv_sec, &local);
    return ((local.tm_hour * 60 + local.tm_min) * 60 + local.tm_sec) * 1000LL + now.tv_nsec / 1000000;
}

int64_t timeOfDayDistanceMs(int64_t a, int64_t b)
{
    constexpr int64_t kDay = 24LL * 3600 * 1000;
    const int64_t d = std::llabs(a - b) % kDay;
    return d > kDay / 2 ? kDay - d : d;
}

} // namespace canlibtest
