// The interface as the driver library sees it: drivers and handles, lines,
// frames between clients, peers and modules, events, bus status and clock.
#include "apitestsupport.h"

#include <atomic>
#include <thread>

namespace {

using namespace canapitest;
using canapi::sim::BusFrame;

class Api : public ::testing::Test
{
protected:
    void TearDown() override { canapi::sim::shutdown(); }
};

TEST_F(Api, UnknownDriverIsMissing)
{
    configure(simAdapter("usb0", 0));
    EXPECT_EQ(CanApi_LoadDriver("pcan_isa"), API_ERR_NODRIVER);
    EXPECT_EQ(CanApi_LoadDriver(""), API_ERR_NODRIVER);
    EXPECT_EQ(CanApi_LoadDriver(nullptr), API_ERR_NODRIVER);
    EXPECT_FALSE(present(16));
}

struct ListingCase
{
    const char *driver;
    std::vector<std::pair<int, std::string>> handles; // handle, adapter section
};

class DriverListing : public Api, public ::testing::WithParamInterface<ListingCase>
{};

TEST_P(DriverListing, PutsItsAdaptersAtTheTopHandlesInIndexOrder)
{
    configure(simAdapter("pci0", 0, "pcan_pci") + simAdapter("usbB", 5) + simAdapter("usbA", 2)
              + simAdapter("any", 7, "peakcan"));
    for (int hw = 1; hw <= 16; ++hw)
        EXPECT_FALSE(present(static_cast<uint8_t>(hw))) << "before loading, handle " << hw;
    ASSERT_EQ(CanApi_LoadDriver(GetParam().driver), API_OK);
    size_t count = 0;
    for (int hw = 16; hw >= 1; --hw)
        count += present(static_cast<uint8_t>(hw)) ? 1 : 0;
    EXPECT_EQ(count, GetParam().handles.size());
    for (const auto &[hw, section] : GetParam().handles) {
        EXPECT_TRUE(present(static_cast<uint8_t>(hw))) << hw;
        EXPECT_NE(hardwareName(static_cast<uint8_t>(hw)).find("(" + section + ")"), std::string::npos)
            << hw << ": " << hardwareName(static_cast<uint8_t>(hw));
    }
}

INSTANTIATE_TEST_SUITE_P(Drivers, DriverListing,
                         ::testing::Values(ListingCase{"pcan_usb", {{16, "usbA"}, {15, "usbB"}}},
                                           ListingCase{"pcan_pci", {{16, "pci0"}}},
                                           ListingCase{"peakcan",
                                                       {{16, "pci0"}, {15, "usbA"}, {14, "usbB"}, {13, "any"}}}));

TEST_F(Api, SecondDriverAddsItsAdaptersBelow)
{
    configure(simAdapter("usb0", 0) + simAdapter("pci0", 1, "pcan_pci"));
    ASSERT_EQ(CanApi_LoadDriver("pcan_usb"), API_OK);
    ASSERT_EQ(CanApi_LoadDriver("pcan_pci"), API_OK);
    ASSERT_EQ(CanApi_LoadDriver("pcan_usb"), API_OK); // loading again changes nothing
    EXPECT_NE(hardwareName(16).find("(usb0)"), std::string::npos);
    EXPECT_NE(hardwareName(15).find("(pci0)"), std::string::npos);
    EXPECT_FALSE(present(14));
}

// The driver library's clean-up pass (hardware part) as it runs before every
// line is opened: it must leave every plugged adapter in place, and the net
// part must expect line n on the handle the line search finds.
TEST_F(Api, CleanUpPassKeepsPluggedAdaptersAndFindsTheirNets)
{
    configure(simAdapter("usb0", 0) + simAdapter("usb1", 1) + simAdapter("usb2", 2));
    ASSERT_EQ(CanApi_LoadDriver("pcan_usb"), API_OK);
    for (int hw = 1; hw <= 16; ++hw) {
        char name[128];
        uint32_t nets = 0;
        uint32_t kind = 0;
        if (CanApi_ReadHwParam(static_cast<uint8_t>(hw), API_HWPARAM_NAME, name, sizeof name) != API_OK)
            continue;
        ASSERT_EQ(CanApi_ReadHwParam(static_cast<uint8_t>(hw), API_HWPARAM_NETS, &nets, 4), API_OK);
        ASSERT_EQ(CanApi_ReadHwParam(static_cast<uint8_t>(hw), API_HWPARAM_KIND, &kind, 4), API_OK);
        EXPECT_GT(kind, 9u) << "a clean-up pass would remove plugged adapter " << hw;
        EXPECT_TRUE(kind < 1 || kind > 3) << "the net pass would look for line n on handle n + 1";
    }
    for (int line = 0; line < 3; ++line)
        EXPECT_EQ(hardwareOfLine(line), 16 - line);
    EXPECT_EQ(hardwareOfLine(3), 0);
    // And a removal that does happen leaves the adapter usable.
    EXPECT_EQ(CanApi_RemoveHardware(16), API_OK);
    EXPECT_TRUE(present(16));
    Line line;
    openLine(line, 0);
}

TEST_F(Api, FlasherOrderFindsLineZeroOnTheFirstAdapter)
{
    configure(simAdapter("second", 3) + simAdapter("first", 1));
    ASSERT_EQ(CanApi_LoadDriver("pcan_usb"), API_OK);
    EXPECT_NE(hardwareName(hardwareOfLine(0)).find("(first)"), std::string::npos);
    EXPECT_NE(hardwareName(hardwareOfLine(1)).find("(second)"), std::string::npos);
}

// Its line stays its own: the run on it is refused, the next line's adapter
// is not handed out in its place.
TEST_F(Api, AdapterWhoseTraceCannotBeWrittenKeepsItsLineButDoesNotOpen)
{
    std::string error;
    EXPECT_FALSE(canapi::sim::configure(
        simAdapter("first", 0, "pcan_usb", "trace = /nonexistent-dir/t.log") + simAdapter("second", 1), &error));
    EXPECT_EQ(error, "bench:5: trace of [adapter.first]: /nonexistent-dir/t.log: cannot be written: "
                     "No such file or directory; adapter first cannot be opened");
    ASSERT_EQ(CanApi_LoadDriver("pcan_usb"), API_OK);
    EXPECT_EQ(CanApi_RegisterNet(1, "tarvnet0", hardwareOfLine(0), 0xC723), API_ERR_ILLHW);
    EXPECT_EQ(CanApi_RegisterNet(2, "tarvnet1", hardwareOfLine(1), 0xC723), API_OK);
    EXPECT_NE(hardwareName(hardwareOfLine(1)).find("(second)"), std::string::npos);
}

TEST_F(Api, NetParametersAfterRegistration)
{
    configure(simAdapter("usb0", 0));
    ASSERT_EQ(CanApi_LoadDriver("pcan_usb"), API_OK);
    EXPECT_EQ(CanApi_RegisterNet(1, "tarvnet0", 16, 0xC724), API_ERR_ILLPARAM) << "word without a whole bit rate";
    EXPECT_EQ(CanApi_RegisterNet(1, "tarvnet0", 9, 0xC723), API_ERR_ILLHW);
    ASSERT_EQ(CanApi_RegisterNet(1, "tarvnet0", 16, 0xC723), API_OK);
    uint8_t hw = 0;
    EXPECT_EQ(CanApi_ReadNetParam(1, API_NETPARAM_HW, &hw, 1), API_OK);
    EXPECT_EQ(hw, 16);
    EXPECT_EQ(CanApi_ReadNetParam(2, API_NETPARAM_HW, &hw, 1), API_ERR_ILLNET);
    uint32_t nets = 0;
    EXPECT_EQ(CanApi_ReadHwParam(16, API_HWPARAM_NETS, &nets, 4), API_OK);
    EXPECT_EQ(nets, 1u);
    EXPECT_EQ(CanApi_RemoveNet(1), API_OK);
    EXPECT_EQ(CanApi_ReadNetParam(1, API_NETPARAM_HW, &hw, 1), API_ERR_ILLNET);
}

TEST_F(Api, AddressWordOnLineOneGoesOutWithItsElevenBits)
{
    configure(simAdapter("usb0", 0) + simAdapter("usb1", 1));
    ASSERT_EQ(CanApi_LoadDriver("pcan_usb"), API_OK);
    Seen onBus;
    auto peer = canapi::sim::attachPeer(1, onBus.callback());
    ASSERT_TRUE(peer);
    Line line1;
    openLine(line1, 1);
    EXPECT_EQ(line1.send(frame(0x1205, {0xD8, 0x03, 0x11})), API_OK);
    const auto seen = onBus.waitFor(1);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].id, 0x205u);
    EXPECT_FALSE(seen[0].extended);
    EXPECT_EQ(seen[0].len, 3);
    EXPECT_EQ(seen[0].data[0], 0xD8);
}

