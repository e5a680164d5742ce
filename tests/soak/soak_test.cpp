// The soak's cases: reproducible from their seed, every fault kind met early,
// small firmware files, bench configurations that the
// interface stand-in accepts with the intended faults, and time bounds that
// grow with the file and the faults.
#include "benchconfig.h"
#include "soakcase.h"

#include <gtest/gtest.h>

#include <set>

using namespace soak;

namespace {

canapi::BenchConfig parsedBench(const SoakCase &c)
{
    canapi::BenchConfig bench;
    QString error;
    const bool ok = canapi::parseBenchConfig(benchIni(c).text(), QStringLiteral("bench.ini"),
                                             QStringLiteral("/tmp/soak"), &bench, &error);
    EXPECT_TRUE(ok) << error.toStdString();
    return bench;
}

SoakCase caseOfKind(FaultKind kind, uint64_t seed = 7)
{
    for (int i = 0; i < FaultKindCount; ++i) {
        const SoakCase c = makeCase(seed, i);
        if (c.kind == kind)
            return c;
    }
    ADD_FAILURE() << "no case of kind " << faultKindName(kind).toStdString();
    return {};
}

} // namespace

TEST(SoakCase, SameSeedAndIndexGiveTheSameCase)
{
    const SoakCase a = makeCase(42, 5);
    const SoakCase b = makeCase(42, 5);
    EXPECT_EQ(a.firmware, b.firmware);
    EXPECT_EQ(benchIni(a).text(), benchIni(b).text());
    EXPECT_EQ(a.boundSeconds, b.boundSeconds);
    EXPECT_NE(a.firmware, makeCase(42, 6).firmware);
    EXPECT_NE(a.firmware, makeCase(43, 5).firmware);
}

TEST(SoakCase, EveryKindWithinOneRoundWhateverTheSeed)
{
    for (uint64_t seed : {0ull, 1ull, 2ull, 123456789ull}) {
        std::set<FaultKind> kinds;
        for (int i = 10; i < 10 + FaultKindCount; ++i)
            kinds.insert(makeCase(seed, i).kind);
        EXPECT_EQ(static_cast<int>(kinds.size()), FaultKindCount) << "seed " << seed;
    }
}

TEST(SoakCase, FirmwareIsSmall)
{
    for (int i = 0; i < 60; ++i) {
        const SoakCase c = makeCase(3, i);
        ASSERT_GE(c.firmware.size(), 5) << i;
        EXPECT_LE(c.firmware.size(), 30) << i;
        EXPECT_TRUE(c.firmware.first().startsWith("S0")) << i;
        EXPECT_TRUE(QStringLiteral("S7S8S9").contains(c.firmware.last().left(2))) << i;
        EXPECT_TRUE(c.fileName.contains("K3B7")) << "the modules' name must fit the file";
        EXPECT_NE(c.modules[0].address, c.modules[1].address);
        if (c.kind == FaultKind::FrameLoss5) {
            EXPECT_LE(c.firmware.size(), 12) << "heavy loss needs a short file to stay fast";
        }
    }
}

TEST(BenchIni, ParsedByTheInterfaceWithTheIntendedFaults)
{
    const SoakCase dies = caseOfKind(FaultKind::DiesMidFlash);
    const canapi::BenchConfig bench = parsedBench(dies);
    ASSERT_EQ(bench.modules.size(), 2);
    int dying = 0;
    for (int i = 0; i < 2; ++i) {
        const modsim::ModuleConfig &m = bench.modules[i].config;
        EXPECT_EQ(m.address, dies.modules[static_cast<size_t>(i)].address);
        EXPECT_EQ(m.imagePath, "/tmp/soak/" + testkit::BenchIni::imageName(m.address).toStdString());
        if (m.dieAtLine > 0) {
            ++dying;
            EXPECT_LE(m.dieAtLine, dies.firmware.size()) << "it must die within the flash pass";
            EXPECT_EQ(dies.modules[static_cast<size_t>(i)].expect, Expect::NotUpdated);
        }
    }
    EXPECT_EQ(dying, 1);
    EXPECT_EQ(bench.adapters.size(), 1);
    EXPECT_EQ(bench.adapters[0].tracePath, QStringLiteral("/tmp/soak/trace0.log"));
}

TEST(BenchIni, LossInBothDirectionsOnBothModules)
{
    for (FaultKind kind : {FaultKind::FrameLoss1, FaultKind::FrameLoss5}) {
        const double rate = kind == FaultKind::FrameLoss1 ? 0.01 : 0.05;
        const canapi::BenchConfig bench = parsedBench(caseOfKind(kind));
        ASSERT_EQ(bench.modules.size(), 2);
        for (const canapi::ModuleEntry &m : bench.modules) {
            EXPECT_DOUBLE_EQ(m.config.rxLossProb, rate);
            EXPECT_DOUBLE_EQ(m.config.txLossProb, rate);
        }
    }
}

