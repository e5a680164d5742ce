// Bus status texts with the client and net checks, reset, delays.
#include "simbench.h"

#include "canapi.h"
#include "linetable.h"

#include <cstring>

using namespace canlibtest;

namespace {

class Status : public SimBench
{};

std::string statusOf(uint8_t line, char **result = nullptr)
{
    char text[9];
    char *returned = GetCanStatus(line, text);
    if (result != nullptr)
        *result = returned;
    return returned == nullptr ? std::string("null:") + text : std::string(text);
}

TEST_F(Status, BusStatusWordTexts)
{
    ASSERT_TRUE(openLine(0));
    // The mapping itself is checked on its own; here the word comes from the adapter.
    const std::pair<uint16_t, const char *> table[] = {{0x0200, "NOVXD"}, {0x0014, "20"}, {0x0000, "OK"}};
    for (const auto &[word, text] : table) {
        canapi::sim::setBusStatus(0, word);
        EXPECT_EQ(statusOf(0), text) << word;
    }
}

TEST_F(Status, ReturnsTheCallersText)
{
    ASSERT_TRUE(openLine(0));
    char text[9];
    EXPECT_EQ(GetCanStatus(0, text), text);
    EXPECT_EQ(statusOf(1), "null:NOLINE");
}

TEST_F(Status, StaysWithinNineBytes)
{
    ASSERT_TRUE(openLine(0));
    canapi::sim::setBusStatus(0, 0x0008);
    char text[16];
    std::memset(text, '#', sizeof text);
    GetCanStatus(0, text);
    EXPECT_STREQ(text, "BUSHEAVY");
    for (std::size_t i = 9; i < sizeof text; ++i)
        EXPECT_EQ(text[i], '#') << i;
}

TEST_F(Status, DroppedClientGivesNoClient)
{
    ASSERT_TRUE(openLine(0));
    const auto record = tarvpcan3::lineTable().find(0);
    ASSERT_NE(record, nullptr);
    canapi::sim::dropClient(record->client());
    EXPECT_EQ(statusOf(0), "NOCLIENT");
}

TEST_F(Status, DroppedNetGivesNoNet)
{
    ASSERT_TRUE(openLine(0));
    const auto record = tarvpcan3::lineTable().find(0);
    ASSERT_NE(record, nullptr);
    canapi::sim::dropNet(record->net());
    EXPECT_EQ(statusOf(0), "NONET");
}

TEST_F(Status, NetCheckWinsOverClientCheck)
{
    ASSERT_TRUE(openLine(0));
    const auto record = tarvpcan3::lineTable().find(0);
    ASSERT_NE(record, nullptr);
    canapi::sim::dropClient(record->client());
    canapi::sim::dropNet(record->net());
    EXPECT_EQ(statusOf(0), "NONET");
}

// The line's client handle given to a client of another name: the stored name
// need only begin the interface's name.
TEST_F(Status, ClientCheckTakesTheStoredNameAsAPrefix)
{
    const std::pair<const char *, const char *> table[] = {
        {"someoneElse", "NOCLIENT"},
        {"tarvCanFLashHelper", "OK"},
        {"tarvCanFLash", "OK"},
        {"tarvCanFLas", "NOCLIENT"},
    };
    for (const auto &[registered, expected] : table) {
        ASSERT_TRUE(openLine(0, 0, "tarvCanFLash"));
        const auto record = tarvpcan3::lineTable().find(0);
        ASSERT_NE(record, nullptr);
        canapi::sim::dropClient(record->client());
        uint8_t client = 0;
        ASSERT_EQ(CanApi_RegisterClient(registered, 0, &client), API_OK);
        ASSERT_EQ(client, record->client()) << "the interface gave the freed handle to another client";
        EXPECT_EQ(statusOf(0), expected) << registered;
    }
}

// Names up to the 127 characters the line keeps pass the check; longer ones
// are kept and registered cut to 127.
TEST_F(Status, LongClientNamesPassTheCheck)
{
    for (const std::size_t length : {126, 127, 128, 190}) {
        ASSERT_TRUE(openLine(0, 0, std::string(length, 'n'))) << lastText;
        EXPECT_EQ(statusOf(0), "OK") << length;
    }
}

TEST_F(Status, BusStatusIsReportedBeforeTheChecks)
{
    ASSERT_TRUE(openLine(0));
    const auto record = tarvpcan3::lineTable().find(0);
    ASSERT_NE(record, nullptr);
    canapi::sim::dropNet(record->net());
    canapi::sim::setBusStatus(0, 0x0004);
    EXPECT_EQ(statusOf(0), "BUSLIGHT");
}

TEST_F(Status, ResetCanClearsBusOff)
{
    ASSERT_TRUE(openLine(0));
    canapi::sim::setBusOff(0, true);
    EXPECT_EQ(statusOf(0), "BUSOFF");
    ResetCan(5); // not open: left alone
    EXPECT_EQ(statusOf(0), "BUSOFF");
    ResetCan(0);
    EXPECT_EQ(statusOf(0), "OK");
    PeerLog peer(0);
    peer.send(0x160, {4});
    Received frame;
    ASSERT_TRUE(receive(0, frame));
    EXPECT_EQ(frame.id, 0x160);
}

TEST_F(Status, CanDelayRunsOnTheInterfaceClock)
{
    ApiTimeStamp before{};
    ApiTimeStamp after{};
    ASSERT_EQ(CanApi_ReadClock(&before), API_OK);
    CanDelay(30);
    ASSERT_EQ(CanApi_ReadClock(&after), API_OK);
    EXPECT_GE(after.millis - before.millis, 30u);

    ASSERT_EQ(CanApi_ReadClock(&before), API_OK);
    CanDelayUS(2500);
    ASSERT_EQ(CanApi_ReadClock(&after), API_OK);
    const int64_t micros =
        static_cast<int64_t>(after.millis - before.millis) * 1000 + after.micros - int64_t{before.micros};
    EXPECT_GE(micros, 2500);
    CanDelay(0);
    CanDelayUS(0);
}

} // namespace
