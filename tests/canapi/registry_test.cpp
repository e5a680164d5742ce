// The bookkeeping of the interface as the driver library relies on it.
#include "registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

namespace {

using canapi::Registry;

class FakeEvents : public canapi::EventSink
{
public:
    bool isEvent(uint32_t handle) const override { return events.count(handle) != 0; }
    void signal(uint32_t handle) override { signalled.push_back(handle); }

    std::set<uint32_t> events{7, 9};
    std::vector<uint32_t> signalled;
};

ApiFrame frame(uint32_t id, uint8_t type = 0, uint8_t first = 0)
{
    ApiFrame f{};
    f.id = id;
    f.type = type;
    f.length = 1;
    f.data[0] = first;
    return f;
}

class RegistryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        canapi::HardwareInfo usb;
        usb.kind = 11;
        usb.name = "PCAN-USB (usb0)";
        usb.slot = 0;
        reg.plugHardware(16, usb);
        canapi::HardwareInfo pci;
        pci.kind = 12;
        pci.name = "PCAN-PCI (pci0)";
        pci.slot = 1;
        reg.plugHardware(15, pci);
    }

    // A net on hw with a client connected to it that takes 0..0x7FF.
    uint8_t openClient(uint8_t net, const char *netName, uint8_t hw, const char *clientName = "tarvCanFLash")
    {
        if (reg.readNetParam(net, API_NETPARAM_HW, &scratch, 1) == API_ERR_ILLNET) {
            EXPECT_EQ(reg.registerNet(net, netName, hw, 0xC723, 125000), API_OK);
        }
        uint8_t client = 0;
        EXPECT_EQ(reg.registerClient(clientName, 0, &client), API_OK);
        uint8_t connected = 0;
        EXPECT_EQ(reg.connectClient(client, netName, &connected), API_OK);
        EXPECT_EQ(connected, net);
        const ApiRangeBound first{0, 1};
        const ApiRangeBound last{0x7FF, 1};
        EXPECT_EQ(reg.registerMsgRange(client, net, &first, &last), API_OK);
        return client;
    }

    uint64_t originOf(uint8_t client, uint8_t net)
    {
        uint8_t hw = 0;
        uint64_t origin = 0;
        const ApiFrame f = frame(0x100);
        EXPECT_EQ(reg.checkSend(client, net, &f, &hw, &origin), API_OK);
        return origin;
    }

    FakeEvents events;
    Registry reg{events};
    uint8_t scratch = 0;
};

TEST_F(RegistryTest, HardwareParametersOfPluggedAdapters)
{
    uint32_t value = 0;
    EXPECT_EQ(reg.readHwParam(16, API_HWPARAM_PRESENT, &value, 4), API_OK);
    EXPECT_EQ(reg.readHwParam(16, API_HWPARAM_KIND, &value, 4), API_OK);
    EXPECT_EQ(value, 11u);
    char name[8];
    EXPECT_EQ(reg.readHwParam(16, API_HWPARAM_NAME, name, sizeof name), API_OK);
    EXPECT_STREQ(name, "PCAN-US"); // cut to the buffer, terminated
    EXPECT_EQ(reg.readHwParam(16, API_HWPARAM_NETS, &value, 4), API_OK);
    EXPECT_EQ(value, 0u);
    reg.registerNet(1, "tarvnet0", 16, 0xC723, 125000);
    EXPECT_EQ(reg.readHwParam(16, API_HWPARAM_NETS, &value, 4), API_OK);
    EXPECT_EQ(value, 1u);
}

TEST_F(RegistryTest, AbsentHardwareAndBadReads)
{
    uint32_t value = 0;
    for (uint8_t hw : {0, 1, 14, 17, 255})
        EXPECT_EQ(reg.readHwParam(hw, API_HWPARAM_PRESENT, &value, 4), API_ERR_ILLHW) << int(hw);
    EXPECT_EQ(reg.readHwParam(16, 99, &value, 4), API_ERR_ILLPARAM);
    EXPECT_EQ(reg.readHwParam(16, API_HWPARAM_KIND, &value, 2), API_ERR_ILLPARAM);
    EXPECT_EQ(reg.readHwParam(16, API_HWPARAM_KIND, nullptr, 4), API_ERR_ILLPARAM);
}