TEST_F(Api, TwoClientsSeeEachOthersFramesButNotTheirOwn)
{
    configure(simAdapter("usb0", 0));
    ASSERT_EQ(CanApi_LoadDriver("pcan_usb"), API_OK);
    Line a, b;
    openLine(a, 0, 0x0014, "a");
    openLine(b, 0, 0x0014, "b");
    ASSERT_EQ(a.net, b.net);
    ASSERT_EQ(a.send(frame(0x101, {1})), API_OK);
    ASSERT_EQ(b.send(frame(0x102, {2})), API_OK);
    const auto atB = b.receive(1);
    const auto atA = a.receive(1);
    ASSERT_EQ(atB.size(), 1u);
    ASSERT_EQ(atA.size(), 1u);
    EXPECT_EQ(atB[0].id, 0x101u);
    EXPECT_EQ(atA[0].id, 0x102u);
    // Nothing more: a client never gets its own frame back.
    EXPECT_TRUE(a.receive(1, 200ms).empty());
    EXPECT_TRUE(b.receive(1, 200ms).empty());
}

TEST_F(Api, FramesOfOneBusStayOnIt)
{
    configure(simAdapter("usb0", 0) + simAdapter("usb1", 1));
    ASSERT_EQ(CanApi_LoadDriver("pcan_usb"), API_OK);
    Line line0, line1;
    openLine(line0, 0);
    openLine(line1, 1);
    Seen onBus1;
    auto peer1 = canapi::sim::attachPeer(1, onBus1.callback());
    ASSERT_EQ(line0.send(frame(0x100, {0})), API_OK);
    ASSERT_EQ(line1.send(frame(0x111, {1})), API_OK);
    // The frame of bus 1 passed bus 1's peer; the earlier one of bus 0 did not.
    const auto seen = onBus1.waitFor(1);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].id, 0x111u);
    EXPECT_TRUE(line1.receive(1, 200ms).empty());
}

