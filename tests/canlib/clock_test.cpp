// The clock-drift correction.
#include "simbench.h"

#include "canapi.h"
#include "clocksync.h"

#include <thread>

using namespace canlibtest;

namespace {

int32_t clockCorrection()
{
    int32_t value = 0;
    EXPECT_EQ(CanApi_ReadDriverParam(API_DRVPARAM_CLOCKCORR, &value, sizeof value), API_OK);
    return value;
}

class ClockSync : public SimBench
{};

TEST_F(ClockSync, OpeningResetsTheCorrection)
{
    ASSERT_EQ(CanApi_WriteDriverParam(API_DRVPARAM_CLOCKCORR, 33), API_OK);
    ASSERT_TRUE(openLine(0));
    EXPECT_EQ(clockCorrection(), 0);
}

struct DriftStep
{
    int64_t drift;
    int32_t expectedCorrection;
};

TEST_F(ClockSync, CorrectsBeyondFiftyMilliseconds)
{
    ASSERT_TRUE(openLine(0));
    ASSERT_EQ(CanApi_WriteDriverParam(API_DRVPARAM_CLOCKCORR, 7), API_OK);
    const DriftStep steps[] = {
        {500000, 7},     // exactly 50 ms: nothing
        {-500000, 7},    //
        {510000, 58},    // 51 ms added
        {-510000, 7},    // 51 ms taken off
        {-1029999, -95}, // truncated toward zero
        {0, -95},
    };
    for (const DriftStep &step : steps) {
        tarvpcan3::applyClockDrift(step.drift);
        EXPECT_EQ(clockCorrection(), step.expectedCorrection) << step.drift;
    }
}

TEST_F(ClockSync, SteadyClockNeedsNoCorrection)
{
    ASSERT_TRUE(openLine(0));
    tarvpcan3::ClockSyncTimer();
    EXPECT_EQ(clockCorrection(), 0);
}

// An interface clock running 20 % fast is more than 51 ms ahead within a
// second; the timer's step must pull it back.
TEST_F(ClockSync, TimerStepMeasuresTheInterfaceClock)
{
    canapi::sim::setClockDriftPpm(200000);
    ASSERT_TRUE(openLine(0));
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    int32_t correction = 0;
    while (correction == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
        tarvpcan3::ClockSyncTimer();
        correction = clockCorrection();
    }
    canapi::sim::setClockDriftPpm(0);
    // Any drift beyond 50 ms corrects, truncated to whole milliseconds: a
    // drift of 50.4 ms gives -50.
    EXPECT_LE(correction, -50) << "the fast interface clock was not held back";
    EXPECT_GT(correction, -2000);
}

// The running timer, not a direct call, must hold a 2 % fast interface clock
// back: 200 ms ahead after one period.
TEST_F(ClockSync, RunningTimerCorrectsWithinItsPeriod)
{
    canapi::sim::setClockDriftPpm(20000);
    ASSERT_TRUE(openLine(0));
    const auto opened = std::chrono::steady_clock::now();
    const auto deadline = opened + tarvpcan3::ClockSyncThread::kPeriod + kPatience;
    int32_t correction = 0;
    while (correction == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
        correction = clockCorrection();
    }
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - opened).count();
    canapi::sim::setClockDriftPpm(0);
    ASSERT_NE(correction, 0) << "no correction within " << seconds << " s";
    // The drift grows by 20 ms a second until the timer measures it.
    EXPECT_LE(correction, -150);
    EXPECT_GE(correction, -static_cast<int32_t>(seconds * 20) - 20);
}

} // namespace
