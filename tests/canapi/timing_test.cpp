// Bit timing of the simulated bus: frames take the bus one after the other,
// each for its length in bits at the net's rate, on absolute deadlines.
#include "apitestsupport.h"
#include "bustiming.h"

namespace {

using namespace canapitest;

struct TimingCase
{
    uint16_t busTiming;
    uint32_t bitRate;
    int frames;
    int spinUs = 0; // the bus thread's spin margin; the slots must not change
};

class BusTiming : public ::testing::TestWithParam<TimingCase>
{
protected:
    void TearDown() override { canapi::sim::shutdown(); }
};

uint64_t micros(const ApiTimeStamp &t)
{
    return ((uint64_t{t.millisOverflow} << 32) + t.millis) * 1000 + t.micros;
}

TEST_P(BusTiming, FramesTakeTheirComputedSlotsInSendOrder)
{
    const TimingCase &c = GetParam();
    configure(simAdapter("usb0", 0, "pcan_usb", "spin_us = " + std::to_string(c.spinUs)));
    ASSERT_EQ(CanApi_LoadDriver("pcan_usb"), API_OK);
    Line sender, receiver;
    openLine(sender, 0, c.busTiming, "sender");
    openLine(receiver, 0, c.busTiming, "receiver");

    // Different contents, so different stuffing and slot lengths.
    std::vector<ApiFrame> frames;
    std::vector<int64_t> slotNs;
    uint64_t bits = 0;
    for (int i = 0; i < c.frames; ++i) {
        const auto b = static_cast<uint8_t>(i);
        frames.push_back(
            frame(0x300 + (i % 64), {b, static_cast<uint8_t>(b * 7), 0xA5, static_cast<uint8_t>(~b), 0, 0xFF}));
        const int n = canapi::frameBits(frames.back());
        bits += static_cast<uint64_t>(n);
        slotNs.push_back(int64_t{n} * 1000000000 / c.bitRate);
    }

    // All of them handed over for one moment, so that the bus runs them back
    // to back from there, whatever the scheduling of this process. A process
    // that lost the CPU for longer than the lead handed the last ones over
    // late; the case then goes again with a longer lead.
    ApiTimeStamp start{};
    std::vector<ApiTimeStamp> stamps;
    std::vector<ApiFrame> got;
    for (uint32_t leadMs = 100;; leadMs *= 4) {
        canapi::sim::resetBusStats(0);
        ASSERT_EQ(CanApi_ReadClock(&start), API_OK);
        start.millis += leadMs;
        for (const ApiFrame &f : frames) {
            ApiTimeStamp at = start;
            ASSERT_EQ(CanApi_SendFrame(sender.client, sender.net, &f, &at), API_OK);
        }
        ApiTimeStamp handedOver{};
        ASSERT_EQ(CanApi_ReadClock(&handedOver), API_OK);
        stamps.clear();
        got = receiver.receive(frames.size(), 10s + std::chrono::milliseconds(leadMs), &stamps);
        ASSERT_EQ(got.size(), frames.size());
        if (micros(handedOver) < micros(start) || leadMs >= 6400)
            break;
    }

    int64_t expectedEnd = static_cast<int64_t>(micros(start)) * 1000;
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].data[0], frames[i].data[0]) << "order at " << i;
        expectedEnd += slotNs[i];
        // Slot ends on the bus's own time line, to the microsecond.
        EXPECT_NEAR(static_cast<double>(micros(stamps[i])), static_cast<double>(expectedEnd / 1000), 2.0) << i;
    }

    const canapi::sim::BusStats stats = canapi::sim::busStats(0);
    EXPECT_EQ(stats.frames, frames.size());
    EXPECT_EQ(stats.bits, bits);
    EXPECT_EQ(stats.busyNs, bits * 1000000000 / c.bitRate);
    EXPECT_GE(stats.sumLatenessNs, stats.maxLatenessNs);
}

INSTANTIATE_TEST_SUITE_P(Rates, BusTiming,
                         ::testing::Values(TimingCase{0xC723, 125000, 40}, TimingCase{0x0323, 250000, 80},
                                           TimingCase{0x0014, 1000000, 300}, TimingCase{0x0014, 1000000, 300, 60},
                                           TimingCase{0xC723, 125000, 40, 1000}),
                         [](const auto &info) {
                             return std::to_string(info.param.bitRate / 1000) + "k"
                                    + (info.param.spinUs ? "_spin" + std::to_string(info.param.spinUs) : "");
                         });

TEST(BusTimingWall, BusTakesAtLeastItsBusyTime)
{
    configure(simAdapter("usb0", 0));
    ASSERT_EQ(CanApi_LoadDriver("pcan_usb"), API_OK);
    Line sender, receiver;
    openLine(sender, 0, 0xC723, "sender");
    openLine(receiver, 0, 0xC723, "receiver");
    canapi::sim::resetBusStats(0);
    const ApiFrame f = frame(0x555, {0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}); // 112 bits
    const auto begin = std::chrono::steady_clock::now();
    for (int i = 0; i < 50; ++i)
        ASSERT_EQ(sender.send(f), API_OK);
    ASSERT_EQ(receiver.receive(50, 10s).size(), 50u);
    const auto elapsed = std::chrono::steady_clock::now() - begin;
    // 50 x 112 bits x 8 us
    EXPECT_GE(elapsed, std::chrono::microseconds(50 * 112 * 8));
    EXPECT_LT(elapsed, std::chrono::microseconds(50 * 112 * 8) + 3s);
    EXPECT_EQ(canapi::sim::busStats(0).bits, 50u * 112u);
    canapi::sim::shutdown();
}

TEST(BusTimingWall, ModuleAnswersTakeTheBusLikeAnyFrame)
{
    configure(simAdapter("usb0", 0) + "[module.a]\nadapter = 0\naddress = 1\nlogon_delay_ms = 0\n"
              + "[module.b]\nadapter = 0\naddress = 2\nlogon_delay_ms = 0\n");
    ASSERT_EQ(CanApi_LoadDriver("pcan_usb"), API_OK);
    Line line;
    openLine(line, 0, 0xC723);
    canapi::sim::resetBusStats(0);
    ASSERT_EQ(line.send(frame(0x7FF, {0xD8, 0x01})), API_OK);
    std::vector<ApiTimeStamp> stamps;
    const auto got = line.receive(2, kWait, &stamps);
    ASSERT_EQ(got.size(), 2u);
    // Both answered at once; the second had to wait for the first's slot.
    const ApiFrame answer = got[1];
    const int64_t slotUs = canapi::frameBits(answer) * 8;
    EXPECT_NEAR(static_cast<double>(micros(stamps[1]) - micros(stamps[0])), static_cast<double>(slotUs), 2.0);
    EXPECT_EQ(canapi::sim::busStats(0).frames, 3u);
    canapi::sim::shutdown();
}

} // namespace
