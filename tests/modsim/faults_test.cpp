#include "modulebench.h"

#include <gtest/gtest.h>

using namespace modsim;
using namespace modsim::test;

namespace {

using Bytes = std::vector<uint8_t>;

const std::vector<std::string> kLines = {
    "S00600004844521B", "S1061000010203E3", "S10510030405DE", "S2060100000102F5", "S9031000EC",
};

ModuleBench readyForFlash(ModuleConfig c)
{
    ModuleBench b(std::move(c));
    EXPECT_TRUE(b.enterUpdateMode());
    b.startPass(3);
    return b;
}

std::vector<int> answersFor(ModuleBench &b, const std::vector<std::string> &lines)
{
    std::vector<int> codes;
    for (const std::string &line : lines)
        codes.push_back(b.lineAnswer(line));
    return codes;
}

TEST(Faults, ChecksumErrorOnGivenLinesCountingRepeats)
{
    ModuleConfig c = quickConfig();
    c.checksumErrorLines = {2, 3};
    ModuleBench b = readyForFlash(c);
    // The flasher repeats line 2 of the file twice; its third copy is line 4.
    EXPECT_EQ(answersFor(b, {kLines[0], kLines[1], kLines[1], kLines[1], kLines[2]}),
              (std::vector<int>{0x81, 0x92, 0x92, 0x81, 0x81}));
    Image expected;
    expected.write(0x1000, {1, 2, 3, 4, 5});
    EXPECT_EQ(b.module.image(), expected);
    // The compare pass is not affected.
    b.startPass(5);
    EXPECT_EQ(answersFor(b, {kLines[0], kLines[1]}), (std::vector<int>{0x81, 0x81}));
}

TEST(Faults, ChecksumErrorCountRestartsWithEachFlashPass)
{
    ModuleConfig c = quickConfig();
    c.checksumErrorLines = {1};
    ModuleBench b = readyForFlash(c);
    EXPECT_EQ(b.lineAnswer(kLines[0]), 0x92);
    EXPECT_EQ(b.lineAnswer(kLines[0]), 0x81);
    b.startPass(3);
    EXPECT_EQ(b.lineAnswer(kLines[0]), 0x92);
}

TEST(Faults, ChecksumErrorProbabilityIsSeeded)
{
    auto pattern = [](uint64_t seed) {
        ModuleConfig c = quickConfig();
        c.checksumErrorProb = 0.5;
        c.seed = seed;
        ModuleBench b = readyForFlash(c);
        std::vector<int> codes;
        for (int i = 0; i < 40; ++i)
            codes.push_back(b.lineAnswer(kLines[1]));
        return codes;
    };
    const auto a = pattern(7);
    EXPECT_EQ(a, pattern(7));
    EXPECT_NE(a, pattern(8));
    const auto errors = std::count(a.begin(), a.end(), 0x92);
    EXPECT_GT(errors, 5);
    EXPECT_LT(errors, 35);
    EXPECT_EQ(errors + std::count(a.begin(), a.end(), 0x81), 40);
}

TEST(Faults, CompareMismatchOnceOnItsLine)
{
    ModuleConfig c = quickConfig();
    c.compareMismatchLine = 2;
    ModuleBench b = readyForFlash(c);
    EXPECT_EQ(answersFor(b, kLines), std::vector<int>(kLines.size(), 0x81)) << "flash pass untouched";
    b.startPass(5);
    EXPECT_EQ(answersFor(b, kLines), (std::vector<int>{0x81, 0x91, 0x81, 0x81, 0x81}));
    // The flasher restarts: flash and compare again, now without a mismatch.
    b.startPass(3);
    answersFor(b, kLines);
    b.startPass(5);
    EXPECT_EQ(answersFor(b, kLines), std::vector<int>(kLines.size(), 0x81));
}

TEST(Faults, LostAcknowledgementsByFrameNumber)
{
    ModuleConfig c = quickConfig();
    c.loseAckFrames = {2, 5};
    ModuleBench b = readyForFlash(c);
    // 18 bytes per line: three frames each; frames 1..3, then 4..6.
    EXPECT_EQ(b.sendLine(kLines[0]), 2);
    EXPECT_EQ(b.sendLine(kLines[1]), 2);
    EXPECT_EQ(b.sendLine(kLines[0]), 3);
}

TEST(Faults, LostAcknowledgementsByProbability)
{
    ModuleConfig c = quickConfig();
    c.loseAckProb = 1.0;
    ModuleBench b = readyForFlash(c);
    EXPECT_EQ(b.sendLine(kLines[0]), 0);
    EXPECT_EQ(b.module.image().size(), 0u);
    EXPECT_EQ(b.lineAnswer(kLines[1]), 0x81) << "only the acknowledgements go missing";
}

TEST(Faults, LostLineAnswersStillWriteTheData)
{
    ModuleConfig c = quickConfig();
    c.loseAnswerLines = {2};
    ModuleBench b = readyForFlash(c);
    EXPECT_EQ(answersFor(b, {kLines[0], kLines[1], kLines[1]}), (std::vector<int>{0x81, -1, 0x81}));
    EXPECT_EQ(b.module.image().size(), 3u);
}

TEST(Faults, LostLineAnswersByProbabilityInBothPasses)
{
    ModuleConfig c = quickConfig();
    c.loseAnswerProb = 1.0;
    ModuleBench b = readyForFlash(c);
    EXPECT_EQ(answersFor(b, kLines), std::vector<int>(kLines.size(), -1));
    b.startPass(5);
    EXPECT_EQ(answersFor(b, kLines), std::vector<int>(kLines.size(), -1));
}

TEST(Faults, ReceiveLossMissesFrames)
{
    ModuleConfig c = quickConfig();
    c.rxLossProb = 1.0;
    ModuleBench b(c);
    b.send(0x7FF, {0xD8, 0x01});
    b.request({0x12, 0x00});
    b.toModule({0x15, 0x00});
    b.runFor(1'000'000);
    EXPECT_TRUE(b.take().empty());
    EXPECT_EQ(b.module.phase(), Module::Phase::Idle);
}

TEST(Faults, TransmitLossIsSeededAndPartial)
{
    auto delivered = [](uint64_t seed) {
        ModuleConfig c = quickConfig();
        c.txLossProb = 0.5;
        c.seed = seed;
        ModuleBench b(c);
        std::vector<bool> got;
        for (int i = 0; i < 40; ++i) {
            b.request({0x12, 0x01});
            got.push_back(!b.take().empty());
        }
        return got;
    };
    const auto a = delivered(11);
    EXPECT_EQ(a, delivered(11));
    const auto n = std::count(a.begin(), a.end(), true);
    EXPECT_GT(n, 5);
    EXPECT_LT(n, 35);
}

TEST(Faults, NeverReady)
{
    ModuleConfig c = quickConfig();
    c.neverReady = true;
    ModuleBench b(c);
    EXPECT_FALSE(b.enterUpdateMode());
    b.runFor(10'000'000);
    EXPECT_TRUE(b.take().empty());
    b.request({0x12, 0x00});
    EXPECT_EQ(b.take().size(), 1u) << "still answers requests";
}

TEST(Faults, NoLogOnAfterRestart)
{
    ModuleConfig c = quickConfig();
    c.noLogonAfterRestart = true;
    ModuleBench b(c);
    b.toModule({0x15, 0x06});
    b.runFor(5'000'000);
    b.send(0x7FF, {0xD8, 0x01});
    b.request({0x12, 0x00});
    b.runFor(1'000'000);
    EXPECT_TRUE(b.take().empty());
}

TEST(Faults, DiesAtLine)
{
    ModuleConfig c = quickConfig();
    c.dieAtLine = 3;
    ModuleBench b = readyForFlash(c);
    EXPECT_EQ(answersFor(b, {kLines[0], kLines[1], kLines[2]}), (std::vector<int>{0x81, 0x81, -1}));
    EXPECT_EQ(b.module.phase(), Module::Phase::Dead);
    EXPECT_EQ(b.sendLine(kLines[2]), 0) << "no more acknowledgements";
    b.request({0x12, 0x00});
    b.send(0x7FF, {0xD8, 0x01});
    b.toModule({0x15, 0x06});
    b.runFor(5'000'000);
    EXPECT_TRUE(b.take().empty());
}

TEST(Faults, VersionErrorAnswersTheHeaderLine)
{
    for (int code : {0x97, 0x98}) {
        ModuleConfig c = quickConfig();
        c.versionError = code;
        ModuleBench b = readyForFlash(c);
        EXPECT_EQ(answersFor(b, {kLines[0], kLines[1]}), (std::vector<int>{code, 0x81}));
    }
}

TEST(Faults, ReupdateStateAnswersWith99AndHasNoName)
{
    ModuleConfig c = quickConfig();
    c.reupdate = true;
    c.newRelease = "2.16";
    ModuleBench b(c);
    b.send(0x7FF, {0xD8, 0x01});
    auto frames = b.take();
    ASSERT_EQ(frames.size(), 1u) << "at once, no log-on delay";
    EXPECT_EQ(bytesOf(frames[0].frame), (Bytes{0x15, 0x99}));
    EXPECT_EQ(frames[0].frame.id, 0x20D);

    b.request({0x12, 0x03});
    frames = b.take();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].frame.len, 2) << "empty firmware name";

    // Ready at once on command 0: no ready delay.
    b.toModule({0x15, 0x00});
    frames = b.take();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(bytesOf(frames[0].frame), (Bytes{0x15, 0x81}));
    b.toModule({0x15, 0x00});
    b.startPass(3);
    ASSERT_EQ(answersFor(b, kLines), std::vector<int>(kLines.size(), 0x81));
    b.toModule({0x15, 0x06});
    b.runFor(500'000);
    frames = b.take();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].frame.data[0], 0xD8) << "its firmware runs: an ordinary log-on";
    EXPECT_FALSE(b.module.inReupdateState());
    b.request({0x12, 0x03});
    frames = b.take();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(std::string(frames[0].frame.data.begin() + 2, frames[0].frame.data.begin() + frames[0].frame.len),
              "K3B7");
}

TEST(Faults, ReupdateRemainsWhenRestartedWithoutFirmware)
{
    ModuleConfig c = quickConfig();
    c.reupdate = true;
    ModuleBench b(c);
    b.toModule({0x15, 0x06});
    b.runFor(500'000);
    b.take();
    EXPECT_TRUE(b.module.inReupdateState());
    b.send(0x7FF, {0xD8, 0x01});
    const auto frames = b.take();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(bytesOf(frames[0].frame), (Bytes{0x15, 0x99}));
}

TEST(Faults, OneFaultDoesNotShiftTheDrawsOfAnother)
{
    auto logOnDelay = [](double txLoss) {
        ModuleConfig c = quickConfig();
        c.seed = 5;
        c.txLossProb = txLoss;
        ModuleBench b(c);
        const int64_t start = b.now;
        for (int i = 0; i < 3; ++i)
            b.request({0x12, 0x01});
        b.send(0x7FF, {0xD8, 0x01});
        return b.module.nextDeadlineUs() - start;
    };
    EXPECT_EQ(logOnDelay(0.0), logOnDelay(0.5));
}

} // namespace