TEST_F(Api, PeerFramesArriveInOrderWithResultsThatSayWhetherMoreWait)
{
    configure(simAdapter("usb0", 0));
    ASSERT_EQ(CanApi_LoadDriver("pcan_usb"), API_OK);
    Line line;
    openLine(line, 0, 0x0014);
    Line witness;
    openLine(witness, 0, 0x0014, "witness");
    auto peer = canapi::sim::attachPeer(0, nullptr);
    for (uint8_t i = 0; i < 20; ++i)
        peer->send(busFrame(0x300, {i}));
    ASSERT_EQ(witness.receive(20).size(), 20u);
    // All 20 are queued for the line now; it reads them without waiting.
    for (uint8_t i = 0; i < 20; ++i) {
        ApiFrame f{};
        uint8_t net = line.net;
        const ApiResult r = CanApi_ReadFrame(line.client, &f, &net, nullptr);
        EXPECT_EQ(r, i < 19 ? API_OK : API_MORE_QUEUED) << int(i);
        EXPECT_EQ(f.data[0], i);
        EXPECT_EQ(net, line.net);
    }
    ApiFrame f{};
    uint8_t net = line.net;
    EXPECT_EQ(CanApi_ReadFrame(line.client, &f, &net, nullptr), API_ERR_QRCVEMPTY);
}

