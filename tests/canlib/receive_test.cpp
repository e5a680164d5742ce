// Receiving: line bits, 29-bit frames, dropped requests, order, time stamps.
#include "simbench.h"
#include "timecheck.h"

#include "canapi.h"
#include "clockbase.h"
#include "clockmath.h"

#include <cstring>
#include <ctime>
#include <thread>

using namespace canlibtest;

namespace {

class Receive : public SimBench
{};

TEST_F(Receive, StandardFrameCarriesItsLine)
{
    configure(3);
    ASSERT_TRUE(openLine(2));
    PeerLog peer(2);
    peer.send(0x123, {0x10, 0x20, 0x30});
    Received frame;
    ASSERT_TRUE(receive(2, frame));
    EXPECT_EQ(frame.id, 0x2123);
    EXPECT_EQ(frame.frame[0], 3);
    EXPECT_EQ(frame.frame[3], 0x30);
    EXPECT_TRUE(isTimeText(frame.text)) << frame.text;
}

// A line's own client registers the standard range only; a further client's
// range takes 29-bit frames too. The reader wakes on the first client's event,
// so a 29-bit frame is taken with the next standard frame.
TEST_F(Receive, ExtendedFrameKeepsItsIdentifier)
{
    configure(2);
    ASSERT_TRUE(openLine(1, 1));
    char text[64] = "extended";
    ASSERT_EQ(InitCanClient(1, 0, text), 1) << text;
    PeerLog peer(1);
    peer.send(0x345, {1, 2, 3, 4, 5, 6, 7, 8}, true);
    peer.send(0x100, {9});
    Received frame;
    ASSERT_TRUE(receive(1, frame));
    EXPECT_EQ(frame.id, 0x345) << "a 29-bit identifier gets no line bits";
    EXPECT_EQ(frame.frame[0], 8);
    EXPECT_EQ(frame.frame[8], 8);
    ASSERT_TRUE(receive(1, frame));
    EXPECT_EQ(frame.id, 0x1100);
}

TEST_F(Receive, RemoteRequestsNeverReachTheQueue)
{
    ASSERT_TRUE(openLine(0));
    PeerLog peer(0);
    peer.send(0x301, {}, false, true);
    peer.send(0x302, {7});
    Received frame;
    ASSERT_TRUE(receive(0, frame));
    EXPECT_EQ(frame.id, 0x302);
    EXPECT_EQ(ReadfBuff(0, &frame.id, frame.frame, frame.text), 0);
}

TEST_F(Receive, BurstKeepsItsOrder)
{
    ASSERT_TRUE(openLine(0));
    PeerLog peer(0);
    constexpr int kFrames = 300;
    for (int i = 0; i < kFrames; ++i)
        peer.send(0x200 + (i % 64), {static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)});
    for (int i = 0; i < kFrames; ++i) {
        Received frame;
        ASSERT_TRUE(receive(0, frame)) << "frame " << i;
        ASSERT_EQ(frame.id, 0x200 + (i % 64)) << "frame " << i;
        ASSERT_EQ((frame.frame[1] << 8) | frame.frame[2], i);
    }
    uint16_t id = 0;
    uint8_t data[9];
    char text[13];
    EXPECT_EQ(ReadfBuff(0, &id, data, text), 0);
}

TEST_F(Receive, ClosedLine)
{
    uint16_t id = 0x5555;
    uint8_t data[9] = {0xEE};
    char text[13] = "unchanged";
    uint64_t fileTime = 7;
    EXPECT_EQ(ReadfBuff(3, &id, data, text), 0);
    EXPECT_STREQ(text, "unchanged");
    EXPECT_EQ(id, 0x5555);
    EXPECT_EQ(data[0], 0xEE);
    EXPECT_EQ(ReadfBuffFTime(3, &id, data, text, &fileTime), 0);
    EXPECT_STREQ(text, "00:00:00.000");
    EXPECT_EQ(fileTime, 7u);
}

TEST_F(Receive, EmptyQueueWritesNothing)
{
    ASSERT_TRUE(openLine(0));
    uint16_t id = 0x5555;
    uint8_t data[9] = {0xEE};
    char text[13] = "unchanged";
    uint64_t fileTime = 7;
    EXPECT_EQ(ReadfBuff(0, &id, data, text), 0);
    EXPECT_EQ(ReadfBuffFTime(0, &id, data, text, &fileTime), 0);
    EXPECT_STREQ(text, "unchanged");
    EXPECT_EQ(fileTime, 7u);
}

