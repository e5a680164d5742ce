// Opening lines on the simulated adapters, and every failure with its cause.
#include "simbench.h"

#include "canapi.h"
#include "clocksync.h"
#include "linetable.h"

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

using namespace canlibtest;

namespace {

// Registrations the interface holds right now.
int registeredNets()
{
    int count = 0;
    for (int net = 1; net <= 32; ++net) {
        uint8_t hw = 0;
        if (CanApi_ReadNetParam(static_cast<uint8_t>(net), API_NETPARAM_HW, &hw, sizeof hw) == API_OK)
            ++count;
    }
    return count;
}

int registeredClients()
{
    int count = 0;
    for (int client = 1; client <= 32; ++client) {
        char name[128] = {};
        if (CanApi_ReadClientParam(static_cast<uint8_t>(client), API_CLIENTPARAM_NAME, name, sizeof name - 1)
            == API_OK)
            ++count;
    }
    return count;
}

class Open : public SimBench
{};

TEST_F(Open, SucceedsWithTheClientText)
{
    ASSERT_TRUE(openLine(0));
    EXPECT_EQ(lastText, "Client tarvCanFLash");
    EXPECT_EQ(registeredNets(), 1);
    EXPECT_EQ(registeredClients(), 1);
    char status[9] = {};
    GetCanStatus(0, status);
    EXPECT_STREQ(status, "OK");
}

TEST_F(Open, LineWithoutAdapterFails)
{
    ASSERT_TRUE(openLine(0));
    EXPECT_FALSE(openLine(1));
    EXPECT_EQ(lastText, "Error while registering hardware !");
    char status[9] = {};
    EXPECT_EQ(GetCanStatus(1, status), nullptr);
    EXPECT_STREQ(status, "NOLINE");
}

TEST_F(Open, SecondAdapterServesLineOne)
{
    configure(2);
    ASSERT_TRUE(openLine(0));
    ASSERT_TRUE(openLine(1));
    EXPECT_EQ(lastText, "Client tarvCanFLash");
    EXPECT_FALSE(openLine(2));
    EXPECT_EQ(lastText, "Error while registering hardware !");
}

TEST_F(Open, UnsupportedRateFailsBeforeAnythingIsRegistered)
{
    ReInitCanSystem(0);
    for (uint16_t rate : {500, 800, 0, 1001}) {
        char text[64] = "tarvCanFLash";
        EXPECT_EQ(ExtendedInitCan(0, rate, 0, 0, text), 0) << rate;
        EXPECT_STREQ(text, "Error while registering net!") << rate;
    }
    EXPECT_EQ(registeredNets(), 0);
    EXPECT_EQ(registeredClients(), 0);
}

TEST_F(Open, InitCanCannotSelectOneMegabit)
{
    ReInitCanSystem(0);
    char text[64] = "tarvCanFLash";
    // The rate parameter is 8 bits wide: 1000 arrives as 232.
    EXPECT_EQ(InitCan(0, static_cast<uint8_t>(1000), 0, text), 0);
    EXPECT_STREQ(text, "Error while registering net!");
    EXPECT_EQ(registeredNets(), 0);
    std::strcpy(text, "tarvCanFLash");
    EXPECT_EQ(InitCan(0, 125, 0, text), 1);
    EXPECT_STREQ(text, "Client tarvCanFLash");
}

TEST_F(Open, AllNetsTakenFails)
{
    ReInitCanSystem(0);
    for (int net = 1; net <= 32; ++net) {
        const std::string name = "other" + std::to_string(net);
        ASSERT_EQ(CanApi_RegisterNet(static_cast<uint8_t>(net), name.c_str(), 16, 0x0323), API_OK) << net;
    }
    char text[64] = "tarvCanFLash";
    EXPECT_EQ(ExtendedInitCan(0, 250, 0, 0, text), 0);
    EXPECT_STREQ(text, "Error while registering net !");
}

TEST_F(Open, NetNameInUseFails)
{
    ReInitCanSystem(0);
    // Line 1's name is free, line 0's is taken by a stale registration.
    ASSERT_EQ(CanApi_RegisterNet(5, "tarvnet0", 16, 0x0323), API_OK);
    char text[64] = "tarvCanFLash";
    EXPECT_EQ(ExtendedInitCan(0, 250, 0, 0, text), 0);
    EXPECT_STREQ(text, "Error while registering net!");
}

TEST_F(Open, KeepsAtMost127CharactersOfTheName)
{
    const std::string longName(150, 'n');
    char text[300] = {};
    std::memcpy(text, longName.data(), longName.size());
    std::memset(text + 150, '#', sizeof text - 151);
    ReInitCanSystem(0);
    ASSERT_EQ(ExtendedInitCan(0, 250, 0, 0, text), 1);
    const std::string expected = "Client " + std::string(127, 'n');
    EXPECT_EQ(std::string(text), expected);
    // Past "Client ", the name and the NUL the caller's bytes are untouched.
    EXPECT_EQ(std::string(text + expected.size() + 1, 150 - expected.size() - 1),
              longName.substr(expected.size() + 1));
    EXPECT_EQ(text[150], '#');
}

TEST_F(Open, FailureTextStaysWithinItsSize)
{
    char text[48];
    std::memset(text, '#', sizeof text);
    std::memcpy(text, "x", 2);
    EXPECT_EQ(ExtendedInitCan(1, 250, 0, 0, text), 0);
    EXPECT_STREQ(text, "Error while registering hardware !");
    for (std::size_t i = TARVPCAN3_SETUP_TEXT_MIN; i < sizeof text; ++i)
        EXPECT_EQ(text[i], '#') << i;
}

TEST_F(Open, NullTextIsRefused)
{
    EXPECT_EQ(ExtendedInitCan(0, 250, 0, 0, nullptr), 0);
    EXPECT_EQ(InitCanClient(0, 0, nullptr), 0);
}

TEST_F(Open, ReopeningStopsAndFreesTheEarlierRecord)
{
    ASSERT_TRUE(openLine(0));
    std::weak_ptr<tarvpcan3::LineRecord> earlier = tarvpcan3::lineTable().find(0);
    ASSERT_FALSE(earlier.expired());
    // The interface refuses a second net of the same name; an open line is
    // opened again once its net has gone behind the library's back.
    canapi::sim::dropNet(earlier.lock()->net());
    char text[64] = "second";
    ASSERT_EQ(ExtendedInitCan(0, 250, 0, 0, text), 1) << text;
    EXPECT_TRUE(earlier.expired()) << "the earlier record was neither stopped nor freed";
    const auto current = tarvpcan3::lineTable().find(0);
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(current->clientName(), "second");
    EXPECT_TRUE(current->readerRunning());

    PeerLog peer(0);
    peer.send(0x155, {1, 2});
    Received frame;
    ASSERT_TRUE(receive(0, frame));
    EXPECT_EQ(frame.id, 0x155);
}

TEST_F(Open, LinesShareOneClockTimerThatEndsWithTheLastLine)
{
    configure(2);
    auto &timer = tarvpcan3::clockSync();
    EXPECT_FALSE(timer.running());
    const unsigned startsBefore = timer.starts();
    ASSERT_TRUE(openLine(0));
    ASSERT_TRUE(openLine(1));
    canapi::sim::dropNet(tarvpcan3::lineTable().find(1)->net());
    char text[64] = "again";
    ASSERT_EQ(ExtendedInitCan(1, 250, 0, 0, text), 1) << text;
    EXPECT_TRUE(timer.running());
    EXPECT_EQ(timer.starts(), startsBefore + 1);
    ReInitCanSystem(0);
    EXPECT_TRUE(timer.running());
    ReInitCanSystem(1);
    EXPECT_FALSE(timer.running());
    ASSERT_TRUE(openLine(0));
    EXPECT_TRUE(timer.running());
    EXPECT_EQ(timer.starts(), startsBefore + 2);
}

// With standard input closed the event would get descriptor 0, which the
// interface reads as "no event".
TEST_F(Open, EventDescriptorStaysClearOfTheStandardStreams)
{
    const int savedStdin = dup(0);
    ASSERT_GE(savedStdin, 0);
    close(0);
    const bool opened = openLine(0);
    const bool zeroTaken = fcntl(0, F_GETFD) != -1;
    dup2(savedStdin, 0);
    close(savedStdin);
    ASSERT_TRUE(opened);
    EXPECT_FALSE(zeroTaken) << "the reception event sits on descriptor 0";

    PeerLog peer(0);
    peer.send(0x101, {9});
    Received frame;
    ASSERT_TRUE(receive(0, frame)) << "the reader is not woken by its event";
    EXPECT_EQ(frame.frame[1], 9);
}

TEST(Driver, AdapterKinds)
{
    std::string error;
    ASSERT_TRUE(canapi::sim::configure(benchIni(1), &error)) << error;
    for (uint8_t kind : {0, 1, 2, 3, 4, 7, 255})
        EXPECT_EQ(ConnectCANHw2Driver(kind), 1) << int(kind);
}

TEST(Driver, VersionAndHardwareParameter)
{
    EXPECT_STREQ(GetDLLVer(), "4.01p");
    EXPECT_EQ(GetDLLVer(), GetDLLVer());
    EXPECT_EQ(GetCanHwParam(), 0);
}

} // namespace
