#include "casemetrics.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using bench::Pass;
using bench::PassKind;

const bench::FixedPauses kPauses{500ms, 1ms};

Pass pass(PassKind kind, int64_t wallMs, int64_t busyMs, uint64_t frames = 100, uint64_t lateNs = 0)
{
    Pass p;
    p.module = 0x208;
    p.kind = kind;
    p.startNs = 1'000'000;
    p.endNs = p.startNs + wallMs * 1'000'000;
    p.busyNs = static_cast<uint64_t>(busyMs) * 1'000'000;
    p.frames = frames;
    p.sumLatenessNs = lateNs;
    p.maxLatenessNs = lateNs;
    return p;
}

TEST(SequencePauses, AreTheFlashersOwn)
{
    const bench::FixedPauses pauses = bench::sequencePauses();
    EXPECT_EQ(pauses.afterPassCommand, 500ms);
    EXPECT_EQ(pauses.afterFlashedLine, 1ms);
}

TEST(PhaseFigures, FlashFloorHoldsTheCommandPauseAndOnePausePerLineButTheFirst)
{
    // 101 lines: 100 pauses of 1 ms after lines, 500 ms after command 3.
    const bench::PhaseFigures f =
        bench::phaseFigures({pass(PassKind::Flash, 1200, 400)}, PassKind::Flash, 101, 16384, kPauses);
    EXPECT_EQ(f.passes, 1);
    EXPECT_DOUBLE_EQ(f.wallS, 1.2);
    EXPECT_DOUBLE_EQ(f.pausesS, 0.6);
    EXPECT_DOUBLE_EQ(f.floorS, 1.0);
    EXPECT_DOUBLE_EQ(f.ratio, 1.2);
    EXPECT_NEAR(f.kBps, 16384 / 1.2 / 1000, 1e-9);
}

TEST(PhaseFigures, CompareFloorHoldsOnlyTheCommandPause)
{
    const bench::PhaseFigures f =
        bench::phaseFigures({pass(PassKind::Compare, 1100, 500)}, PassKind::Compare, 101, 1000, kPauses);
    EXPECT_DOUBLE_EQ(f.floorS, 1.0);
    EXPECT_DOUBLE_EQ(f.pausesS, 0.5);
    EXPECT_DOUBLE_EQ(f.ratio, 1.1);
}

TEST(PhaseFigures, SumsThePassesOfOneKindOverModules)
{
    const std::vector<Pass> passes{pass(PassKind::Flash, 2000, 1000, 100, 1000),
                                   pass(PassKind::Compare, 9000, 100, 100, 50000),
                                   pass(PassKind::Flash, 4000, 1000, 300, 9000)};
    const bench::PhaseFigures f = bench::phaseFigures(passes, PassKind::Flash, 1, 5000, kPauses);
    EXPECT_EQ(f.passes, 2);
    EXPECT_DOUBLE_EQ(f.wallS, 6.0);
    EXPECT_DOUBLE_EQ(f.floorS, 3.0);
    EXPECT_DOUBLE_EQ(f.ratio, 2.0);
    EXPECT_DOUBLE_EQ(f.kBps, 2 * 5000 / 6.0 / 1000);
    EXPECT_DOUBLE_EQ(f.meanLatenessUs, 10000.0 / 400 / 1000);
    EXPECT_DOUBLE_EQ(f.maxLatenessUs, 9.0);
}

TEST(PhaseFigures, NoPassGivesZerosNotNonsense)
{
    const bench::PhaseFigures f = bench::phaseFigures({}, PassKind::Compare, 10, 1000, kPauses);
    EXPECT_EQ(f.passes, 0);
    EXPECT_EQ(f.ratio, 0);
    EXPECT_EQ(f.kBps, 0);
    EXPECT_EQ(f.meanLatenessUs, 0);
}

TEST(CpuFigures, TheSimulatorIsNotTheFlasher)
{
    const bench::CpuFigures f = bench::cpuFigures(
        20.0, 3.0, 1.0, {{"main", 0.2}, {"tarvUpdate", 0.8}, {"tarvSimBus", 0.9}, {"tarvReceive", 1.0}});
    EXPECT_DOUBLE_EQ(f.flasherCpuS, 2.0);
    EXPECT_DOUBLE_EQ(f.flasherPercent, 10.0);
    EXPECT_DOUBLE_EQ(f.simulatorPercent, 5.0);
    EXPECT_EQ(f.threadPercent.count("tarvSimBus"), 0u);
    EXPECT_DOUBLE_EQ(f.threadPercent.at("tarvUpdate"), 4.0);
    EXPECT_DOUBLE_EQ(f.threadPercent.at("main"), 1.0);
}

TEST(CpuFigures, BothStandInThreadsAreKnown)
{
    const std::map<std::string, double> threads{
        {"tarvSimBus", 1.5}, {"tarvcanapi-io", 0.25}, {"tarvReceive", 2.0}, {"main", 0.1}};
    EXPECT_DOUBLE_EQ(bench::standInCpuS(threads), 1.75);
    EXPECT_TRUE(bench::isStandInThread("tarvcanapi-io"));
    EXPECT_FALSE(bench::isStandInThread("tarvReceive"));
    const bench::CpuFigures f = bench::cpuFigures(10.0, 4.0, bench::standInCpuS(threads), threads);
    EXPECT_DOUBLE_EQ(f.flasherCpuS, 2.25);
    EXPECT_EQ(f.threadPercent.size(), 2u);
}

TEST(CpuFigures, NeverNegativeNorDividedByZero)
{
    const bench::CpuFigures f = bench::cpuFigures(0.0, 1.0, 2.0, {});
    EXPECT_EQ(f.flasherCpuS, 0.0);
    EXPECT_EQ(f.flasherPercent, 0.0);
}

TEST(Growth, NetTimePerKiBAndModuleLeavesThePausesOut)
{
    bench::CaseResult r;
    r.c = bench::Case{64, 16, 250, 4};
    r.flash.wallS = 30.0;
    r.flash.pausesS = 6.0;
    r.compare.wallS = 20.0;
    r.compare.pausesS = 2.0;
    EXPECT_DOUBLE_EQ(r.msPerKiBModule(), 42000.0 / 256);
}

} // namespace
