#include "linerules.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace tarvpcan3;

namespace {

TEST(LineRules, BusTimingForEverySupportedRate)
{
    const std::pair<unsigned, uint16_t> table[] = {{20, 0xE7B4},  {50, 0xCFB4},  {100, 0xC7B4},
                                                   {125, 0xC723}, {250, 0x0323}, {1000, 0x0014}};
    for (const auto &[rate, timing] : table)
        EXPECT_EQ(busTimingFor(rate), timing) << rate;
    for (unsigned unsupported : {0u, 10u, 500u, 800u, 232u, 1001u})
        EXPECT_FALSE(busTimingFor(unsupported).has_value()) << unsupported;
}

TEST(LineRules, DriverNameByAdapterKind)
{
    const std::pair<uint8_t, const char *> table[] = {
        {0, "peakcan"}, {1, "peakcan"}, {2, "peakcan"}, {3, "pcan_usb"}, {4, "pcan_pci"}};
    for (const auto &[kind, name] : table)
        EXPECT_STREQ(driverNameForKind(kind), name) << int(kind);
    EXPECT_EQ(driverNameForKind(5), nullptr);
    EXPECT_EQ(driverNameForKind(7), nullptr);
    EXPECT_EQ(driverNameForKind(255), nullptr);
}

TEST(LineRules, NetNameCarriesTheLine)
{
    EXPECT_EQ(netNameFor(0), "tarvnet0");
    EXPECT_EQ(netNameFor(15), "tarvnet15");
}

TEST(LineRules, BusStatusMapsTheWholeWord)
{
    const std::pair<uint16_t, const char *> table[] = {
        {0x0000, "OK"},     {0x0002, "OVERRUN"}, {0x0004, "BUSLIGHT"}, {0x0008, "BUSHEAVY"},
        {0x0010, "BUSOFF"}, {0x0200, "NOVXD"},   {0x1400, "ILLHW"},    {0x0014, "20"},
        {0x0001, "1"},      {0x0206, "518"},     {0xFFFF, "65535"}};
    for (const auto &[status, text] : table) {
        char out[9];
        busStatusText(status, out, sizeof out);
        EXPECT_STREQ(out, text) << status;
    }
}

TEST(LineRules, BusStatusKeepsToTheStatedSize)
{
    char out[12];
    std::memset(out, '#', sizeof out);
    busStatusText(0x0008, out, 5);
    EXPECT_STREQ(out, "BUSH");
    EXPECT_EQ(out[5], '#');
}

struct HardwareCase
{
    unsigned hardware;
    uint32_t kind;
    unsigned line;
    bool belongs;
};

class HardwareOfLine : public ::testing::TestWithParam<HardwareCase>
{};

TEST_P(HardwareOfLine, FollowsTheKindRule)
{
    const HardwareCase &c = GetParam();
    EXPECT_EQ(hardwareBelongsToLine(c.hardware, c.kind, c.line), c.belongs)
        << "hw " << c.hardware << " kind " << c.kind << " line " << c.line;
}

INSTANTIATE_TEST_SUITE_P(LineRules, HardwareOfLine,
                         ::testing::Values(HardwareCase{16, 5, 0, true}, HardwareCase{16, 5, 1, false},
                                           HardwareCase{15, 5, 1, true}, HardwareCase{1, 5, 0, false},
                                           HardwareCase{1, 1, 0, true}, HardwareCase{3, 3, 2, true},
                                           HardwareCase{16, 2, 0, false}, HardwareCase{2, 4, 1, false},
                                           HardwareCase{0, 5, 7, true}, HardwareCase{0, 1, 3, true}));

TEST(LineRules, ClientTableInUseOnlyForAOne)
{
    uint8_t table[32] = {};
    EXPECT_FALSE(clientTableInUse(table, sizeof table));
    table[7] = 2;
    EXPECT_FALSE(clientTableInUse(table, sizeof table));
    table[31] = 1;
    EXPECT_TRUE(clientTableInUse(table, sizeof table));
}

ApiFrame frameOf(uint32_t id, uint8_t type, uint8_t length)
{
    ApiFrame frame{};
    frame.id = id;
    frame.type = type;
    frame.length = length;
    for (uint8_t i = 0; i < 8; ++i)
        frame.data[i] = static_cast<uint8_t>(0xA0 + i);
    return frame;
}

TEST(LineRules, StandardFrameCarriesItsLine)
{
    const auto record = rxRecordFrom(frameOf(0x123, 0, 3), {77, 1, 5}, 2, 9);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->id, 0x2123u);
    EXPECT_EQ(record->type, 0);
    EXPECT_EQ(record->length, 3);
    EXPECT_EQ(record->net, 9);
    EXPECT_EQ(record->millis, 77u);
    EXPECT_EQ(record->millisOverflow, 1);
    EXPECT_EQ(record->micros, 5);
    EXPECT_EQ(record->data[2], 0xA2);
}

