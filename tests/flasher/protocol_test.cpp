#include "protocol.h"

#include <gtest/gtest.h>

#include <QByteArray>

#include <vector>

using namespace protocol;

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray data;
    for (int value : values)
        data.append(static_cast<char>(value));
    return data;
}

constexpr uint16_t Line = 3;
constexpr uint16_t Current = 0x3208; // module 0x208 on line 3, as the table keys it

struct OutgoingCase
{
    const char *name;
    CanMessage message;
    uint32_t address;
    QByteArray data;
};

class OutgoingFrames : public testing::TestWithParam<OutgoingCase>
{};

TEST_P(OutgoingFrames, AddressWordAndBytes)
{
    const OutgoingCase &c = GetParam();
    EXPECT_EQ(c.message.address(), c.address) << c.name;
    EXPECT_EQ(c.message.data().toHex(' '), c.data.toHex(' ')) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    OnLine3, OutgoingFrames,
    testing::Values(
        OutgoingCase{"log-on", logOnFrame(Line, 0x208), 0x3208, bytes({0xD8, 0x01})},
        OutgoingCase{"log-on broadcast", logOnFrame(Line, BroadcastLogOnId), 0x37FF, bytes({0xD8, 0x01})},
        OutgoingCase{"log-on follow-up", logOnFollowUpFrame(Line, 0x3210), 0x3210,
                     bytes({0x12, 0xA0, 0x00, 0x01})},
        OutgoingCase{"pattern keeps its fixed word", patternFrame(), 0x1E01,
                     bytes({0x12, 0x34, 0x12, 0x34, 0x56, 0x78})},
        OutgoingCase{"opening sequence follows the line", openingSequenceFrame(Line), 0x3004,
                     bytes({0xF4, 0x15, 0xE6})},
        OutgoingCase{"request 12 00", request1200Frame(Line, Current), 0x3209, bytes({0x12, 0x00})},
        OutgoingCase{"release request", firmwareReleaseRequestFrame(Line, Current), 0x3209, bytes({0x12, 0x01})},
        OutgoingCase{"name request", firmwareNameRequestFrame(Line, Current), 0x3209, bytes({0x12, 0x03})},
        OutgoingCase{"update command 3", updateCommandFrame(Line, Current, Flash), 0x3208, bytes({0x15, 0x03})},
        OutgoingCase{"update command 6", updateCommandFrame(Line, Current, Restart), 0x3208, bytes({0x15, 0x06})},
        OutgoingCase{"flash data", flashDataFrame(Line, Current, "S00600"), 0x3209,
                     bytes({0x15, 0x00, 'S', '0', '0', '6', '0', '0'})},
        OutgoingCase{"flash data keeps six of eight bytes", flashDataFrame(Line, Current, "ABCDEFGH"), 0x3209,
                     bytes({0x15, 0x00, 'A', 'B', 'C', 'D', 'E', 'F'})},
        OutgoingCase{"short flash data", flashDataFrame(Line, Current, "\r\n"), 0x3209,
                     bytes({0x15, 0x00, 0x0D, 0x0A})}),
    [](const auto &info) { return std::to_string(info.index); });

TEST(OutgoingSweeps, LogOffSweepCoversAll64ModulesOnTheLine)
{
    const QList<CanMessage> frames = logOffAllFrames(Line);
    ASSERT_EQ(frames.size(), 64);
    for (int a = 0; a < 64; ++a) {
        EXPECT_EQ(frames[a].address(), 0x3000u + 0x200u + 8u * a) << a;
        EXPECT_EQ(frames[a].data(), bytes({0xD8, 0x00})) << a;
    }
}

TEST(OutgoingSweeps, ClosingSequenceFollowsTheLine)
{
    const QList<CanMessage> frames = closingSequenceFrames(Line);
    ASSERT_EQ(frames.size(), 3);
    const int codes[] = {0xC8, 0xCC, 0xC4};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(frames[i].address(), 0x3004u);
        EXPECT_EQ(frames[i].data(), bytes({codes[i]}));
    }
    EXPECT_EQ(closingSequenceFrames(0)[0].address(), 0x004u);
}

TEST(CanMessageBuffer, LengthFirstThenDataThenZeros)
{
    const CanMessage::DriverBuffer buffer = flashDataFrame(0, 0x200, "\r\n").toDriverBuffer();
    const CanMessage::DriverBuffer expected{4, 0x15, 0x00, 0x0D, 0x0A, 0, 0, 0, 0, 0};
    EXPECT_EQ(buffer, expected);
}