TEST_F(Api, EventIsSignalledForFramesAndNotAfterItWasCleared)
{
    configure(simAdapter("usb0", 0));
    ASSERT_EQ(CanApi_LoadDriver("pcan_usb"), API_OK);
    Line line, witness;
    openLine(line, 0, 0x0014);
    openLine(witness, 0, 0x0014, "witness");
    auto peer = canapi::sim::attachPeer(0, nullptr);

    peer->send(busFrame(0x100, {1}));
    EXPECT_TRUE(waitReadable(line.event, kWait));
    drainEvent(line.event);

    ASSERT_EQ(CanApi_WriteClientParam(line.client, API_CLIENTPARAM_EVENT, 0), API_OK);
    ASSERT_EQ(witness.receive(1).size(), 1u);
    peer->send(busFrame(0x100, {2}));
    // The witness got it, and signalling happens in the same step for all.
    ASSERT_EQ(witness.receive(1).size(), 1u);
    EXPECT_FALSE(waitReadable(line.event, 0ms));
}

TEST_F(Api, RemovedClientsEventIsNeverWrittenAgain)
{
    configure(simAdapter("usb0", 0));
    ASSERT_EQ(CanApi_LoadDriver("pcan_usb"), API_OK);
    Line line, witness;
    openLine(line, 0, 0x0014);
    openLine(witness, 0, 0x0014, "witness");
    ASSERT_EQ(CanApi_RemoveClient(line.client), API_OK);
    auto peer = canapi::sim::attachPeer(0, nullptr);
    peer->send(busFrame(0x100, {1}));
    ASSERT_EQ(witness.receive(1).size(), 1u);
    EXPECT_FALSE(waitReadable(line.event, 0ms));
}

TEST_F(Api, DescriptorThatIsNoEventIsRefusedAndLeftAlone)
{
    configure(simAdapter("usb0", 0));
    ASSERT_EQ(CanApi_LoadDriver("pcan_usb"), API_OK);
    Line line, witness;
    openLine(line, 0, 0x0014);
    openLine(witness, 0, 0x0014, "witness");
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    EXPECT_EQ(CanApi_WriteClientParam(line.client, API_CLIENTPARAM_EVENT, static_cast<uint32_t>(fds[1])),
              API_ERR_ILLPARAM);
    EXPECT_EQ(CanApi_WriteClientParam(line.client, API_CLIENTPARAM_EVENT, 4000), API_ERR_ILLPARAM);
    auto peer = canapi::sim::attachPeer(0, nullptr);
    peer->send(busFrame(0x100, {1}));
    ASSERT_EQ(witness.receive(1).size(), 1u);
    EXPECT_FALSE(waitReadable(fds[0], 0ms));
    close(fds[0]);
    close(fds[1]);
}

TEST_F(Api, BusOffUntilTheHardwareIsReset)
{
    configure(simAdapter("usb0", 0, "pcan_usb", "bus_status = 0x0004"));
    ASSERT_EQ(CanApi_LoadDriver("pcan_usb"), API_OK);
    EXPECT_EQ(CanApi_ReadBusStatus(16), 0x0004u);
    canapi::sim::setBusStatus(0, 0);
    EXPECT_EQ(CanApi_ReadBusStatus(16), 0u);
    EXPECT_EQ(CanApi_ReadBusStatus(3), API_ERR_ILLHW);

    Line line;
    openLine(line, 0, 0x0014);
    auto peer = canapi::sim::attachPeer(0, nullptr);
    peer->send(busFrame(0x0FF, {0}));
    ASSERT_TRUE(waitReadable(line.event, kWait));
    drainEvent(line.event);
    canapi::sim::setBusOff(0, true);
    EXPECT_EQ(CanApi_ReadBusStatus(16), API_ERR_BUSOFF);
    peer->send(busFrame(0x100, {1}));
    // The reader is woken; the frame received before the bus went off is
    // read first, then the controller is found off the bus.
    ASSERT_TRUE(waitReadable(line.event, kWait));
    ApiFrame f{};
    uint8_t net = line.net;
    EXPECT_EQ(CanApi_ReadFrame(line.client, &f, &net, nullptr), API_OK);
    EXPECT_EQ(f.id, 0x0FFu);
    EXPECT_EQ(CanApi_ReadFrame(line.client, &f, &net, nullptr), API_ERR_BUSOFF);
    EXPECT_EQ(line.send(frame(0x100, {})), API_ERR_BUSOFF);

    ASSERT_EQ(CanApi_ResetHardware(16), API_OK);
    EXPECT_EQ(CanApi_ReadBusStatus(16), 0u);
    EXPECT_EQ(CanApi_ReadFrame(line.client, &f, &net, nullptr), API_ERR_QRCVEMPTY);
    peer->send(busFrame(0x101, {2}));
    const auto got = line.receive(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].id, 0x101u);
}

