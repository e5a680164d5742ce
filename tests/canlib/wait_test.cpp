// Callers that wait for frames take the reader's part while they wait; these
// cases check that no frame is lost or reordered at any hand-over between
// them and the reader, and that no waiter is left behind.
#include "simbench.h"

#include <future>
#include <thread>

using namespace canlibtest;

namespace {

class Wait : public SimBench
{};

// The peer's frames carry a running number in two bytes.
void sendNumbered(PeerLog &peer, int count, std::chrono::microseconds pause)
{
    for (int i = 0; i < count; ++i) {
        peer.send(0x140, {static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)});
        if (pause.count() > 0)
            std::this_thread::sleep_for(pause);
    }
}

int numberOf(const Received &frame)
{
    return frame.frame[1] << 8 | frame.frame[2];
}

// Takes whatever is queued by polling only, as a caller without WaitForFrame does.
bool pollFor(uint16_t line, Received &out, std::chrono::milliseconds timeout)
{
    const auto giveUp = std::chrono::steady_clock::now() + timeout;
    while (!ReadfBuff(line, &out.id, out.frame, out.text)) {
        if (std::chrono::steady_clock::now() > giveUp)
            return false;
        std::this_thread::sleep_for(200us);
    }
    return true;
}

struct StreamCase
{
    const char *name;
    int frames;
    std::chrono::microseconds pause; // between the peer's frames
    int pollEvery;                   // every n-th frame is taken by polling, 0 = never
};

class WaitStream : public Wait, public ::testing::WithParamInterface<StreamCase>
{};

TEST_P(WaitStream, EveryFrameArrivesOnceAndInOrder)
{
    const StreamCase &c = GetParam();
    ASSERT_TRUE(openLine(0));
    PeerLog peer(0);
    auto sender = std::async(std::launch::async, [&] { sendNumbered(peer, c.frames, c.pause); });
    for (int i = 0; i < c.frames; ++i) {
        Received frame;
        // Polling now and then lets the waiter leave and the reader take over.
        const bool polled = c.pollEvery > 0 && i % c.pollEvery == 0;
        ASSERT_TRUE(polled ? pollFor(0, frame, kPatience) : receive(0, frame)) << "frame " << i;
        ASSERT_EQ(numberOf(frame), i);
        if (polled)
            std::this_thread::sleep_for(60ms); // beyond the reader's hand-back
    }
    sender.get();
    Received extra;
    EXPECT_FALSE(receive(0, extra, 100ms)) << "frame " << numberOf(extra) << " came twice";
}

INSTANTIATE_TEST_SUITE_P(Streams, WaitStream,
                         ::testing::Values(StreamCase{"backToBack", 3000, 0us, 0},
                                           StreamCase{"paced", 400, 300us, 0},
                                           StreamCase{"waitingAndPolling", 300, 500us, 40}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(Wait, TwoWaitersBothSeeTheFrame)
{
    ASSERT_TRUE(openLine(0));
    PeerLog peer(0);
    auto wait = [] { return WaitForFrame(0, 20000) != 0; };
    auto first = std::async(std::launch::async, wait);
    auto second = std::async(std::launch::async, wait);
    std::this_thread::sleep_for(30ms);
    peer.send(0x150, {1});
    ASSERT_EQ(first.wait_for(kPatience), std::future_status::ready);
    ASSERT_EQ(second.wait_for(kPatience), std::future_status::ready);
    EXPECT_TRUE(first.get());
    EXPECT_TRUE(second.get());
}

TEST_F(Wait, AWaiterOutlastingTheFirstStillGetsTheFrame)
{
    ASSERT_TRUE(openLine(0));
    PeerLog peer(0);
    // The short one waits on the event first and gives up; the long one,
    // waiting behind it, must then watch the event itself.
    auto shortWait = std::async(std::launch::async, [] { return WaitForFrame(0, 50) != 0; });
    std::this_thread::sleep_for(10ms);
    auto longWait = std::async(std::launch::async, [] { return WaitForFrame(0, 20000) != 0; });
    EXPECT_FALSE(shortWait.get());
    peer.send(0x151, {2});
    ASSERT_EQ(longWait.wait_for(kPatience), std::future_status::ready);
    EXPECT_TRUE(longWait.get());
    Received frame;
    ASSERT_TRUE(pollFor(0, frame, kPatience));
    EXPECT_EQ(frame.id, 0x151);
}

TEST_F(Wait, PollingAloneGetsFramesAgainAfterAWaiterLeaves)
{
    ASSERT_TRUE(openLine(0));
    PeerLog peer(0);
    EXPECT_EQ(WaitForFrame(0, 30), 0);
    // Nobody waits any more: the reader has to take the event back.
    peer.send(0x152, {3});
    Received frame;
    ASSERT_TRUE(pollFor(0, frame, kPatience));
    EXPECT_EQ(frame.id, 0x152);
}

} // namespace
