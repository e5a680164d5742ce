#include "wakeprobe.h"

#include <gtest/gtest.h>

#include <sched.h>

namespace {

struct SummaryCase
{
    std::vector<double> samples;
    double median;
    double p90;
};

TEST(WakeLatencySummary, MedianAndNinetiethPercentileOfUnsortedSamples)
{
    const std::vector<SummaryCase> cases{
        {{7.0}, 7.0, 7.0},
        {{30.0, 10.0}, 30.0, 30.0},
        {{9, 1, 8, 2, 7, 3, 6, 4, 5, 10}, 6.0, 10.0},
        {{50, 40, 30, 20, 10}, 30.0, 50.0},
    };
    for (const SummaryCase &c : cases) {
        const auto summary = bench::summariseWakeLatency(c.samples);
        ASSERT_TRUE(summary);
        EXPECT_EQ(summary->medianUs, c.median) << c.samples.size() << " samples";
        EXPECT_EQ(summary->p90Us, c.p90) << c.samples.size() << " samples";
    }
    EXPECT_FALSE(bench::summariseWakeLatency({}));
}

TEST(WakeLatencyProbe, MeasuresOnTwoCpusAndLeavesTheCallerUnpinned)
{
    cpu_set_t before;
    ASSERT_EQ(sched_getaffinity(0, sizeof before, &before), 0);
    const auto wake = bench::measureWakeLatency(20);
    cpu_set_t after;
    ASSERT_EQ(sched_getaffinity(0, sizeof after, &after), 0);
    EXPECT_TRUE(CPU_EQUAL(&before, &after));
    if (CPU_COUNT(&before) < 2) {
        EXPECT_FALSE(wake);
        return;
    }
    ASSERT_TRUE(wake);
    EXPECT_GT(wake->medianUs, 0.0);
    EXPECT_GE(wake->p90Us, wake->medianUs);
    EXPECT_FALSE(bench::measureWakeLatency(0));
}

} // namespace