TEST_F(Api, BusGoesOffOnceAfterItsFrameCount)
{
    configure(simAdapter("usb0", 0, "pcan_usb", "bus_off_after_frames = 3"));
    ASSERT_EQ(CanApi_LoadDriver("pcan_usb"), API_OK);
    Line line;
    openLine(line, 0, 0x0014);
    Seen seen;
    auto witness = canapi::sim::attachPeer(0, seen.callback());
    auto peer = canapi::sim::attachPeer(0, nullptr);
    peer->send(busFrame(0x100, {1}));
    peer->send(busFrame(0x101, {2}));
    ASSERT_EQ(line.receive(2).size(), 2u);
    EXPECT_EQ(CanApi_ReadBusStatus(16), 0u);
    EXPECT_EQ(line.send(frame(0x102, {3})), API_OK) << "the third frame still goes out";
    // The interface has counted a frame before any peer sees it.
    ASSERT_EQ(seen.waitFor(3).size(), 3u);
    EXPECT_EQ(CanApi_ReadBusStatus(16), API_ERR_BUSOFF);
    EXPECT_EQ(line.send(frame(0x103, {})), API_ERR_BUSOFF);

    ASSERT_EQ(CanApi_ResetHardware(16), API_OK);
    for (uint8_t i = 0; i < 4; ++i)
        peer->send(busFrame(0x110 + i, {i}));
    EXPECT_EQ(line.receive(4).size(), 4u) << "after the reset the bus stays on";
    EXPECT_EQ(CanApi_ReadBusStatus(16), 0u);
}

// The last frames before a line closes (the closing sequence) still reach the bus.
TEST_F(Api, StoppingTheBusSendsTheFramesItAccepted)
{
    configure(simAdapter("usb0", 0));
    ASSERT_EQ(CanApi_LoadDriver("pcan_usb"), API_OK);
    Line line;
    openLine(line, 0, 0x0014);
    Seen seen;
    auto witness = canapi::sim::attachPeer(0, seen.callback());
    constexpr size_t kFrames = 32; // about 3 ms of bus time
    for (size_t i = 0; i < kFrames; ++i)
        ASSERT_EQ(line.send(frame(0x200 + static_cast<uint32_t>(i), {1, 2, 3, 4, 5, 6, 7, 8})), API_OK);
    canapi::sim::shutdown();
    const auto frames = seen.waitFor(kFrames, std::chrono::milliseconds(100));
    ASSERT_EQ(frames.size(), kFrames);
    EXPECT_EQ(frames.back().id, 0x200u + kFrames - 1);
}

TEST_F(Api, BrokenBusStaysOffThroughResets)
{
    configure(simAdapter("usb0", 0, "pcan_usb", "bus_off_after_frames = 1\nbus_off_for_good = true"));
    ASSERT_EQ(CanApi_LoadDriver("pcan_usb"), API_OK);
    Line line;
    openLine(line, 0, 0x0014);
    auto peer = canapi::sim::attachPeer(0, nullptr);
    peer->send(busFrame(0x100, {1}));
    ASSERT_TRUE(waitReadable(line.event, kWait));
    EXPECT_EQ(CanApi_ReadBusStatus(16), API_ERR_BUSOFF);
    EXPECT_EQ(CanApi_ResetHardware(16), API_OK);
    EXPECT_EQ(CanApi_ReadBusStatus(16), API_ERR_BUSOFF);
    EXPECT_EQ(line.send(frame(0x101, {})), API_ERR_BUSOFF);
}

