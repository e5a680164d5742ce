// The clock-drift correction.
#include "simbench.h"

#include "canapi.h"
#include "clockmath.h"
#include "clocksync.h"

#include <thread>
#include <vector>

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

// A PC clock that reads what the test says, in milliseconds after a fixed
// instant: a thread preempted between two reads is a jump in the readings.
struct ScriptedPcClock
{
    static inline int64_t origin = 0;
    static inline std::vector<double> readingsMs;
    static inline std::size_t reads = 0;

    static void script(std::vector<double> ms)
    {
        origin = tarvpcan3::pcTimeNow().fileTime;
        readingsMs = std::move(ms);
        reads = 0;
    }
    static tarvpcan3::PcTime now()
    {
        const double ms = readingsMs.at(std::min(reads++, readingsMs.size() - 1));
        tarvpcan3::PcTime t;
        t.fileTime = origin + static_cast<int64_t>(ms * tarvpcan3::kFileTimeUnitsPerMs);
        return t;
    }
};

struct PairCase
{
    const char *what;
    std::vector<double> readingsMs; // before and after each try of the stamp
    double pcMs;                    // the reading kept
    double spreadMs;
    std::size_t reads;
};

TEST_F(ClockSync, ClockPairKeepsTheNarrowestTry)
{
    ASSERT_TRUE(openLine(0));
    const PairCase cases[] = {
        {"first try tight", {0, 0.1}, 0.1, 0.1, 2},
        {"preempted once", {0, 2000, 2000, 2000.1}, 2000.1, 0.1, 4},
        {"preempted every time", {0, 3000, 3000, 5000, 5000, 9000, 9000, 9500}, 9500, 500, 8},
        {"at the limit", {0, 10}, 10, 10, 2},
    };
    for (const PairCase &c : cases) {
        ScriptedPcClock::script(c.readingsMs);
        const auto pair = tarvpcan3::readClockPair(&ScriptedPcClock::now);
        ASSERT_TRUE(pair) << c.what;
        const auto ms = [](int64_t units) { return static_cast<double>(units) / tarvpcan3::kFileTimeUnitsPerMs; };
        EXPECT_DOUBLE_EQ(ms(pair->pc.fileTime - ScriptedPcClock::origin), c.pcMs) << c.what;
        EXPECT_DOUBLE_EQ(ms(pair->spread), c.spreadMs) << c.what;
        EXPECT_EQ(ScriptedPcClock::reads, c.reads) << c.what;
    }
}

// A PC clock 2 s ahead of the interface's corrects, unless the measurement
// straddled a preemption: that would be 2 s of drift that never was.
TEST_F(ClockSync, TimerIgnoresAPreemptedMeasurement)
{
    ASSERT_TRUE(openLine(0));
    ScriptedPcClock::script({0, 2000, 2000, 4000, 4000, 6000, 6000, 8000});
    EXPECT_FALSE(tarvpcan3::ClockSyncTimer(&ScriptedPcClock::now)) << "the thread would wait a whole period";
    EXPECT_EQ(clockCorrection(), 0);
    ScriptedPcClock::script({2000, 2000});
    EXPECT_TRUE(tarvpcan3::ClockSyncTimer(&ScriptedPcClock::now));
    EXPECT_NEAR(clockCorrection(), 2000, 50);
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