TEST_F(Receive, ReceptionTimeAsTextAndFileTime)
{
    ASSERT_TRUE(openLine(0));
    PeerLog peer(0);
    peer.send(0x111, {1});
    ASSERT_TRUE(WaitForFrame(0, static_cast<uint32_t>(kPatience.count())));
    uint16_t id = 0;
    uint8_t data[9] = {};
    char text[16];
    std::memset(text, '#', sizeof text);
    uint64_t fileTime = 0;
    ASSERT_EQ(ReadfBuffFTime(0, &id, data, text, &fileTime), 1);
    EXPECT_EQ(id, 0x111);
    ASSERT_TRUE(isTimeText(text)) << text;
    EXPECT_EQ(text[13], '#');
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const int64_t nowFileTime = tarvpcan3::fileTimeFromUnix(now.tv_sec, now.tv_nsec);
    const int64_t age = nowFileTime - static_cast<int64_t>(fileTime);
    EXPECT_GE(age, -50000000) << "reception time in the future";
    EXPECT_LT(age, 50000000) << "reception time more than 5 s old";
    // The text and the file time name the same instant (text in local time).
    const std::time_t seconds = static_cast<std::time_t>((static_cast<int64_t>(fileTime) / 10000000)
                                                         - tarvpcan3::kFileTimeUnixEpochSeconds);
    std::tm local{};
    localtime_r(&seconds, &local);
    const int64_t fileTimeOfDay = ((local.tm_hour * 60 + local.tm_min) * 60 + local.tm_sec) * 1000LL
                                  + (static_cast<int64_t>(fileTime) / 10000) % 1000;
    EXPECT_LE(timeOfDayDistanceMs(fileTimeOfDay, timeTextMs(text)), 1) << text;
}

// The time tests run in a zone away from UTC (set in the test's environment),
// or a time text written in UTC would pass them.
TEST(TimeZone, LocalTimeIsNotUtc)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    std::tm utc{};
    localtime_r(&now, &local);
    gmtime_r(&now, &utc);
    EXPECT_NE(local.tm_hour * 60 + local.tm_min, utc.tm_hour * 60 + utc.tm_min) << "TZ is unset or UTC";
}

struct StampCase
{
    const char *name;
    int32_t leftCorrectionMs; // in the clock correction before each opening
    bool openAnotherLine;     // line 1 opened while line 0 holds the frame
};

class FrameTime : public SimBench, public ::testing::WithParamInterface<StampCase>
{};

// A frame's text and file time lie between its sending and its arrival, give
// or take the clocks' granularity, whatever the openings did to the clock.
TEST_P(FrameTime, NamesTheMomentOfSending)
{
    const StampCase &c = GetParam();
    const auto correction = static_cast<uint32_t>(c.leftCorrectionMs);
    configure(2);
    ASSERT_EQ(CanApi_WriteDriverParam(API_DRVPARAM_CLOCKCORR, correction), API_OK);
    ASSERT_TRUE(openLine(0));
    PeerLog peer(0);
    const WallClock sent = wallClockNow();
    peer.send(0x111, {1});
    ASSERT_TRUE(WaitForFrame(0, static_cast<uint32_t>(kPatience.count())));
    const WallClock arrived = wallClockNow();
    if (c.openAnotherLine) {
        std::this_thread::sleep_for(20ms); // the new bases come clearly after the frame
        ASSERT_EQ(CanApi_WriteDriverParam(API_DRVPARAM_CLOCKCORR, correction), API_OK);
        ASSERT_TRUE(openLine(1));
    }
    uint16_t id = 0;
    uint8_t data[9] = {};
    char text[13] = {};
    uint64_t fileTime = 0;
    ASSERT_EQ(ReadfBuffFTime(0, &id, data, text, &fileTime), 1);
    constexpr int64_t kSlackMs = 20;
    const int64_t textMs = timeOfDayOffsetMs(timeTextMs(text), sent.timeOfDayMs);
    EXPECT_GE(textMs, -kSlackMs) << text;
    EXPECT_LE(textMs, timeOfDayOffsetMs(arrived.timeOfDayMs, sent.timeOfDayMs) + kSlackMs) << text;
    const int64_t fileMs = (static_cast<int64_t>(fileTime) - sent.fileTime) / 10000;
    EXPECT_GE(fileMs, -kSlackMs);
    EXPECT_LE(fileMs, (arrived.fileTime - sent.fileTime) / 10000 + kSlackMs);
}

INSTANTIATE_TEST_SUITE_P(Receive, FrameTime,
                         ::testing::Values(StampCase{"correctionLeftOver", 300, false},
                                           StampCase{"negativeCorrectionLeftOver", -300, false},
                                           StampCase{"frameOlderThanTheBases", 0, true},
                                           StampCase{"both", 300, true}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(Receive, BusOffResetsTheHardware)
{
    ASSERT_TRUE(openLine(0));
    PeerLog peer(0);
    canapi::sim::setBusOff(0, true);
    peer.send(0x121, {1});
    // The reader answers bus off with a hardware reset, after which frames flow.
    Received frame;
    bool received = false;
    for (int attempt = 0; attempt < 50 && !received; ++attempt) {
        peer.send(0x122, {static_cast<uint8_t>(attempt)});
        received = receive(0, frame, 100ms);
    }
    EXPECT_TRUE(received) << "the line stays bus off";
}

} // namespace
