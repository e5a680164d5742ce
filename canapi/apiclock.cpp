#include "apiclock.h"

#include <cmath>
#include <ctime>

namespace canapi {

ApiTimeStamp toTimeStamp(uint64_t micros)
{
    const uint64_t millis = micros / 1000;
    ApiTimeStamp ts;
    ts.millis = static_cast<uint32_t>(millis);
    ts.millisOverflow = static_cast<uint16_t>(millis >> 32);
    ts.micros = static_cast<uint16_t>(micros % 1000);
    return ts;
}

uint64_t fromTimeStamp(const ApiTimeStamp &ts)
{
    const uint64_t millis = (static_cast<uint64_t>(ts.millisOverflow) << 32) | ts.millis;
    return millis * 1000 + ts.micros % 1000;
}

bool isZero(const ApiTimeStamp &ts)
{
    return ts.millis == 0 && ts.millisOverflow == 0 && ts.micros == 0;
}

int64_t monotonicNs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

ApiClock::ApiClock(int64_t anchorNs)
    : anchorNs_(anchorNs)
    , anchorMicros_(anchorNs / 1000)
{}

int64_t ApiClock::rawMicrosAt(int64_t monoNs) const
{
    // Rounded to whole nanoseconds first, so that a rate like 1.001, which
    // no double holds exactly, still gives whole microseconds where it should.
    const int64_t elapsedNs = std::llround(static_cast<long double>(monoNs - anchorNs_) * rate_);
    const int64_t micros = elapsedNs >= 0 ? elapsedNs / 1000 : -((-elapsedNs + 999) / 1000);
    return anchorMicros_ + micros;
}

uint64_t ApiClock::microsAt(int64_t monoNs) const
{
    std::lock_guard lock(mutex_);
    const int64_t micros = rawMicrosAt(monoNs) + int64_t{correctionMs_} * 1000;
    // A correction larger than the clock's age would make it negative; a
    // driver clock stops at zero instead of wrapping.
    return micros < 0 ? 0 : static_cast<uint64_t>(micros);
}

int64_t ApiClock::monoAt(uint64_t micros) const
{
    std::lock_guard lock(mutex_);
    const double raw =
        static_cast<double>(static_cast<int64_t>(micros) - int64_t{correctionMs_} * 1000 - anchorMicros_);
    return anchorNs_ + static_cast<int64_t>(std::ceil(raw * 1000.0 / rate_));
}

void ApiClock::setDriftPpm(double ppm, int64_t nowNs)
{
    const double rate = 1.0 + ppm / 1e6;
    // A clock that stands still or runs backwards is no clock.
    if (!std::isfinite(rate) || rate <= 0.0)
        return;
    std::lock_guard lock(mutex_);
    anchorMicros_ = rawMicrosAt(nowNs);
    anchorNs_ = nowNs;
    rate_ = rate;
}

void ApiClock::setCorrectionMs(int32_t ms)
{
    std::lock_guard lock(mutex_);
    correctionMs_ = ms;
}

int32_t ApiClock::correctionMs() const
{
    std::lock_guard lock(mutex_);
    return correctionMs_;
}

} // namespace canapi
