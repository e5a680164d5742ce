// Driver loading, version, delays.
#include "tarvpcan3.h"

#include "apibinding.h"
#include "exportguard.h"
#include "linerules.h"

#include <array>

using namespace tarvpcan3;

namespace {

constexpr std::size_t kVersionTextSize = 10;

// Spin on the interface's clock; a clock that cannot be read would spin forever.
bool readClock(ApiTimeStamp &now)
{
    return api().readClock(&now) == API_OK;
}

void delayMs(uint32_t milliseconds)
{
    ApiTimeStamp start{};
    if (!readClock(start))
        return;
    ApiTimeStamp now = start;
    // The difference rather than start + n: the millisecond field wraps.
    while (now.millis - start.millis < milliseconds) {
        if (!readClock(now))
            return;
    }
}

void delayUs(uint32_t microseconds)
{
    ApiTimeStamp start{};
    if (!readClock(start))
        return;
    ApiTimeStamp now = start;
    auto elapsed = [&] {
        return static_cast<int64_t>(now.millis - start.millis) * 1000 + int64_t{now.micros} - start.micros;
    };
    while (elapsed() < int64_t{microseconds}) {
        if (!readClock(now))
            return;
    }
}

} // namespace

extern "C" uint8_t ConnectCANHw2Driver(uint8_t adapterKind)
{
    return guardExport("ConnectCANHw2Driver", uint8_t{0}, [&]() -> uint8_t {
        const char *driver = driverNameForKind(adapterKind);
        if (driver == nullptr)
            return 1;
        return api().loadDriver(driver) == API_ERR_NODRIVER ? 0 : 1;
    });
}

extern "C" const char *GetDLLVer(void)
{
    return guardExport("GetDLLVer", "", [] {
        static const std::array<char, kVersionTextSize> text = [] {
            std::array<char, kVersionTextSize> version{};
            versionText(TARVPCAN3_VERSION_MAJOR, TARVPCAN3_VERSION_MINOR, TARVPCAN3_VERSION_PATCH, version.data(),
                        version.size());
            return version;
        }();
        return text.data();
    });
}

extern "C" int32_t GetCanHwParam(void)
{
    return guardExport("GetCanHwParam", int32_t{0}, [] { return int32_t{0}; });
}

extern "C" void CanDelay(uint32_t milliseconds)
{
    guardExport(
        "CanDelay", [] {}, [&] { delayMs(milliseconds); });
}

extern "C" void CanDelayUS(uint32_t microseconds)
{
    guardExport(
        "CanDelayUS", [] {}, [&] { delayUs(microseconds); });
}