TEST(CanMessageBuffer, EditsStayWithinEightBytes)
{
    CanMessage message(0x123, bytes({1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(message.data().size(), 8);
    message.appendByte(0x10);
    EXPECT_EQ(message.data().size(), 8);
    CanMessage empty(0x123, {});
    empty.setCommandWord(0x1503);
    EXPECT_EQ(empty.data(), bytes({0x15, 0x03}));
}

// Received frames ------------------------------------------------------------

struct DecodeCase
{
    const char *name;
    uint16_t word;
    QByteArray data;
    std::vector<Notification> expected;
};

class ReceivedFrames : public testing::TestWithParam<DecodeCase>
{};

TEST_P(ReceivedFrames, NotificationsInOrder)
{
    const DecodeCase &c = GetParam();
    std::array<uint8_t, 8> data{};
    std::copy(c.data.cbegin(), c.data.cend(), data.begin());
    EXPECT_EQ(decodeFrame(c.word, static_cast<int>(c.data.size()), data.data()), c.expected) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReceivedFrames,
    testing::Values(
        DecodeCase{"log-on", 0x205, bytes({0xD8, 0x03, 0x11}), {LogOn{0x200, 3, 0x11}}},
        DecodeCase{
            "log-on on line 2 keeps the line", 0x220D, bytes({0xD8, 0x00, 0x22}), {LogOn{0x2208, 0, 0x22}}},
        DecodeCase{"device information",
                   0x20D,
                   bytes({0xE0, 0x12, 0x34, 0x56, 0x02, 0x15, 0x01}),
                   {DeviceInformation{0x208, 123456, "2.15", 1}}},
        DecodeCase{"serial stops at a hex letter",
                   0x20D,
                   bytes({0xE0, 0x12, 0xAB, 0x34, 0x04, 0x21, 0x02}),
                   {DeviceInformation{0x208, 12, "4.21", 2}}},
        DecodeCase{"firmware release",
                   0x20D,
                   bytes({0x12, 0x01, 0x00, 0x02, 0x0F}),
                   {FirmwareRelease{0x208, 0x0100020F}}},
        DecodeCase{"name of four", 0x20D, bytes({0x12, 0x03, 'A', 'B', 'C', 'D'}), {FirmwareName{0x208, "ABCD"}}},
        DecodeCase{"name of six",
                   0x20D,
                   bytes({0x12, 0x03, 'K', '3', 'B', '7', 'X', 'Y'}),
                   {FirmwareName{0x208, "K3B7XY"}}},
        DecodeCase{"empty name frame", 0x20D, bytes({0x12, 0x03}), {FirmwareName{0x208, ""}}},
        DecodeCase{"flash frame ack", 0x20D, bytes({0x15, 0x00}), {FlashFrame{0x208}}},
        DecodeCase{"81 ready then code",
                   0x20D,
                   bytes({0x15, 0x81}),
                   {UpdateStatusReady{0x208}, UpdateStatusError{0x208, 0x81}}},
        DecodeCase{"85 ready then code",
                   0x20D,
                   bytes({0x15, 0x85}),
                   {UpdateStatusReady{0x208}, UpdateStatusError{0x208, 0x85}}},
        DecodeCase{"91", 0x20D, bytes({0x15, 0x91}), {UpdateStatusError{0x208, 0x91}}},
        DecodeCase{"92", 0x20D, bytes({0x15, 0x92}), {UpdateStatusError{0x208, 0x92}}},
        DecodeCase{"93", 0x20D, bytes({0x15, 0x93}), {UpdateStatusError{0x208, 0x93}}},
        DecodeCase{"97", 0x20D, bytes({0x15, 0x97}), {UpdateStatusError{0x208, 0x97}}},
        DecodeCase{"98", 0x20D, bytes({0x15, 0x98}), {UpdateStatusError{0x208, 0x98}}},
        DecodeCase{"99 re-update then ready",
                   0x20D,
                   bytes({0x15, 0x99}),
                   {LogOnReupdate{0x208}, UpdateStatusReady{0x208}}},
        DecodeCase{"94 unknown status", 0x20D, bytes({0x15, 0x94}), {}},
        DecodeCase{"unknown command", 0x20D, bytes({0x33, 0x01}), {}},
        DecodeCase{"unknown one-byte command", 0x20D, bytes({0xC8}), {}},
        DecodeCase{"0x7E7 dropped", 0x7E7, bytes({0xD8, 0x01, 0x11}), {}},
        DecodeCase{"0x17E7 is not the dropped word", 0x17E7, bytes({0xD8, 0x01, 0x11}), {LogOn{0x17E2, 1, 0x11}}},
        DecodeCase{"short log-on", 0x205, bytes({0xD8, 0x03}), {}},
        DecodeCase{"short device information", 0x20D, bytes({0xE0, 0x12, 0x34, 0x56, 0x02, 0x15}), {}},
        DecodeCase{"short release", 0x20D, bytes({0x12, 0x01, 0x00, 0x02}), {}},
        DecodeCase{"update byte alone", 0x20D, bytes({0x15}), {}},
        DecodeCase{"empty frame", 0x20D, bytes({}), {}}),
    [](const auto &info) { return std::to_string(info.index); });

TEST(ReceivedFrames, NeverReadsPastTheFrame)
{
    // Stale bytes behind a short frame must not become a name or a release.
    std::array<uint8_t, 8> data{0x12, 0x03, 'A', 'B', 'C', 'D', 'E', 'F'};
    EXPECT_EQ(decodeFrame(0x20D, 3, data.data()), (std::vector<Notification>{FirmwareName{0x208, "A"}}));
    std::array<uint8_t, 8> release{0x12, 0x01, 0x00, 0x02, 0x0F, 0, 0, 0};
    EXPECT_TRUE(decodeFrame(0x20D, 4, release.data()).empty());
}

TEST(ReceivedFrames, LengthAboveEightIsRefused)
{
    std::array<uint8_t, 8> data{0x15, 0x00};
    EXPECT_TRUE(decodeFrame(0x20D, 9, data.data()).empty());
}

TEST(AddressArithmetic, ModuleIdsAndAddresses)
{
    EXPECT_EQ(moduleIdOf(0x20D), 0x208);
    EXPECT_EQ(moduleIdOf(0x1205), 0x1200);
    EXPECT_EQ(requestAddress(1, 0x1208), 0x1209);
    EXPECT_EQ(commandAddress(2, 0x208), 0x2208);
    EXPECT_EQ(logOffAddress(0, 63), 0x3F8);
    EXPECT_EQ(logOffAddress(15, 0), 0xF200);
}

TEST(SerialNumber, PackedDecimalDigits)
{
    EXPECT_EQ(serialNumberFromPacked(0x123456), 123456u);
    EXPECT_EQ(serialNumberFromPacked(0x000042), 42u);
    EXPECT_EQ(serialNumberFromPacked(0xA12345), 0u);
    EXPECT_EQ(serialNumberFromPacked(0), 0u);
}

} // namespace