TEST_F(Api, DroppedRegistrationsAreGoneForTheLibrary)
{
    configure(simAdapter("usb0", 0));
    ASSERT_EQ(CanApi_LoadDriver("pcan_usb"), API_OK);
    Line line, witness;
    openLine(line, 0, 0x0014);
    openLine(witness, 0, 0x0014, "witness");
    canapi::sim::dropClient(line.client);
    char name[64];
    EXPECT_EQ(CanApi_ReadClientParam(line.client, API_CLIENTPARAM_NAME, name, sizeof name), API_ERR_ILLCLIENT);
    ApiFrame f{};
    uint8_t net = line.net;
    EXPECT_NE(CanApi_ReadFrame(line.client, &f, &net, nullptr) & API_ERR_RXMASK, 0u);
    auto peer = canapi::sim::attachPeer(0, nullptr);
    peer->send(busFrame(0x100, {1}));
    ASSERT_EQ(witness.receive(1).size(), 1u);
    EXPECT_FALSE(waitReadable(line.event, 0ms));

    canapi::sim::dropNet(witness.net);
    EXPECT_EQ(CanApi_ReadNetParam(witness.net, API_NETPARAM_NAME, name, sizeof name), API_ERR_ILLNET);
    uint8_t table[32];
    ASSERT_EQ(CanApi_ReadClientParam(witness.client, API_CLIENTPARAM_NETS, table, sizeof table), API_OK);
    EXPECT_EQ(table[witness.net - 1], 0);
}

TEST_F(Api, ClockCorrectionIsAddedToTheClock)
{
    configure(simAdapter("usb0", 0));
    int32_t correction = 7;
    ASSERT_EQ(CanApi_ReadDriverParam(API_DRVPARAM_CLOCKCORR, &correction, 4), API_OK);
    EXPECT_EQ(correction, 0);
    ApiTimeStamp before{};
    ASSERT_EQ(CanApi_ReadClock(&before), API_OK);
    ASSERT_EQ(CanApi_WriteDriverParam(API_DRVPARAM_CLOCKCORR, 100000), API_OK);
    ApiTimeStamp after{};
    ASSERT_EQ(CanApi_ReadClock(&after), API_OK);
    const auto ms = [](const ApiTimeStamp &t) { return (int64_t{t.millisOverflow} << 32) + t.millis; };
    EXPECT_GE(ms(after) - ms(before), 100000);
    EXPECT_LT(ms(after) - ms(before), 100000 + 5000);
    ASSERT_EQ(CanApi_WriteDriverParam(API_DRVPARAM_CLOCKCORR, static_cast<uint32_t>(-51)), API_OK);
    ASSERT_EQ(CanApi_ReadDriverParam(API_DRVPARAM_CLOCKCORR, &correction, 4), API_OK);
    EXPECT_EQ(correction, -51);
    EXPECT_EQ(CanApi_ReadDriverParam(API_DRVPARAM_CLOCKCORR, &correction, 2), API_ERR_ILLPARAM);
    EXPECT_EQ(CanApi_ReadDriverParam(94, &correction, 4), API_ERR_ILLPARAM);
    EXPECT_EQ(CanApi_ReadClock(nullptr), API_ERR_ILLPARAM);
}

TEST_F(Api, ClockRunsFastByTheDriftRate)
{
    configure(simAdapter("usb0", 0));
    canapi::sim::setClockDriftPpm(200000.0); // 20 % fast
    // One reading of the interface clock between two of the real one, the
    // narrowest of a few: a thread that loses the CPU inside a pair only
    // widens the bounds below, it cannot move the reading out of them.
    struct Reading
    {
        int64_t before, interface, after; // us
    };
    const auto realUs = [] {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    };
    const auto read = [&] {
        Reading best{0, 0, INT64_MAX / 2};
        for (int i = 0; i < 20; ++i) {
            Reading r{realUs(), 0, 0};
            ApiTimeStamp t{};
            CanApi_ReadClock(&t);
            r.after = realUs();
            r.interface = static_cast<int64_t>(((uint64_t{t.millisOverflow} << 32) + t.millis) * 1000 + t.micros);
            if (r.after - r.before < best.after - best.before)
                best = r;
        }
        return best;
    };
    const Reading start = read();
    std::this_thread::sleep_for(100ms); // lets time pass; the check is the rate
    const Reading end = read();
    const int64_t interfaceUs = end.interface - start.interface;
    // 1.2 times the real time between the two readings, which lies between
    // the inner and the outer ends of the pairs; 3 us for the truncations.
    EXPECT_GE(interfaceUs, (end.before - start.after) * 12 / 10 - 3);
    EXPECT_LE(interfaceUs, (end.after - start.before) * 12 / 10 + 3);
}