TEST_F(RegistryTest, RemovingAPluggedAdapterKeepsIt)
{
    EXPECT_EQ(reg.removeHardware(16), API_OK);
    uint32_t value = 0;
    EXPECT_EQ(reg.readHwParam(16, API_HWPARAM_PRESENT, &value, 4), API_OK);
    EXPECT_EQ(reg.removeHardware(3), API_ERR_ILLHW);
}

TEST_F(RegistryTest, NetRegistrationAndItsParameters)
{
    uint8_t hw = 0;
    EXPECT_EQ(reg.readNetParam(1, API_NETPARAM_HW, &hw, 1), API_ERR_ILLNET);
    ASSERT_EQ(reg.registerNet(1, "tarvnet0", 16, 0xC723, 125000), API_OK);
    EXPECT_EQ(reg.readNetParam(1, API_NETPARAM_HW, &hw, 1), API_OK);
    EXPECT_EQ(hw, 16);
    char name[32];
    EXPECT_EQ(reg.readNetParam(1, API_NETPARAM_NAME, name, sizeof name), API_OK);
    EXPECT_STREQ(name, "tarvnet0");
    EXPECT_EQ(reg.bitRateOf(16), 125000u);
    EXPECT_EQ(reg.readNetParam(2, API_NETPARAM_HW, &hw, 1), API_ERR_ILLNET);
}

struct NetCase
{
    const char *what;
    uint8_t net;
    const char *name;
    uint8_t hw;
    uint32_t rate;
    ApiResult result;
};

class NetRefusal : public RegistryTest, public ::testing::WithParamInterface<NetCase>
{};

TEST_P(NetRefusal, IsRefusedWithTheRightCode)
{
    ASSERT_EQ(reg.registerNet(1, "tarvnet0", 16, 0xC723, 125000), API_OK);
    const NetCase &c = GetParam();
    EXPECT_EQ(reg.registerNet(c.net, c.name, c.hw, 0, c.rate), c.result) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Cases, NetRefusal,
                         ::testing::Values(NetCase{"handle in use", 1, "other", 16, 125000, API_ERR_ILLNET},
                                           NetCase{"handle 0", 0, "other", 16, 125000, API_ERR_ILLNET},
                                           NetCase{"handle 33", 33, "other", 16, 125000, API_ERR_ILLNET},
                                           NetCase{"name in use", 2, "tarvnet0", 15, 125000, API_ERR_ILLPARAM},
                                           NetCase{"no name", 2, nullptr, 15, 125000, API_ERR_ILLPARAM},
                                           NetCase{"empty name", 2, "", 15, 125000, API_ERR_ILLPARAM},
                                           NetCase{"absent hardware", 2, "other", 3, 125000, API_ERR_ILLHW},
                                           NetCase{"second rate on one controller", 2, "other", 16, 250000,
                                                   API_ERR_ILLPARAM},
                                           NetCase{"no rate", 2, "other", 15, 0, API_ERR_ILLPARAM}));

TEST_F(RegistryTest, SecondNetAtTheSameRateShareTheController)
{
    ASSERT_EQ(reg.registerNet(1, "tarvnet0", 16, 0xC723, 125000), API_OK);
    EXPECT_EQ(reg.registerNet(2, "other", 16, 0xC723, 125000), API_OK);
}

TEST_F(RegistryTest, ClientHandlesAreTheLowestFreeOnes)
{
    uint8_t c = 0;
    for (int expected = 1; expected <= canapi::kMaxClients; ++expected) {
        ASSERT_EQ(reg.registerClient("x", 0, &c), API_OK);
        EXPECT_EQ(c, expected);
    }
    EXPECT_EQ(reg.registerClient("x", 0, &c), API_ERR_RESOURCE);
    EXPECT_EQ(reg.removeClient(5), API_OK);
    ASSERT_EQ(reg.registerClient("again", 0, &c), API_OK);
    EXPECT_EQ(c, 5);
    char name[40];
    EXPECT_EQ(reg.readClientParam(5, API_CLIENTPARAM_NAME, name, sizeof name), API_OK);
    EXPECT_STREQ(name, "again");
}

