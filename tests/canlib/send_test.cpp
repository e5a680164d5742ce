// Sending: length cap, line choice, frame types and send times.
#include "simbench.h"
#include "timecheck.h"

#include <cstring>

using namespace canlibtest;

namespace {

class Send : public SimBench
{};

constexpr int64_t kClockTolerance = 5000;

TEST_F(Send, CapsTheLengthAtEightAndReportsTheSendTime)
{
    ASSERT_TRUE(openLine(0));
    PeerLog peer(0);
    const uint8_t frame[9] = {12, 1, 2, 3, 4, 5, 6, 7, 8};
    char text[16];
    std::memset(text, '#', sizeof text);
    Write2Can(0x0205, frame, text);
    ASSERT_TRUE(peer.waitForCount(1));
    const auto seen = peer.frames().front();
    EXPECT_EQ(seen.id, 0x205u);
    EXPECT_FALSE(seen.extended);
    EXPECT_FALSE(seen.remote);
    EXPECT_EQ(seen.len, 8);
    EXPECT_EQ(std::memcmp(seen.data, frame + 1, 8), 0);
    ASSERT_TRUE(isTimeText(text)) << text;
    EXPECT_LT(timeOfDayDistanceMs(timeTextMs(text), localTimeOfDayMs()), kClockTolerance) << text;
    for (std::size_t i = 13; i < sizeof text; ++i)
        EXPECT_EQ(text[i], '#') << i;
}

TEST_F(Send, AddressWordChoosesTheLine)
{
    configure(2);
    ASSERT_TRUE(openLine(0));
    ASSERT_TRUE(openLine(1));
    PeerLog first(0);
    PeerLog second(1);
    const uint8_t frame[9] = {1, 0x42};
    char text[16];
    Write2Can(0x1205, frame, text);
    EXPECT_TRUE(isTimeText(text)) << text;
    Write2Can(0x0206, frame, text);
    ASSERT_TRUE(second.waitForCount(1));
    ASSERT_TRUE(first.waitForCount(1));
    EXPECT_EQ(second.frames().front().id, 0x205u);
    EXPECT_EQ(first.frames().front().id, 0x206u) << "the frame for line 1 went out on line 0";
    EXPECT_EQ(first.count(), 1u);
}

TEST_F(Send, ClosedLineOrNoDataOnlyWritesTheClosedTime)
{
    configure(2);
    ASSERT_TRUE(openLine(0));
    PeerLog first(0);
    PeerLog second(1);
    const uint8_t frame[9] = {1, 0x42};
    char text[16] = "unchanged";
    Write2Can(0x1205, frame, text);
    EXPECT_STREQ(text, "00:00:00.000");
    std::strcpy(text, "unchanged");
    Write2CanRtr(0x1205, text);
    EXPECT_STREQ(text, "00:00:00.000");
    std::strcpy(text, "unchanged");
    LogOnOff(0x1205, 1, text);
    EXPECT_STREQ(text, "00:00:00.000");
    std::strcpy(text, "unchanged");
    Write2Can(0x0206, nullptr, text);
    EXPECT_STREQ(text, "00:00:00.000") << "no data on an open line";
    Write2Can(0x0207, frame, text);
    ASSERT_TRUE(first.waitForCount(1));
    EXPECT_EQ(first.frames().front().id, 0x207u);
    EXPECT_EQ(second.count(), 0u);
}

TEST_F(Send, NoOpenLineFindsNoLine)
{
    PeerLog peer(0);
    const uint8_t frame[9] = {1, 0x42};
    char text[16] = "unchanged";
    Write2Can(0x0205, frame, text);
    EXPECT_STREQ(text, "00:00:00.000");
    ASSERT_TRUE(openLine(0));
    Write2Can(0x0208, frame, text);
    ASSERT_TRUE(peer.waitForCount(1));
    EXPECT_EQ(peer.frames().front().id, 0x208u);
}

TEST_F(Send, ExtendedLowestLineTakesEveryFrame)
{
    configure(2);
    ASSERT_TRUE(openLine(0, 1));
    ASSERT_TRUE(openLine(1));
    PeerLog first(0);
    PeerLog second(1);
    const uint8_t frame[9] = {1, 0x42};
    char text[16];
    Write2Can(0x1234, frame, text);
    Write2Can(0x0234, frame, text);
    ASSERT_TRUE(first.waitForCount(2));
    const auto seen = first.frames();
    EXPECT_TRUE(seen[0].extended);
    EXPECT_EQ(seen[0].id, 0x1234u);
    EXPECT_FALSE(seen[1].extended);
    EXPECT_EQ(seen[1].id, 0x234u);
    EXPECT_EQ(second.count(), 0u);
}

TEST_F(Send, RemoteRequests)
{
    ASSERT_TRUE(openLine(0, 1));
    PeerLog peer(0);
    char text[16];
    std::memset(text, '#', sizeof text);
    Write2CanRtr(0x0123, text);
    Write2CanRtr(0x0523, text);
    ASSERT_TRUE(peer.waitForCount(2));
    const auto seen = peer.frames();
    EXPECT_TRUE(seen[0].remote);
    EXPECT_TRUE(seen[0].extended) << "the line's send type is kept for a request";
    EXPECT_EQ(seen[0].id, 0x123u);
    EXPECT_EQ(seen[0].len, 0);
    EXPECT_TRUE(seen[1].remote);
    EXPECT_FALSE(seen[1].extended) << "bit 10 asks for a standard request";
    EXPECT_EQ(seen[1].id, 0x523u);
    EXPECT_TRUE(isTimeText(text)) << text;
    EXPECT_EQ(text[13], '#');
}

TEST_F(Send, LogOnAndLogOffFrames)
{
    ASSERT_TRUE(openLine(0));
    PeerLog peer(0);
    char text[16] = "00:00:00.000";
    LogOnOff(0x07FF, 1, text);
    std::strcpy(text, "00:00:00.000");
    LogOnOff(0x0F21, 0, text);
    ASSERT_TRUE(peer.waitForCount(2));
    const auto seen = peer.frames();
    EXPECT_EQ(seen[0].id, 0x7FFu);
    EXPECT_EQ(seen[0].len, 2);
    EXPECT_EQ(seen[0].data[0], 0xD8);
    EXPECT_EQ(seen[0].data[1], 1);
    EXPECT_EQ(seen[1].id, 0x721u);
    EXPECT_EQ(seen[1].data[1], 0);
}

TEST_F(Send, LogOnOffReportsTheDelayedSendTime)
{
    ASSERT_TRUE(openLine(0));
    PeerLog peer(0);
    const uint8_t frame[9] = {0};
    char before[16];
    Write2Can(0x0100, frame, before);
    char text[20];
    std::memset(text, '#', sizeof text);
    std::memcpy(text, "00:00:01.500", 13);
    LogOnOff(0x0101, 1, text);
    ASSERT_TRUE(peer.waitForCount(2));
    const std::string reported(text);
    ASSERT_GE(reported.size(), 13u) << reported;
    ASSERT_LE(reported.size(), 15u) << reported;
    const std::string sendTime = reported.substr(0, 12);
    ASSERT_TRUE(isTimeText(sendTime)) << reported;
    const std::string micros = reported.substr(12);
    EXPECT_TRUE(micros == "0" || micros[0] != '0') << "leading zeros: " << reported;
    EXPECT_LT(std::stoi(micros), 1000);
    const int64_t delay = timeOfDayDistanceMs(timeTextMs(sendTime), timeTextMs(before));
    EXPECT_GE(delay, 1490) << before << " -> " << reported;
    EXPECT_LE(delay, 1500 + kClockTolerance) << before << " -> " << reported;
    for (std::size_t i = TARVPCAN3_SEND_TEXT_SIZE; i < sizeof text; ++i)
        EXPECT_EQ(text[i], '#') << i;
}

} // namespace