TEST_F(Api, FrameWithATimeGoesOutAtThatTime)
{
    configure(simAdapter("usb0", 0));
    ASSERT_EQ(CanApi_LoadDriver("pcan_usb"), API_OK);
    Line line;
    openLine(line, 0, 0x0014);
    Seen onBus;
    auto peer = canapi::sim::attachPeer(0, onBus.callback());
    ApiTimeStamp when{};
    ASSERT_EQ(CanApi_ReadClock(&when), API_OK);
    when.millis += 150;
    const ApiTimeStamp asked = when;
    const auto sent = std::chrono::steady_clock::now();
    const ApiFrame f = frame(0x7FF, {0xD8, 0x01});
    ASSERT_EQ(CanApi_SendFrame(line.client, line.net, &f, &when), API_OK);
    EXPECT_EQ(when.millis, asked.millis);
    EXPECT_EQ(when.micros, asked.micros);
    ASSERT_EQ(onBus.waitFor(1).size(), 1u);
    EXPECT_GE(std::chrono::steady_clock::now() - sent, 149ms);
}

TEST_F(Api, ZeroTimeStampSendsAtOnceAndReturnsTheSendTime)
{
    configure(simAdapter("usb0", 0));
    ASSERT_EQ(CanApi_LoadDriver("pcan_usb"), API_OK);
    Line line;
    openLine(line, 0, 0x0014);
    ApiTimeStamp before{}, ts{};
    ASSERT_EQ(CanApi_ReadClock(&before), API_OK);
    const ApiFrame f = frame(0x100, {1});
    ASSERT_EQ(CanApi_SendFrame(line.client, line.net, &f, &ts), API_OK);
    EXPECT_FALSE(ts.millis == 0 && ts.micros == 0);
    EXPECT_GE(ts.millis, before.millis);
    EXPECT_LT(ts.millis - before.millis, 1000u);
}

TEST_F(Api, ModuleOnTheBusAnswersALogOnRequest)
{
    configure(simAdapter("usb0", 0) + "[module.m]\nadapter = 0\naddress = 1\nlogon_delay_ms = 0\n");
    ASSERT_EQ(CanApi_LoadDriver("pcan_usb"), API_OK);
    Line line;
    openLine(line, 0);
    ASSERT_EQ(line.send(frame(0x7FF, {0xD8, 0x01})), API_OK);
    const auto got = line.receive(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].id & 0x7F8u, 0x208u); // from the module with address 1
    EXPECT_EQ(got[0].data[0], 0xD8);
}

TEST_F(Api, ConfigurationErrorLeavesNoAdapters)
{
    configure(simAdapter("usb0", 0));
    std::string error;
    EXPECT_FALSE(
        canapi::sim::configure("[adapter.a]\nindex = 0\ndriver = pcan_usb\nbackend = simulated\n", &error));
    EXPECT_EQ(error.rfind("bench:4: backend must be", 0), 0u) << error;
    EXPECT_EQ(CanApi_LoadDriver("pcan_usb"), API_OK);
    EXPECT_FALSE(present(16));
}

TEST_F(Api, ConfigureForgetsEarlierRegistrations)
{
    configure(simAdapter("usb0", 0));
    ASSERT_EQ(CanApi_LoadDriver("pcan_usb"), API_OK);
    Line line;
    openLine(line, 0);
    configure(simAdapter("usb0", 0));
    EXPECT_FALSE(present(16)) << "no driver is loaded in a new bench";
    char name[32];
    EXPECT_EQ(CanApi_ReadClientParam(line.client, API_CLIENTPARAM_NAME, name, sizeof name), API_ERR_ILLCLIENT);
    EXPECT_EQ(CanApi_ReadNetParam(line.net, API_NETPARAM_NAME, name, sizeof name), API_ERR_ILLNET);
}

