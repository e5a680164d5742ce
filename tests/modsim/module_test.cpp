#include "modulebench.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using namespace modsim;
using namespace modsim::test;

namespace {

using Bytes = std::vector<uint8_t>;

const std::vector<std::string> kFile = {
    "S00600004844521B", "S1061000010203E3", "S10510030405DE", "S2060100000102F5", "S9031000EC",
};

Image fileImage()
{
    Image image;
    image.write(0x1000, {1, 2, 3, 4, 5});
    image.write(0x010000, {1, 2});
    return image;
}

// ---- log-on ---------------------------------------------------------------

TEST(LogOn, AnswersRequestWithinTheDelayFromIdPlusOffset)
{
    for (int offset : {4, 5}) {
        ModuleConfig c = quickConfig();
        c.sendOffset = offset;
        c.address = 2;
        ModuleBench b(c);
        b.send(0x7FF, {0xD8, 0x01});
        b.runFor(20'000);
        const auto frames = b.take();
        ASSERT_EQ(frames.size(), 1u) << "offset " << offset;
        EXPECT_EQ(frames[0].frame.id, 0x210 + offset);
        ASSERT_EQ(frames[0].frame.len, 3);
        EXPECT_EQ(frames[0].frame.data[0], 0xD8);
        EXPECT_EQ(frames[0].frame.data[2], 0x11) << "device class";
        // Module id as the flasher computes it.
        EXPECT_EQ(frames[0].frame.id & 0xFFFA, 0x210);
    }
}

TEST(LogOn, SeededDelaysRepeatAndMixTheOrder)
{
    auto answerOrder = [](uint64_t seedBase) {
        std::vector<std::pair<int64_t, int>> times;
        for (int a = 0; a < 8; ++a) {
            ModuleConfig c = quickConfig();
            c.address = a;
            c.seed = seedBase + a;
            ModuleBench b(c);
            b.send(0x7FF, {0xD8, 0x01});
            b.runFor(30'000);
            const auto frames = b.take();
            EXPECT_EQ(frames.size(), 1u);
            times.push_back({frames.empty() ? -1 : frames[0].atUs, a});
        }
        std::sort(times.begin(), times.end());
        std::vector<int> order;
        for (auto &t : times)
            order.push_back(t.second);
        return order;
    };
    const auto first = answerOrder(100);
    EXPECT_EQ(first, answerOrder(100)) << "same seeds, same order";
    EXPECT_FALSE(std::is_sorted(first.begin(), first.end())) << "answers come in a mixed order";
}

TEST(LogOn, OwnLogOnAndFollowUpGetNoAnswer)
{
    ModuleBench b(quickConfig());
    b.toModule({0xD8, 0x01});
    b.toModule({0x12, 0xA0, 0x00, 0x01});
    b.runFor(1'000'000);
    EXPECT_TRUE(b.take().empty());
}

TEST(LogOn, LogOffCancelsAPendingAnswer)
{
    ModuleConfig c = quickConfig();
    c.logonDelayMs = 50;
    c.seed = 3;
    ModuleBench b(c);
    b.send(0x7FF, {0xD8, 0x01});
    ASSERT_NE(b.module.nextDeadlineUs(), INT64_MAX);
    b.toModule({0xD8, 0x00});
    b.runFor(1'000'000);
    EXPECT_TRUE(b.take().empty());
}

TEST(LogOn, ShortAndForeignFramesAreIgnored)
{
    ModuleBench b(quickConfig());
    b.send(0x7FF, {0xD8});             // too short
    b.send(0x7FE, {0xD8, 0x01});       // not the log-on identifier
    b.send(0x211, {0x12, 0x00});       // another module's request
    b.send(0x208 | 4, {0x12, 0x00});   // a module's own sending identifier
    b.request({0x12});                 // too short
    b.send(0x004, {0xF4, 0x15, 0xE6}); // opening: noted only
    b.send(0x004, {0xC8});
    b.runFor(1'000'000);
    EXPECT_TRUE(b.take().empty());
}

// ---- identity -------------------------------------------------------------

TEST(Identity, DeviceInformationAsTheFlasherDecodesIt)
{
    ModuleBench b(quickConfig());
    b.request({0x12, 0x00});
    const auto frames = b.take();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].frame.id, 0x20D);
    EXPECT_EQ(bytesOf(frames[0].frame), (Bytes{0xE0, 0x12, 0x34, 0x56, 0x02, 0x15, 0x01}));
    EXPECT_EQ(decodeSerial(frames[0].frame), 123456u);
    EXPECT_EQ(decodeReleaseText(frames[0].frame), "2.15");
}

struct IdentityCase
{
    uint32_t serial;
    const char *release;
    uint8_t channels;
};

std::ostream &operator<<(std::ostream &os, const IdentityCase &c)
{
    return os << c.serial << " " << c.release;
}

class IdentityValues : public testing::TestWithParam<IdentityCase>
{};

TEST_P(IdentityValues, RoundTripThroughTheDecoder)
{
    ModuleConfig c = quickConfig();
    c.serial = GetParam().serial;
    c.release = GetParam().release;
    c.channels = GetParam().channels;
    ModuleBench b(c);
    b.request({0x12, 0x00});
    b.request({0x12, 0x01});
    const auto frames = b.take();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(decodeSerial(frames[0].frame), c.serial);
    EXPECT_EQ(decodeReleaseText(frames[0].frame), c.release);
    EXPECT_EQ(frames[0].frame.data[6], c.channels);
    // Release frame: 12 01 then 00, major, minor in binary.
    const Frame &rel = frames[1].frame;
    ASSERT_EQ(rel.len, 5);
    EXPECT_EQ(rel.data[0], 0x12);
    EXPECT_EQ(rel.data[1], 0x01);
    EXPECT_EQ(rel.data[2], 0x00);
    EXPECT_EQ(rel.data[3], c.release[0] - '0');
    EXPECT_EQ(rel.data[4], std::stoi(std::string(c.release).substr(2)));
}

INSTANTIATE_TEST_SUITE_P(Values, IdentityValues,
                         testing::Values(IdentityCase{0, "0.00", 0}, IdentityCase{42, "4.20", 2},
                                         IdentityCase{999999, "9.99", 255}, IdentityCase{100001, "1.05", 4},
                                         IdentityCase{120034, "4.21", 1}));

TEST(Identity, UnvalidatedReleaseDoesNotThrow)
{
    for (const char *release : {"", "4", "x.yz", "4.2"}) {
        ModuleConfig c = quickConfig();
        c.release = release;
        ModuleBench b(c);
        b.request({0x12, 0x00});
        b.request({0x12, 0x01});
        EXPECT_EQ(b.take().size(), 2u) << '"' << release << '"';
    }
}

TEST(Identity, ReleaseFrameMatchesTheExample)
{
    ModuleBench b(quickConfig());
    b.request({0x12, 0x01});
    const auto frames = b.take();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(bytesOf(frames[0].frame), (Bytes{0x12, 0x01, 0x00, 0x02, 0x0F}));
}

TEST(Identity, NameFrameCarriesTheNameBytes)
{
    for (const std::string name : {"", "K", "K3B7", "ABCDEF"}) {
        ModuleConfig c = quickConfig();
        c.name = name;
        ModuleBench b(c);
        b.request({0x12, 0x03});
        const auto frames = b.take();
        ASSERT_EQ(frames.size(), 1u);
        const Frame &f = frames[0].frame;
        ASSERT_EQ(f.len, 2 + name.size());
        EXPECT_EQ(f.data[0], 0x12);
        EXPECT_EQ(f.data[1], 0x03);
        EXPECT_EQ(std::string(f.data.begin() + 2, f.data.begin() + f.len), name);
    }
}

TEST(Identity, AnswersAreDelayedBySlowAnswersInOrder)
{
    ModuleConfig c = quickConfig();
    c.answerDelayUs = 3000;
    ModuleBench b(c);
    const int64_t sentAt = b.now;
    b.request({0x12, 0x00});
    b.request({0x12, 0x03});
    EXPECT_TRUE(b.take().empty()) << "nothing at once";
    EXPECT_EQ(b.module.nextDeadlineUs(), sentAt + 3000);
    b.runFor(3000);
    const auto frames = b.take();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].frame.data[0], 0xE0);
    EXPECT_EQ(frames[1].frame.data[1], 0x03);
    EXPECT_EQ(frames[0].atUs, sentAt + 3000);
}