TEST(LineRules, LineBitsStayInTheirNibble)
{
    EXPECT_EQ(rxRecordFrom(frameOf(0x7FF, 0, 0), {}, 15, 1)->id, 0xF7FFu);
    EXPECT_EQ(rxRecordFrom(frameOf(0x001, 0, 0), {}, 17, 1)->id, 0x1001u);
}

TEST(LineRules, ExtendedFrameKeepsItsIdentifier)
{
    const auto record = rxRecordFrom(frameOf(0x12345, API_FRAME_EXT, 8), {}, 2, 1);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->id, 0x12345u);
    uint16_t id = 0;
    uint8_t buffer[9] = {};
    unpackRxRecord(*record, &id, buffer);
    EXPECT_EQ(id, 0x2345);
}

TEST(LineRules, RemoteRequestsAndUnknownTypesAreDropped)
{
    for (uint8_t type :
         {uint8_t{API_FRAME_RTR}, uint8_t{API_FRAME_RTR | API_FRAME_EXT}, uint8_t{4}, uint8_t{0x80}})
        EXPECT_FALSE(rxRecordFrom(frameOf(0x100, type, 0), {}, 0, 1).has_value()) << int(type);
}

TEST(LineRules, UnpackCapsTheLength)
{
    RxRecord record;
    record.length = 12;
    for (uint8_t i = 0; i < 8; ++i)
        record.data[i] = static_cast<uint8_t>(i + 1);
    uint8_t buffer[10];
    std::memset(buffer, 0xEE, sizeof buffer);
    unpackRxRecord(record, nullptr, buffer);
    EXPECT_EQ(buffer[0], 8);
    EXPECT_EQ(buffer[8], 8);
    EXPECT_EQ(buffer[9], 0xEE);
}

TEST(LineRules, UnpackCopiesOnlyTheLength)
{
    RxRecord record;
    record.length = 2;
    record.data[0] = 0x11;
    record.data[1] = 0x22;
    record.data[2] = 0x33;
    uint8_t buffer[9];
    std::memset(buffer, 0xEE, sizeof buffer);
    unpackRxRecord(record, nullptr, buffer);
    EXPECT_EQ(buffer[0], 2);
    EXPECT_EQ(buffer[2], 0x22);
    EXPECT_EQ(buffer[3], 0xEE);
}

TEST(LineRules, DataFrameCapsTheLengthAtEight)
{
    uint8_t buffer[9] = {12, 1, 2, 3, 4, 5, 6, 7, 8};
    const ApiFrame frame = dataFrameFrom(0x1205, 2, buffer);
    EXPECT_EQ(frame.id, 0x1205u);
    EXPECT_EQ(frame.type, 2);
    EXPECT_EQ(frame.length, 8);
    EXPECT_EQ(frame.data[7], 8);
    buffer[0] = 3;
    const ApiFrame shortFrame = dataFrameFrom(0x10, 0, buffer);
    EXPECT_EQ(shortFrame.length, 3);
    EXPECT_EQ(shortFrame.data[3], 0);
}

TEST(LineRules, VersionTextFromTheVersionParts)
{
    char text[10];
    versionText(4, 0, 1, text, sizeof text);
    EXPECT_STREQ(text, "4.01p");
    versionText(5, 2, 9, text, sizeof text);
    EXPECT_STREQ(text, "5.29p");
}

} // namespace