TEST_F(RegistryTest, ConnectionTableHasAOneForEachConnectedNet)
{
    reg.registerNet(3, "tarvnet0", 16, 0xC723, 125000);
    reg.registerNet(32, "tarvnet1", 15, 0x0323, 250000);
    uint8_t c = 0;
    reg.registerClient("tarvCanFLash", 0, &c);
    uint8_t net = 0;
    EXPECT_EQ(reg.connectClient(c, "nonet", &net), API_ERR_ILLNET);
    EXPECT_EQ(reg.connectClient(c, "tarvnet0", &net), API_OK);
    EXPECT_EQ(net, 3);
    EXPECT_EQ(reg.connectClient(c, "tarvnet1", &net), API_OK);
    EXPECT_EQ(net, 32);

    uint8_t table[40];
    std::memset(table, 0xAA, sizeof table);
    ASSERT_EQ(reg.readClientParam(c, API_CLIENTPARAM_NETS, table, sizeof table), API_OK);
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(table[i], (i == 2 || i == 31) ? 1 : 0) << "byte " << i;

    EXPECT_EQ(reg.detachClient(c, 3), API_OK);
    EXPECT_EQ(reg.detachClient(c, 3), API_ERR_ILLNET); // only a connected pair detaches
    ASSERT_EQ(reg.readClientParam(c, API_CLIENTPARAM_NETS, table, 32), API_OK);
    EXPECT_EQ(table[2], 0);
    EXPECT_EQ(table[31], 1);
}

TEST_F(RegistryTest, RemovingANetDetachesItsClients)
{
    const uint8_t c = openClient(1, "tarvnet0", 16);
    ASSERT_EQ(reg.removeNet(1), API_OK);
    uint8_t table[32];
    ASSERT_EQ(reg.readClientParam(c, API_CLIENTPARAM_NETS, table, 32), API_OK);
    EXPECT_EQ(table[0], 0);
    uint8_t hw = 0;
    EXPECT_EQ(reg.readNetParam(1, API_NETPARAM_HW, &hw, 1), API_ERR_ILLNET);
    EXPECT_EQ(reg.removeNet(1), API_ERR_ILLNET);
}

TEST_F(RegistryTest, FrameReachesEveryOtherClientOfTheBusButNotItsSender)
{
    const uint8_t a = openClient(1, "tarvnet0", 16, "a");
    const uint8_t b = openClient(1, "tarvnet0", 16, "b");
    const uint8_t other = openClient(2, "tarvnet1", 15, "other bus");
    reg.deliver(16, frame(0x123), originOf(a, 1), {});

    ApiFrame got{};
    uint8_t net = 0;
    EXPECT_EQ(reg.readFrame(b, &got, &net, nullptr), API_MORE_QUEUED);
    EXPECT_EQ(got.id, 0x123u);
    EXPECT_EQ(net, 1);
    EXPECT_EQ(reg.readFrame(a, &got, &net, nullptr), API_ERR_QRCVEMPTY);
    net = 0;
    EXPECT_EQ(reg.readFrame(other, &got, &net, nullptr), API_ERR_QRCVEMPTY);
}

TEST_F(RegistryTest, StandardFrameIsDeliveredWithItsWireIdentifier)
{
    const uint8_t c = openClient(1, "tarvnet0", 16);
    reg.deliver(16, frame(0x1205), 0, {});
    ApiFrame got{};
    uint8_t net = 1;
    ASSERT_EQ(reg.readFrame(c, &got, &net, nullptr), API_MORE_QUEUED);
    EXPECT_EQ(got.id, 0x205u);
}

