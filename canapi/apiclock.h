// The interface's clock: microseconds on a monotonic base, running at a rate
// that a test can skew, plus the driver's correction (driver parameter 95).
#pragma once

#include "canapi.h"

#include <cstdint>
#include <mutex>

namespace canapi {

ApiTimeStamp toTimeStamp(uint64_t micros);
uint64_t fromTimeStamp(const ApiTimeStamp &ts);
bool isZero(const ApiTimeStamp &ts);

// Monotonic time of the machine in nanoseconds (CLOCK_MONOTONIC).
int64_t monotonicNs();

class ApiClock
{
public:
    // The clock reads anchorNs / 1000 microseconds at monotonic time anchorNs,
    // so that it starts where a driver's uptime clock would.
    explicit ApiClock(int64_t anchorNs);

    uint64_t microsAt(int64_t monoNs) const;
    ApiTimeStamp at(int64_t monoNs) const { return toTimeStamp(microsAt(monoNs)); }
    // The monotonic time at which the clock shows micros (for sends at a
    // given interface time).
    int64_t monoAt(uint64_t micros) const;

    // Keeps the clock continuous at nowNs and lets it run (1 + ppm / 1e6)
    // times as fast from there. Rates of zero or below are ignored.
    void setDriftPpm(double ppm, int64_t nowNs);
    void setCorrectionMs(int32_t ms);
    int32_t correctionMs() const;

private:
    int64_t rawMicrosAt(int64_t monoNs) const;

    mutable std::mutex mutex_;
    int64_t anchorNs_;
    int64_t anchorMicros_;
    double rate_ = 1.0;
    int32_t correctionMs_ = 0;
};

} // namespace canapi