TEST_F(Api, PeerOnAnUnknownAdapterIsNone)
{
    configure(simAdapter("usb0", 0));
    EXPECT_FALSE(canapi::sim::attachPeer(3, nullptr));
    EXPECT_EQ(canapi::sim::busStats(3).frames, 0u);
}

} // namespace

namespace {

using namespace canapitest;

// The driver library's reader: wait for the event, read; on 0 read again at
// once, on anything else wait again. No frame may be left behind.
TEST(ApiReader, ReaderThatWaitsUnlessToldMoreAreQueuedGetsEveryFrame)
{
    configure(simAdapter("usb0", 0));
    ASSERT_EQ(CanApi_LoadDriver("pcan_usb"), API_OK);
    Line line;
    openLine(line, 0, 0x0014);
    constexpr int kFrames = 2000;
    std::atomic<int> got{0};
    std::atomic<bool> stop{false};
    std::vector<uint16_t> order;
    std::thread reader([&] {
        while (!stop.load()) {
            if (!waitReadable(line.event, 100ms))
                continue;
            drainEvent(line.event);
            for (;;) {
                ApiFrame f{};
                uint8_t net = line.net;
                const ApiResult r = CanApi_ReadFrame(line.client, &f, &net, nullptr);
                if ((r & API_ERR_RXMASK) != 0)
                    break;
                order.push_back(static_cast<uint16_t>(f.data[0] | (f.data[1] << 8)));
                got.fetch_add(1);
                if (r != API_OK)
                    break;
            }
        }
    });
    auto peer = canapi::sim::attachPeer(0, nullptr);
    for (int i = 0; i < kFrames; ++i) {
        BusFrame f = busFrame(0x321, {static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8)});
        peer->send(f);
        if (i % 100 == 0)
            std::this_thread::yield(); // lets the bus catch up now and then, so the reader sees both full and
                                       // empty queues
    }
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (got.load() < kFrames && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms); // polls the count; the check is below
    stop.store(true);
    reader.join();
    ASSERT_EQ(got.load(), kFrames);
    for (int i = 0; i < kFrames; ++i)
        ASSERT_EQ(order[static_cast<size_t>(i)], i);
    canapi::sim::shutdown();
}

TEST(ApiReader, ConcurrentSendersKeepTheirOwnOrder)
{
    configure(simAdapter("usb0", 0));
    ASSERT_EQ(CanApi_LoadDriver("pcan_usb"), API_OK);
    Line a, b, receiver;
    openLine(a, 0, 0x0014, "a");
    openLine(b, 0, 0x0014, "b");
    openLine(receiver, 0, 0x0014, "receiver");
    constexpr int kEach = 300;
    auto sendAll = [](Line &line, uint32_t id) {
        for (int i = 0; i < kEach; ++i)
            EXPECT_EQ(line.send(frame(id, {static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8)})), API_OK);
    };
    std::thread ta(sendAll, std::ref(a), 0x100u);
    std::thread tb(sendAll, std::ref(b), 0x200u);
    ta.join();
    tb.join();
    const auto got = receiver.receive(2 * kEach, 20s);
    ASSERT_EQ(got.size(), 2u * kEach);
    int nextA = 0, nextB = 0;
    for (const ApiFrame &f : got) {
        const int seq = f.data[0] | (f.data[1] << 8);
        EXPECT_EQ(seq, f.id == 0x100 ? nextA++ : nextB++) << std::hex << f.id;
    }
    EXPECT_EQ(nextA, kEach);
    EXPECT_EQ(nextB, kEach);
    // Each sender saw the other's frames and none of its own.
    EXPECT_EQ(a.receive(kEach, 5s).size(), static_cast<size_t>(kEach));
    EXPECT_TRUE(a.receive(1, 100ms).empty());
    canapi::sim::shutdown();
}

} // namespace