// ---- update commands ------------------------------------------------------

TEST(UpdateCommands, ReadyOnceAfterTheDelayOnEnteringUpdateMode)
{
    ModuleBench b(quickConfig());
    b.toModule({0x15, 0x00});
    b.runFor(49'000);
    EXPECT_TRUE(b.take().empty()) << "not before the ready delay";
    b.runFor(1'000);
    auto frames = b.take();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].frame.id, 0x20D);
    EXPECT_EQ(bytesOf(frames[0].frame), (Bytes{0x15, 0x81}));
    EXPECT_EQ(b.module.phase(), Module::Phase::Update);

    // Neither a repeated 0 nor 3 nor 5 answers with a status frame.
    b.toModule({0x15, 0x00});
    b.toModule({0x15, 0x03});
    b.runFor(200'000);
    b.toModule({0x15, 0x05});
    b.runFor(200'000);
    EXPECT_TRUE(b.take().empty());
    EXPECT_EQ(b.module.phase(), Module::Phase::Compare);
}

TEST(UpdateCommands, FlashAndCompareBeforeReadyAreIgnored)
{
    ModuleBench b(quickConfig());
    b.toModule({0x15, 0x03});
    EXPECT_EQ(b.module.phase(), Module::Phase::Idle);
    EXPECT_EQ(b.lineAnswer(kFile[1]), -1) << "no pass open, no line answer";
    b.toModule({0x15, 0x00});
    b.toModule({0x15, 0x05});
    EXPECT_EQ(b.module.phase(), Module::Phase::Preparing);
}

TEST(UpdateCommands, LogOffLeavesUpdateModeSoTheNextRunGetsReadyAgain)
{
    ModuleBench b(quickConfig());
    ASSERT_TRUE(b.enterUpdateMode());
    b.startPass(3);
    b.toModule({0xD8, 0x00});
    EXPECT_EQ(b.module.phase(), Module::Phase::Idle);
    EXPECT_TRUE(b.enterUpdateMode());
}

TEST(UpdateCommands, UnknownCommandChangesNothing)
{
    ModuleBench b(quickConfig());
    ASSERT_TRUE(b.enterUpdateMode());
    b.toModule({0x15, 0x42});
    b.runFor(1'000'000);
    EXPECT_TRUE(b.take().empty());
    EXPECT_EQ(b.module.phase(), Module::Phase::Update);
}

// ---- flash data -----------------------------------------------------------

TEST(FlashData, EveryFrameIsAcknowledgedAndTheLineAnswered)
{
    ModuleBench b(quickConfig());
    ASSERT_TRUE(b.enterUpdateMode());
    b.startPass(3);
    // 16 characters + CR LF = 18 bytes: three frames.
    EXPECT_EQ(b.sendLine("S00600004844521B"), 3);
    const auto frames = b.take();
    ASSERT_EQ(frames.size(), 4u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(bytesOf(frames[i].frame), (Bytes{0x15, 0x00}));
    EXPECT_EQ(bytesOf(frames[3].frame), (Bytes{0x15, 0x81})) << "the answer comes after the last acknowledgement";
    for (const Sent &s : frames)
        EXPECT_EQ(s.frame.id, 0x20D) << "never from id or id + 1";
}

TEST(FlashData, LineAnswerWaitsForTheErase)
{
    ModuleBench b(quickConfig());
    ASSERT_TRUE(b.enterUpdateMode());
    const int64_t erasedAt = b.now + 100'000;
    b.toModule({0x15, 0x03});
    b.sendLine(kFile[1]);
    auto frames = b.take();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(bytesOf(frames.back().frame), (Bytes{0x15, 0x00})) << "acknowledged, not yet answered";
    b.runFor(100'000);
    frames = b.take();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(bytesOf(frames[0].frame), (Bytes{0x15, 0x81}));
    EXPECT_GE(frames[0].atUs, erasedAt);
}

struct LineCase
{
    const char *name;
    std::string line;
    int flashAnswer;
};

std::ostream &operator<<(std::ostream &os, const LineCase &c)
{
    return os << c.name;
}

class FlashLine : public testing::TestWithParam<LineCase>
{};

TEST_P(FlashLine, IsCheckedAsAnSRecord)
{
    ModuleBench b(quickConfig());
    ASSERT_TRUE(b.enterUpdateMode());
    b.startPass(3);
    EXPECT_EQ(b.lineAnswer(GetParam().line), GetParam().flashAnswer);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, FlashLine,
    testing::Values(LineCase{"header", "S00600004844521B", 0x81}, LineCase{"s1", "S1061000010203E3", 0x81},
                    LineCase{"s2", "S2060100000102F5", 0x81}, LineCase{"s3", "S30800200000AABBCCA6", 0x81},
                    LineCase{"s5", "S5030003F9", 0x81}, LineCase{"s7", "S70500001000EA", 0x81},
                    LineCase{"s8", "S804001000EB", 0x81}, LineCase{"s9", "S9031000EC", 0x81},
                    LineCase{"lower_case_hex", "S1061000010203e3", 0x81}, LineCase{"blank", "", 0x81},
                    LineCase{"bad_checksum", "S1061000010203E4", 0x92},
                    LineCase{"bad_count", "S1071000010203E3", 0x92},
                    LineCase{"odd_digits", "S1061000010203E", 0x92},
                    LineCase{"reserved_type", "S406100001020300", 0x92}, LineCase{"text", "hello world", 0x92},
                    LineCase{"lower_case_s", "s1061000010203e3", 0x92},
                    LineCase{"too_long", "S1" + std::string(700, '0'), 0x92}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(FlashData, ImageHoldsTheDataAcrossRecordsAndGaps)
{
    ModuleBench b(quickConfig());
    ASSERT_TRUE(b.enterUpdateMode());
    b.startPass(3);
    for (const std::string &line : kFile)
        ASSERT_EQ(b.lineAnswer(line), 0x81) << line;
    EXPECT_EQ(b.module.image(), fileImage());
}

TEST(FlashData, BadLineIsNotWritten)
{
    ModuleBench b(quickConfig());
    ASSERT_TRUE(b.enterUpdateMode());
    b.startPass(3);
    EXPECT_EQ(b.lineAnswer("S1061000010203E4"), 0x92);
    EXPECT_TRUE(b.module.image().empty());
}

TEST(FlashData, EraseClearsAnEarlierImage)
{
    ModuleBench b(quickConfig());
    ASSERT_TRUE(b.enterUpdateMode());
    b.startPass(3);
    ASSERT_EQ(b.lineAnswer("S1061000010203E3"), 0x81);
    b.startPass(3);
    ASSERT_EQ(b.lineAnswer("S2060100000102F5"), 0x81);
    Image expected;
    expected.write(0x010000, {1, 2});
    EXPECT_EQ(b.module.image(), expected);
}

TEST(FlashData, LineSplitAnywhereAcrossFrames)
{
    // CR and LF in different frames, and a frame carrying the end of one line
    // and the start of the next.
    ModuleBench b(quickConfig());
    ASSERT_TRUE(b.enterUpdateMode());
    b.startPass(3);
    const std::string wire = "S1061000010203E3\r\nS10510030405DE\r\n";
    std::vector<int> answers;
    size_t off = 0;
    for (size_t chunk : {5u, 6u, 6u, 6u, 6u, 6u}) {
        Bytes frame{0x15, 0x00};
        for (size_t i = off; i < off + chunk && i < wire.size(); ++i)
            frame.push_back(static_cast<uint8_t>(wire[i]));
        if (frame.size() > 8)
            frame.resize(8);
        off += frame.size() - 2;
        b.request(frame);
        if (off >= wire.size())
            break;
    }
    ASSERT_EQ(off, wire.size());
    for (const Sent &s : b.take()) {
        if (s.frame.data[1] != 0x00)
            answers.push_back(s.frame.data[1]);
    }
    EXPECT_EQ(answers, (std::vector<int>{0x81, 0x81}));
    Image expected;
    expected.write(0x1000, {1, 2, 3, 4, 5});
    EXPECT_EQ(b.module.image(), expected);
}

TEST(FlashData, OnlyCrLfEndsALine)
{
    ModuleBench b(quickConfig());
    ASSERT_TRUE(b.enterUpdateMode());
    b.startPass(3);
    // A lone LF or CR is part of the line, which is then no valid record.
    EXPECT_EQ(b.lineAnswer("S1061000010203E3\nS10510030405DE"), 0x92);
    EXPECT_EQ(b.lineAnswer("S1061000010203E3\rS10510030405DE"), 0x92);
    EXPECT_TRUE(b.module.image().empty());
}

TEST(ComparePass, MatchingLinesAcceptedOtherData91)
{
    ModuleBench b(quickConfig());
    ASSERT_TRUE(b.enterUpdateMode());
    b.startPass(3);
    for (const std::string &line : kFile)
        ASSERT_EQ(b.lineAnswer(line), 0x81);
    b.startPass(5);
    for (const std::string &line : kFile)
        EXPECT_EQ(b.lineAnswer(line), 0x81) << line;
    EXPECT_EQ(b.lineAnswer("S1041001AA40"), 0x91) << "other data at a flashed address";
    EXPECT_EQ(b.lineAnswer("S1050200AABB93"), 0x91) << "an address never flashed";
    EXPECT_EQ(b.lineAnswer("S1061000010203E4"), 0x92) << "a corrupt line is still a checksum error";
    EXPECT_EQ(b.module.image(), fileImage()) << "comparing writes nothing";
}

// ---- restart --------------------------------------------------------------

TEST(Restart, WritesTheImageIsSilentThenLogsOnWithTheNewRelease)
{
    const auto dir = std::filesystem::temp_directory_path() / ("modsim-restart-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    ModuleConfig c = quickConfig();
    c.newRelease = "2.16";
    c.imagePath = (dir / "m.s3").string();
    ModuleBench b(c);
    ASSERT_TRUE(b.enterUpdateMode());
    b.startPass(3);
    for (const std::string &line : kFile)
        ASSERT_EQ(b.lineAnswer(line), 0x81);

    b.toModule({0x15, 0x06});
    Image written;
    std::string error;
    ASSERT_TRUE(loadSRecordFile(c.imagePath, &written, &error)) << error;
    EXPECT_EQ(written, fileImage()) << "written at the restart, not only at the end";

    b.request({0x12, 0x00});
    b.send(0x7FF, {0xD8, 0x01});
    b.runFor(499'000);
    EXPECT_TRUE(b.take().empty()) << "deaf and silent while restarting";
    b.runFor(1'000);
    auto frames = b.take();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].frame.id, 0x20D);
    EXPECT_EQ(frames[0].frame.data[0], 0xD8);
    EXPECT_EQ(b.module.phase(), Module::Phase::Idle);

    b.request({0x12, 0x00});
    frames = b.take();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(decodeReleaseText(frames[0].frame), "2.16");
    // A new run finds the module able to enter update mode again.
    EXPECT_TRUE(b.enterUpdateMode());
    std::filesystem::remove_all(dir);
}

TEST(Restart, WithoutNewReleaseKeepsTheRelease)
{
    ModuleBench b(quickConfig());
    b.toModule({0x15, 0x06});
    b.runFor(600'000);
    b.take();
    b.request({0x12, 0x01});
    const auto frames = b.take();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(bytesOf(frames[0].frame), (Bytes{0x12, 0x01, 0x00, 0x02, 0x0F}));
}

TEST(Restart, ModuleWhoseImageIsLostStaysSilentSoTheUpdateFails)
{
    ModuleConfig c = quickConfig();
    c.imagePath = "/nonexistent-dir/for/sure/m.s3";
    Module m(c);
    std::string error;
    EXPECT_FALSE(m.saveImage(&error));
    EXPECT_FALSE(error.empty());
    Frame f;
    f.id = c.id();
    f.len = 2;
    f.data = {0x15, 0x06};
    m.receive(f, 0);
    const auto events = m.takeEvents();
    EXPECT_TRUE(std::any_of(events.begin(), events.end(), [](const std::string &e) {
        return e.find("image not written") != std::string::npos;
    }));
    EXPECT_EQ(m.imageProblem(), error);
    m.advance(1'000'000);
    EXPECT_TRUE(m.takeOutgoing().empty()) << "logged on again without its image";
    EXPECT_EQ(m.phase(), Module::Phase::Dead);
}

TEST(Events, OneLinePerProtocolEventNamingTheModule)
{
    ModuleConfig c = quickConfig();
    Module m(c);
    Frame f;
    f.id = 0x7FF;
    f.len = 2;
    f.data = {0xD8, 0x01};
    m.receive(f, 0);
    const auto events = m.takeEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].rfind("module 208: ", 0), 0u) << events[0];
    EXPECT_TRUE(m.takeEvents().empty()) << "taken once";
}

TEST(Events, HostThatNeverTakesThemKeepsOnlyTheNewest)
{
    Module m(quickConfig());
    Frame request;
    request.id = 0x209;
    request.len = 2;
    request.data = {0x12, 0x01};
    for (int i = 0; i < 10000; ++i)
        m.receive(request, i);
    Frame name = request;
    name.data = {0x12, 0x03};
    m.receive(name, 10000);
    const auto events = m.takeEvents();
    EXPECT_LE(events.size(), 4096u);
    EXPECT_GE(events.size(), 1000u);
    ASSERT_FALSE(events.empty());
    EXPECT_NE(events.back().find("firmware name requested"), std::string::npos) << events.back();
}

} // namespace
