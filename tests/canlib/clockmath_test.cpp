#include "clockmath.h"

#include <gtest/gtest.h>

using namespace tarvpcan3;

namespace {

constexpr int64_t kUnixEpochFileTime = 116444736000000000;

TEST(ClockMath, FileTimeCountsFrom1601)
{
    EXPECT_EQ(fileTimeFromUnix(0, 0), kUnixEpochFileTime);
    EXPECT_EQ(fileTimeFromUnix(1, 999), kUnixEpochFileTime + 10000000 + 9);
    // 2024-01-01T00:00:00Z
    EXPECT_EQ(fileTimeFromUnix(1704067200, 0), 133485408000000000);
}

struct ReceptionCase
{
    const char *name;
    ApiTimeStamp base;
    ApiTimeStamp stamp;
    int64_t expectedAdvance;
    int64_t expectedMs; // whole milliseconds, for the time text
};

class ReceptionFileTimeCases : public ::testing::TestWithParam<ReceptionCase>
{};

TEST_P(ReceptionFileTimeCases, AddsTheClockAdvanceToTheBase)
{
    const ReceptionCase &c = GetParam();
    const int64_t baseFileTime = kUnixEpochFileTime + 123456789;
    EXPECT_EQ(receptionFileTime(c.stamp, c.base, baseFileTime), baseFileTime + c.expectedAdvance);
    EXPECT_EQ(stampElapsedMs(c.stamp, c.base), c.expectedMs);
}

INSTANTIATE_TEST_SUITE_P(
    ClockMath, ReceptionFileTimeCases,
    ::testing::Values(ReceptionCase{"same", {1000, 0, 500}, {1000, 0, 500}, 0, 0},
                      ReceptionCase{"millisAndMicros", {1000, 0, 500}, {1250, 0, 700}, 2502000, 250},
                      ReceptionCase{"microsBelowBase", {100, 0, 900}, {101, 0, 100}, 2000, 1},
                      ReceptionCase{"overflowWrap", {0xFFFFFF00u, 0, 0}, {0x10, 1, 0}, 272 * 10000, 272},
                      ReceptionCase{"beforeBase", {1000, 0, 0}, {900, 0, 0}, -100 * 10000, -100},
                      ReceptionCase{
                          "beforeBaseAcrossWrap", {0x10, 1, 0}, {0xFFFFFF00u, 0, 0}, -272 * 10000, -272}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ClockMath, DriftIsPcAdvanceMinusClockAdvance)
{
    const ApiTimeStamp base{5000, 0, 0};
    const ApiTimeStamp clock{5000 + 9949, 0, 0};
    const int64_t pcBase = kUnixEpochFileTime;
    EXPECT_EQ(clockDrift(pcBase + 100000000, pcBase, clock, base), 510000);
    EXPECT_EQ(clockDrift(pcBase + 99490000 - 510000, pcBase, clock, base), -510000);
}

struct CorrectionCase
{
    int64_t drift;
    std::optional<int32_t> expected;
};

class ClockCorrectionCases : public ::testing::TestWithParam<CorrectionCase>
{};

TEST_P(ClockCorrectionCases, CorrectsOnlyBeyondFiftyMilliseconds)
{
    EXPECT_EQ(clockCorrectionMs(GetParam().drift), GetParam().expected) << GetParam().drift;
}

INSTANTIATE_TEST_SUITE_P(ClockMath, ClockCorrectionCases,
                         ::testing::Values(CorrectionCase{0, std::nullopt}, CorrectionCase{500000, std::nullopt},
                                           CorrectionCase{-500000, std::nullopt}, CorrectionCase{500001, 50},
                                           CorrectionCase{510000, 51}, CorrectionCase{-510000, -51},
                                           CorrectionCase{519999, 51}, CorrectionCase{-519999, -51},
                                           CorrectionCase{INT64_MAX, INT32_MAX},
                                           CorrectionCase{INT64_MIN, INT32_MIN}));

TEST(ClockMath, SendTimeDropsAnUnfinishedMillisecond)
{
    const ApiTimeStamp base{1000, 0, 500};
    EXPECT_EQ(sendElapsedMs({1250, 0, 500}, base), 250u);
    EXPECT_EQ(sendElapsedMs({1250, 0, 499}, base), 249u);
    EXPECT_EQ(sendElapsedMs({0x10, 1, 600}, {0xFFFFFFF0u, 0, 500}), 0x20u);
}

TEST(ClockMath, MicrosDistanceIsAbsolute)
{
    EXPECT_EQ(microsDistance({0, 0, 499}, {0, 0, 500}), 1u);
    EXPECT_EQ(microsDistance({0, 0, 900}, {0, 0, 100}), 800u);
    EXPECT_EQ(microsDistance({0, 0, 100}, {0, 0, 900}), 800u);
}

} // namespace
