// The clean-up passes of ReInitCanSystem, ReInitCanClient, and InitCanClient.
#include "simbench.h"

#include "canapi.h"
#include "linetable.h"

#include <cstring>

using namespace canlibtest;

namespace {

bool clientExists(uint8_t client)
{
    uint8_t table[32] = {};
    return CanApi_ReadClientParam(client, API_CLIENTPARAM_NETS, table, sizeof table) == API_OK;
}

bool netExists(uint8_t net)
{
    char name[128] = {};
    return CanApi_ReadNetParam(net, API_NETPARAM_NAME, name, sizeof name - 1) == API_OK;
}

uint8_t registerClient(const char *name, const char *netName = nullptr)
{
    uint8_t client = 0;
    EXPECT_EQ(CanApi_RegisterClient(name, 0, &client), API_OK) << name;
    if (netName != nullptr) {
        uint8_t net = 0;
        EXPECT_EQ(CanApi_ConnectClient(client, netName, &net), API_OK) << name;
    }
    return client;
}

class Cleanup : public SimBench
{};

TEST_F(Cleanup, NeverOpenedLineStillRunsThePasses)
{
    const uint8_t stray = registerClient("stray");
    ASSERT_TRUE(clientExists(stray));
    ReInitCanSystem(3);
    EXPECT_FALSE(clientExists(stray));
}

TEST_F(Cleanup, ClientOnAnotherLinesNetStays)
{
    configure(2);
    ASSERT_TRUE(openLine(1));
    const auto lineOne = tarvpcan3::lineTable().find(1);
    ASSERT_NE(lineOne, nullptr);
    const uint8_t stray = registerClient("stray");
    const uint8_t guest = registerClient("guest", "tarvnet1");
    ReInitCanSystem(0);
    EXPECT_FALSE(clientExists(stray)) << "a client on no net was kept";
    EXPECT_TRUE(clientExists(guest)) << "a client connected to a net was removed";
    EXPECT_TRUE(clientExists(lineOne->client()));
    EXPECT_TRUE(netExists(lineOne->net()));
    PeerLog peer(1);
    peer.send(0x170, {1});
    Received frame;
    ASSERT_TRUE(receive(1, frame));
    EXPECT_EQ(frame.id, 0x1170);
}

TEST_F(Cleanup, NetOnTheLinesHardwareGoesWithItsClients)
{
    configure(2);
    // Line 0 is served by the adapter at the top handle, line 1 by the next.
    ASSERT_EQ(CanApi_RegisterNet(20, "foreign", 16, 0x0323), API_OK);
    const uint8_t guest = registerClient("guest", "foreign");
    ReInitCanSystem(1);
    EXPECT_TRUE(netExists(20)) << "line 1's clean-up removed line 0's net";
    EXPECT_TRUE(clientExists(guest));
    ReInitCanSystem(0);
    EXPECT_FALSE(netExists(20));
    EXPECT_FALSE(clientExists(guest));
}

TEST_F(Cleanup, ClosedLineCanBeOpenedAgain)
{
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(openLine(0)) << round << ": " << lastText;
        ReInitCanSystem(0);
        EXPECT_EQ(tarvpcan3::lineTable().find(0), nullptr);
    }
    ASSERT_TRUE(openLine(0));
    PeerLog peer(0);
    peer.send(0x171, {1});
    Received frame;
    ASSERT_TRUE(receive(0, frame));
}

TEST_F(Cleanup, StaleRegistrationsOfAnEarlierRunAreCleared)
{
    // An earlier run that ended without closing its line.
    ASSERT_EQ(CanApi_RegisterNet(1, "tarvnet0", 16, 0x0323), API_OK);
    const uint8_t stale = registerClient("tarvCanFLash", "tarvnet0");
    ReInitCanSystem(0);
    EXPECT_FALSE(clientExists(stale));
    EXPECT_FALSE(netExists(1));
    char text[64] = "tarvCanFLash";
    EXPECT_EQ(ExtendedInitCan(0, 250, 0, 0, text), 1) << text;
}

// Names are compared in a 40-byte buffer: up to 39 characters in full.
TEST_F(Cleanup, ReInitCanClientRemovesTheClientsOfOneName)
{
    const std::pair<std::string, std::string> names[] = {{"helper", "helpers"}, {std::string(39, 'h'), "keeper"}};
    for (const auto &[helper, keeperName] : names) {
        SCOPED_TRACE(helper);
        ASSERT_TRUE(openLine(0));
        const auto record = tarvpcan3::lineTable().find(0);
        ASSERT_NE(record, nullptr);
        const uint8_t own = record->client();
        const uint8_t helperA = registerClient(helper.c_str(), "tarvnet0");
        const uint8_t helperB = registerClient(helper.c_str(), "tarvnet0");
        const uint8_t keeper = registerClient(keeperName.c_str(), "tarvnet0");
        ReInitCanClient(0, helper.c_str());
        EXPECT_FALSE(clientExists(helperA));
        EXPECT_FALSE(clientExists(helperB));
        EXPECT_TRUE(clientExists(keeper));
        EXPECT_FALSE(clientExists(own)) << "the line's own client stays registered";
        EXPECT_EQ(tarvpcan3::lineTable().find(0), nullptr);
        EXPECT_FALSE(record->isOpen());
        char status[9];
        EXPECT_EQ(GetCanStatus(0, status), nullptr);
    }
}

TEST_F(Cleanup, ReInitCanClientOnAClosedLineDoesNothing)
{
    const uint8_t stray = registerClient("helper");
    ReInitCanClient(0, "helper");
    ReInitCanClient(0, nullptr);
    EXPECT_TRUE(clientExists(stray));
}

TEST_F(Cleanup, InitCanClientTakesOverTheLine)
{
    ASSERT_TRUE(openLine(0));
    const auto record = tarvpcan3::lineTable().find(0);
    ASSERT_NE(record, nullptr);
    const uint8_t first = record->client();
    char text[64] = "second";
    ASSERT_EQ(InitCanClient(0, 0, text), 1);
    EXPECT_STREQ(text, "second") << "success leaves the text alone";
    EXPECT_NE(record->client(), first);
    EXPECT_EQ(record->previousClient(), first);

    PeerLog peer(0);
    const uint8_t out[9] = {1, 0x77};
    char sendText[16];
    Write2Can(0x0260, out, sendText);
    ASSERT_TRUE(peer.waitForCount(1));
    peer.send(0x261, {2});
    Received frame;
    ASSERT_TRUE(receive(0, frame)) << "the reader does not read through the new client";
    EXPECT_EQ(frame.id, 0x261);
}

TEST_F(Cleanup, InitCanClientOnAClosedLineFailsWithoutText)
{
    char text[64] = "orphan";
    EXPECT_EQ(InitCanClient(2, 0, text), 0);
    EXPECT_STREQ(text, "Error while connecting to net") << "there is no net of that name";
    ASSERT_TRUE(openLine(0));
    ReInitCanSystem(0);
    ASSERT_EQ(CanApi_RegisterNet(2, "tarvnet0", 16, 0x0323), API_OK);
    std::strcpy(text, "orphan");
    EXPECT_EQ(InitCanClient(0, 0, text), 0);
    EXPECT_STREQ(text, "orphan");
}

} // namespace
