#include "clockmath.h"

#include <algorithm>

namespace tarvpcan3 {

namespace {

constexpr int64_t kMillisWrap = int64_t{1} << 32;

} // namespace

int64_t fileTimeFromUnix(int64_t seconds, int64_t nanoseconds)
{
    return (seconds + kFileTimeUnixEpochSeconds) * 10000000 + nanoseconds / 100;
}

int64_t clockAdvance(const ApiTimeStamp &now, const ApiTimeStamp &base)
{
    const int64_t millis = int64_t{now.millis} - int64_t{base.millis};
    const int64_t wraps = int64_t{now.millisOverflow} - int64_t{base.millisOverflow};
    const int64_t micros = int64_t{now.micros} - int64_t{base.micros};
    return millis * kFileTimeUnitsPerMs + wraps * kFileTimeUnitsPerMs * kMillisWrap + micros * 10;
}

int64_t stampElapsedMs(const ApiTimeStamp &stamp, const ApiTimeStamp &base)
{
    const int64_t millis = int64_t{stamp.millis} - int64_t{base.millis};
    const int64_t wraps = int64_t{stamp.millisOverflow} - int64_t{base.millisOverflow};
    return millis + wraps * kMillisWrap;
}

int64_t receptionFileTime(const ApiTimeStamp &stamp, const ApiTimeStamp &base, int64_t baseFileTime)
{
    return baseFileTime + clockAdvance(stamp, base);
}

int64_t clockDrift(int64_t fileTimeNow, int64_t baseFileTime, const ApiTimeStamp &clockNow,
                   const ApiTimeStamp &base)
{
    return (fileTimeNow - baseFileTime) - clockAdvance(clockNow, base);
}

std::optional<int32_t> clockCorrectionMs(int64_t drift)
{
    if (drift >= -kDriftTolerance && drift <= kDriftTolerance)
        return std::nullopt;
    const int64_t ms = drift / kFileTimeUnitsPerMs;
    return static_cast<int32_t>(std::clamp<int64_t>(ms, INT32_MIN, INT32_MAX));
}

uint32_t sendElapsedMs(const ApiTimeStamp &sent, const ApiTimeStamp &base)
{
    uint32_t millis = sent.millis;
    if (sent.micros < base.micros)
        --millis;
    return millis - base.millis;
}

uint32_t microsDistance(const ApiTimeStamp &sent, const ApiTimeStamp &base)
{
    return sent.micros >= base.micros ? uint32_t{sent.micros} - base.micros : uint32_t{base.micros} - sent.micros;
}

} // namespace tarvpcan3
