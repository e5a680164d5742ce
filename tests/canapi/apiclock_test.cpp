// The interface clock: time-stamp record, correction and drift.
#include "apiclock.h"

#include <gtest/gtest.h>

namespace {

using canapi::ApiClock;

constexpr int64_t kAnchor = 5'000'000'000'000; // 5000 s after boot

TEST(ApiClock, TimeStampSplitsMillisecondsOverflowAndMicroseconds)
{
    const uint64_t micros = ((uint64_t{3} << 32) + 17) * 1000 + 999;
    const ApiTimeStamp ts = canapi::toTimeStamp(micros);
    EXPECT_EQ(ts.millis, 17u);
    EXPECT_EQ(ts.millisOverflow, 3);
    EXPECT_EQ(ts.micros, 999);
    EXPECT_EQ(canapi::fromTimeStamp(ts), micros);
    EXPECT_TRUE(canapi::isZero(ApiTimeStamp{}));
    EXPECT_FALSE(canapi::isZero(ApiTimeStamp{0, 0, 1}));
}

TEST(ApiClock, StartsAtTheMonotonicTimeAndRunsWithIt)
{
    ApiClock clock(kAnchor);
    EXPECT_EQ(clock.microsAt(kAnchor), 5'000'000'000u);
    EXPECT_EQ(clock.microsAt(kAnchor + 1'234'567), 5'000'001'234u);
}

TEST(ApiClock, CorrectionShiftsByMilliseconds)
{
    ApiClock clock(kAnchor);
    clock.setCorrectionMs(-250);
    EXPECT_EQ(clock.correctionMs(), -250);
    EXPECT_EQ(clock.microsAt(kAnchor), 5'000'000'000u - 250'000u);
    clock.setCorrectionMs(40);
    EXPECT_EQ(clock.microsAt(kAnchor), 5'000'000'000u + 40'000u);
}

TEST(ApiClock, NeverGoesBelowZero)
{
    ApiClock clock(1'000'000); // 1 ms after boot
    clock.setCorrectionMs(-5);
    EXPECT_EQ(clock.microsAt(1'000'000), 0u);
}

TEST(ApiClock, DriftIsContinuousAndChangesTheRate)
{
    ApiClock clock(kAnchor);
    const int64_t change = kAnchor + 1'000'000'000; // 1 s later
    const uint64_t before = clock.microsAt(change);
    clock.setDriftPpm(1000.0, change); // 0.1 % fast
    EXPECT_EQ(clock.microsAt(change), before);
    // 10 s of real time are 10.01 s of interface time.
    EXPECT_EQ(clock.microsAt(change + 10'000'000'000) - before, 10'010'000u);
    clock.setDriftPpm(-1e6, change); // a stopped clock is refused
    EXPECT_EQ(clock.microsAt(change + 10'000'000'000) - before, 10'010'000u);
}

TEST(ApiClock, MonotonicTimeOfAClockReadingIsTheInverse)
{
    ApiClock clock(kAnchor);
    clock.setCorrectionMs(123);
    clock.setDriftPpm(-50.0, kAnchor + 7'000'000);
    for (int64_t offsetNs : {int64_t{0}, int64_t{999'999}, int64_t{86'400'000'000'000}}) {
        const int64_t t = kAnchor + 7'000'000 + offsetNs;
        const uint64_t micros = clock.microsAt(t);
        const int64_t back = clock.monoAt(micros);
        EXPECT_EQ(clock.microsAt(back), micros);
        EXPECT_LE(std::llabs(back - t), 2000) << offsetNs;
    }
}

} // namespace