TEST(BenchIni, BusOffInsideTheTransfers)
{
    int broken = 0;
    for (int i = 0; i < 20 * FaultKindCount; i += FaultKindCount) {
        const SoakCase c = makeCase(5, i + 7 - 5 % FaultKindCount);
        ASSERT_EQ(c.kind, FaultKind::BusOff);
        const canapi::BenchConfig bench = parsedBench(c);
        ASSERT_EQ(bench.adapters.size(), 1);
        EXPECT_EQ(bench.adapters[0].busOffAfterFrames, static_cast<uint64_t>(c.busOffAfterFrames));
        EXPECT_EQ(bench.adapters[0].busOffForGood, c.busOffForGood);
        // Past the start-up (pattern, two sweeps of 64, log-on), before the
        // second module's compare pass is through.
        EXPECT_GT(c.busOffAfterFrames, 140);
        int frames = 0;
        for (const QString &line : c.firmware)
            frames += 2 * framesPerLine(line) + 1;
        EXPECT_LT(c.busOffAfterFrames, 140 + 4 * frames);
        broken += c.busOffForGood ? 1 : 0;
    }
    EXPECT_GT(broken, 0);
    EXPECT_LT(broken, 20) << "some bus offs pass";
}

TEST(BenchIni, EveryKindIsAccepted)
{
    for (int i = 0; i < 3 * FaultKindCount; ++i) {
        const SoakCase c = makeCase(11, i);
        SCOPED_TRACE(faultKindName(c.kind).toStdString());
        EXPECT_EQ(parsedBench(c).modules.size(), 2);
    }
}

struct FramesRow
{
    int textBytes;
    int frames;
};

TEST(LineCost, FramesPerLineCountCrLf)
{
    for (const FramesRow &row :
         {FramesRow{4, 1}, FramesRow{5, 2}, FramesRow{10, 2}, FramesRow{11, 3}, FramesRow{76, 13}}) {
        EXPECT_EQ(framesPerLine(QString(row.textBytes, u'S')), row.frames) << row.textBytes;
    }
}

TEST(LineCost, LossProbability)
{
    const QString line(10, u'S'); // two frames, two acknowledgements, one answer
    EXPECT_DOUBLE_EQ(lineLossProbability(line, 0.0, 0.0), 0.0);
    EXPECT_NEAR(lineLossProbability(line, 0.1, 0.0), 1.0 - 0.9 * 0.9, 1e-12);
    EXPECT_NEAR(lineLossProbability(line, 0.0, 0.1), 1.0 - 0.9 * 0.9 * 0.9, 1e-12);
    EXPECT_NEAR(lineLossProbability(line, 1.0, 0.0), 1.0, 1e-12);
}

TEST(RunBound, GrowsWithTheFileAndTheFaults)
{
    SoakCase c = caseOfKind(FaultKind::ChecksumErrors);
    for (ModulePlan &m : c.modules) {
        ModulePlan plain;
        plain.address = m.address;
        m = plain;
    }
    const double clean = runBoundSeconds(c);
    EXPECT_GT(clean, 30.0) << "start-up, two modules and slack";
    EXPECT_LT(clean, 200.0);

    SoakCase longer = c;
    longer.firmware += c.firmware;
    EXPECT_GT(runBoundSeconds(longer), clean);

    SoakCase lossy1 = c, lossy5 = c;
    lossy1.modules[0].rxLoss = lossy1.modules[0].txLoss = 0.01;
    lossy5.modules[0].rxLoss = lossy5.modules[0].txLoss = 0.05;
    EXPECT_GT(runBoundSeconds(lossy1), clean);
    EXPECT_GT(runBoundSeconds(lossy5), runBoundSeconds(lossy1));

    SoakCase slow = c;
    slow.modules[1].answerDelayUs = 40000;
    EXPECT_GT(runBoundSeconds(slow), clean);
}

TEST(RunBound, CoversTheBoundedWaitsOfTheFatalFaults)
{
    // A dying module runs into ten line timeouts of about 2.25 s each; one
    // that never logs on again into the 20 s wait after the restart.
    const SoakCase dies = caseOfKind(FaultKind::DiesMidFlash);
    const SoakCase silent = caseOfKind(FaultKind::NoLogOnAfterRestart);
    for (const SoakCase *c : {&dies, &silent}) {
        SoakCase calm = *c;
        for (ModulePlan &m : calm.modules)
            m.extraSeconds = 0.0;
        EXPECT_GE(runBoundSeconds(*c) - runBoundSeconds(calm), 20.0);
    }
}