TEST_F(RegistryTest, QueueKeepsOrderAndTellsWhetherMoreAreWaiting)
{
    const uint8_t c = openClient(1, "tarvnet0", 16);
    for (uint8_t i = 0; i < 5; ++i) {
        ApiTimeStamp ts{1000u + i, 0, 0};
        reg.deliver(16, frame(0x200, 0, i), 0, ts);
    }
    for (uint8_t i = 0; i < 5; ++i) {
        ApiFrame got{};
        ApiTimeStamp ts{};
        uint8_t net = 1;
        const ApiResult r = reg.readFrame(c, &got, &net, &ts);
        EXPECT_EQ(r, i < 4 ? API_OK : API_MORE_QUEUED);
        EXPECT_EQ(r & API_ERR_RXMASK, 0u);
        EXPECT_EQ(got.data[0], i);
        EXPECT_EQ(ts.millis, 1000u + i);
    }
    ApiFrame got{};
    uint8_t net = 1;
    EXPECT_EQ(reg.readFrame(c, &got, &net, nullptr), API_ERR_QRCVEMPTY);
}

TEST_F(RegistryTest, ReadingForOneNetLeavesTheOthersQueued)
{
    reg.registerNet(1, "tarvnet0", 16, 0xC723, 125000);
    reg.registerNet(2, "tarvnet1", 15, 0xC723, 125000);
    uint8_t c = 0;
    reg.registerClient("both", 0, &c);
    uint8_t n = 0;
    reg.connectClient(c, "tarvnet0", &n);
    reg.connectClient(c, "tarvnet1", &n);
    const ApiRangeBound lo{0, 1}, hi{0x7FF, 1};
    reg.registerMsgRange(c, 1, &lo, &hi);
    reg.registerMsgRange(c, 2, &lo, &hi);
    reg.deliver(15, frame(0x111), 0, {});
    reg.deliver(16, frame(0x222), 0, {});

    ApiFrame got{};
    uint8_t net = 1;
    ASSERT_EQ(reg.readFrame(c, &got, &net, nullptr), API_MORE_QUEUED);
    EXPECT_EQ(got.id, 0x222u);
    net = 0; // any net
    ASSERT_EQ(reg.readFrame(c, &got, &net, nullptr), API_MORE_QUEUED);
    EXPECT_EQ(got.id, 0x111u);
    EXPECT_EQ(net, 2);
}

struct RangeCase
{
    const char *what;
    ApiRangeBound first;
    ApiRangeBound last;
    ApiFrame frame;
    bool delivered;
};

class MessageRange : public RegistryTest, public ::testing::WithParamInterface<RangeCase>
{};

TEST_P(MessageRange, DecidesWhatTheClientGets)
{
    const RangeCase &rc = GetParam();
    reg.registerNet(1, "tarvnet0", 16, 0xC723, 125000);
    uint8_t c = 0, n = 0;
    reg.registerClient("c", 0, &c);
    reg.connectClient(c, "tarvnet0", &n);
    ASSERT_EQ(reg.registerMsgRange(c, 1, &rc.first, &rc.last), API_OK);
    reg.deliver(16, rc.frame, 0, {});
    ApiFrame got{};
    uint8_t net = 1;
    EXPECT_EQ(reg.readFrame(c, &got, &net, nullptr) == API_MORE_QUEUED, rc.delivered) << rc.what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MessageRange,
    ::testing::Values(
        RangeCase{"inside", {0x100, 1}, {0x1FF, 1}, frame(0x150), true},
        RangeCase{"lower bound", {0x100, 1}, {0x1FF, 1}, frame(0x100), true},
        RangeCase{"upper bound", {0x100, 1}, {0x1FF, 1}, frame(0x1FF), true},
        RangeCase{"above", {0x100, 1}, {0x1FF, 1}, frame(0x200), false},
        RangeCase{"line bits do not count", {0x200, 1}, {0x20F, 1}, frame(0x3205), true},
        RangeCase{"29-bit frame, standard range", {0, 1}, {0x7FF, 1}, frame(0x123, API_FRAME_EXT), false},
        RangeCase{"29-bit frame, 29-bit range", {0, 3}, {0x7FF, 3}, frame(0x123, API_FRAME_EXT), true},
        RangeCase{"remote request in range", {0, 1}, {0x7FF, 1}, frame(0x7FF, API_FRAME_RTR), true}));

TEST_F(RegistryTest, MessageRangeNeedsAConnectedNet)
{
    reg.registerNet(1, "tarvnet0", 16, 0xC723, 125000);
    uint8_t c = 0;
    reg.registerClient("c", 0, &c);
    const ApiRangeBound lo{0, 1}, hi{0x7FF, 1};
    EXPECT_EQ(reg.registerMsgRange(c, 1, &lo, &hi), API_ERR_ILLNET);
    EXPECT_EQ(reg.registerMsgRange(9, 1, &lo, &hi), API_ERR_ILLCLIENT);
    uint8_t n = 0;
    reg.connectClient(c, "tarvnet0", &n);
    EXPECT_EQ(reg.registerMsgRange(c, 1, &hi, &lo), API_ERR_ILLPARAM);
    EXPECT_EQ(reg.registerMsgRange(c, 1, &lo, nullptr), API_ERR_ILLPARAM);
}

TEST_F(RegistryTest, EventIsSignalledOnlyWhileRegistered)
{
    const uint8_t c = openClient(1, "tarvnet0", 16);
    EXPECT_EQ(reg.writeClientParam(c, API_CLIENTPARAM_EVENT, 7), API_OK);
    reg.deliver(16, frame(0x100), 0, {});
    reg.deliver(16, frame(0x101), 0, {});
    EXPECT_EQ(events.signalled, (std::vector<uint32_t>{7, 7}));

    EXPECT_EQ(reg.writeClientParam(c, API_CLIENTPARAM_EVENT, 0), API_OK);
    reg.deliver(16, frame(0x102), 0, {});
    EXPECT_EQ(events.signalled.size(), 2u);

    EXPECT_EQ(reg.writeClientParam(c, API_CLIENTPARAM_EVENT, 9), API_OK);
    EXPECT_EQ(reg.removeClient(c), API_OK);
    reg.deliver(16, frame(0x103), 0, {});
    EXPECT_EQ(events.signalled.size(), 2u);
}

TEST_F(RegistryTest, EventOfAClientOnAnotherBusStaysQuiet)
{
    const uint8_t c = openClient(1, "tarvnet0", 16);
    reg.writeClientParam(c, API_CLIENTPARAM_EVENT, 7);
    reg.deliver(15, frame(0x100), 0, {});
    EXPECT_TRUE(events.signalled.empty());
}

TEST_F(RegistryTest, OnlyEventObjectsAreAccepted)
{
    const uint8_t c = openClient(1, "tarvnet0", 16);
    EXPECT_EQ(reg.writeClientParam(c, API_CLIENTPARAM_EVENT, 8), API_ERR_ILLPARAM);
    uint32_t value = 1;
    ASSERT_EQ(reg.readClientParam(c, API_CLIENTPARAM_EVENT, &value, 4), API_OK);
    EXPECT_EQ(value, 0u);
    reg.deliver(16, frame(0x100), 0, {});
    EXPECT_TRUE(events.signalled.empty());
    EXPECT_EQ(reg.writeClientParam(c, API_CLIENTPARAM_27, 0), API_OK);
    EXPECT_EQ(reg.writeClientParam(c, 99, 0), API_ERR_ILLPARAM);
    EXPECT_EQ(reg.writeClientParam(30, API_CLIENTPARAM_EVENT, 7), API_ERR_ILLCLIENT);
}

TEST_F(RegistryTest, BusOffAnswersReadsUntilTheHardwareIsReset)
{
    const uint8_t c = openClient(1, "tarvnet0", 16);
    reg.writeClientParam(c, API_CLIENTPARAM_EVENT, 7);
    reg.setStatusWord(16, 0x0008);
    EXPECT_EQ(reg.busStatus(16), 0x0008);
    reg.setBusOff(16, true);
    EXPECT_EQ(reg.busStatus(16), API_ERR_BUSOFF);

    reg.deliver(16, frame(0x100), 0, {});
    // The controller takes nothing, but the reader is woken to find bus off.
    EXPECT_EQ(events.signalled.size(), 1u);
    ApiFrame got{};
    uint8_t net = 1;
    EXPECT_EQ(reg.readFrame(c, &got, &net, nullptr), API_ERR_BUSOFF);
    uint8_t hw = 0;
    uint64_t origin = 0;
    EXPECT_EQ(reg.checkSend(c, 1, &got, &hw, &origin), API_ERR_BUSOFF);

    EXPECT_EQ(reg.resetHardware(16), API_OK);
    EXPECT_EQ(reg.busStatus(16), 0x0008);
    EXPECT_EQ(reg.readFrame(c, &got, &net, nullptr), API_ERR_QRCVEMPTY);
    EXPECT_EQ(reg.busStatus(4), API_ERR_ILLHW);
}

TEST_F(RegistryTest, FailedReadsNeverLookLikeADeliveredFrame)
{
    const uint8_t c = openClient(1, "tarvnet0", 16);
    ApiFrame got{};
    uint8_t net = 1;
    reg.removeClient(c);
    EXPECT_NE(reg.readFrame(c, &got, &net, nullptr) & API_ERR_RXMASK, 0u);
    EXPECT_NE(reg.readFrame(0, &got, &net, nullptr) & API_ERR_RXMASK, 0u);
    const uint8_t d = openClient(1, "tarvnet0", 16);
    EXPECT_NE(reg.readFrame(d, nullptr, &net, nullptr) & API_ERR_RXMASK, 0u);
}

TEST_F(RegistryTest, ResetClientEmptiesItsQueue)
{
    const uint8_t c = openClient(1, "tarvnet0", 16);
    reg.deliver(16, frame(0x100), 0, {});
    EXPECT_EQ(reg.resetClient(c), API_OK);
    ApiFrame got{};
    uint8_t net = 1;
    EXPECT_EQ(reg.readFrame(c, &got, &net, nullptr), API_ERR_QRCVEMPTY);
    EXPECT_EQ(reg.resetClient(20), API_ERR_ILLCLIENT);
}

TEST_F(RegistryTest, FullQueueDropsNewFramesAndKeepsTheOldOnes)
{
    const uint8_t c = openClient(1, "tarvnet0", 16);
    for (size_t i = 0; i < canapi::kClientQueueCapacity + 3; ++i)
        reg.deliver(16, frame(0x100, 0, static_cast<uint8_t>(i)), 0, {});
    EXPECT_EQ(reg.droppedFrames(c), 3u);
    ApiFrame got{};
    uint8_t net = 1;
    ASSERT_EQ(reg.readFrame(c, &got, &net, nullptr), API_OK);
    EXPECT_EQ(got.data[0], 0);
}

TEST_F(RegistryTest, SendChecks)
{
    const uint8_t c = openClient(1, "tarvnet0", 16);
    reg.registerNet(2, "tarvnet1", 15, 0xC723, 125000);
    ApiFrame f = frame(0x100);
    uint8_t hw = 0;
    uint64_t origin = 0;
    EXPECT_EQ(reg.checkSend(c, 1, &f, &hw, &origin), API_OK);
    EXPECT_EQ(hw, 16);
    EXPECT_NE(origin, 0u);
    EXPECT_EQ(reg.checkSend(c, 2, &f, &hw, &origin), API_ERR_ILLNET);
    EXPECT_EQ(reg.checkSend(c + 1, 1, &f, &hw, &origin), API_ERR_ILLCLIENT);
    EXPECT_EQ(reg.checkSend(c, 1, nullptr, &hw, &origin), API_ERR_ILLPARAM);
    f.length = 9;
    EXPECT_EQ(reg.checkSend(c, 1, &f, &hw, &origin), API_ERR_ILLPARAM);
}

TEST_F(RegistryTest, ClearForgetsEverything)
{
    openClient(1, "tarvnet0", 16);
    reg.clear();
    uint32_t value = 0;
    EXPECT_EQ(reg.readHwParam(16, API_HWPARAM_PRESENT, &value, 4), API_ERR_ILLHW);
    uint8_t hw = 0;
    EXPECT_EQ(reg.readNetParam(1, API_NETPARAM_HW, &hw, 1), API_ERR_ILLNET);
    char name[8];
    EXPECT_EQ(reg.readClientParam(1, API_CLIENTPARAM_NAME, name, sizeof name), API_ERR_ILLCLIENT);
    EXPECT_EQ(reg.freeHardwareFromTop(), 16);
}

} // namespace
