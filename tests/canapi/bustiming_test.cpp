// Frame length on the wire, bit timing words and the 11-bit rule.
#include "bustiming.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

ApiFrame frame(uint32_t id, std::vector<uint8_t> data, uint8_t type = 0)
{
    ApiFrame f{};
    f.id = id;
    f.type = type;
    f.length = static_cast<uint8_t>(data.size());
    std::copy(data.begin(), data.end(), f.data);
    return f;
}

TEST(BusTiming, Crc15MatchesTheCanCheckValue)
{
    // CRC-15/CAN of "123456789" is 0x059E.
    const char text[] = "123456789";
    EXPECT_EQ(canapi::crc15(reinterpret_cast<const uint8_t *>(text), 72), 0x059E);
}

struct BitsCase
{
    const char *what;
    ApiFrame frame;
    int bits;
    int stuff;
};

// Known answers worked out bit by bit outside this code base.
class FrameBits : public ::testing::TestWithParam<BitsCase>
{};

TEST_P(FrameBits, CountsHeaderDataCrcTailAndStuffBits)
{
    const BitsCase &c = GetParam();
    EXPECT_EQ(canapi::stuffBits(c.frame), c.stuff) << c.what;
    EXPECT_EQ(canapi::frameBits(c.frame), c.bits) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    KnownFrames, FrameBits,
    ::testing::Values(
        BitsCase{"log-on answer 205#D80311", frame(0x205, {0xD8, 0x03, 0x11}), 75, 4},
        BitsCase{"empty frame of zeros", frame(0x000, {}), 53, 6},
        BitsCase{"all ones", frame(0x7FF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), 126, 15},
        BitsCase{"all zeros", frame(0x000, {0, 0, 0, 0, 0, 0, 0, 0}), 127, 16},
        BitsCase{"alternating", frame(0x555, {0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}), 112, 1},
        BitsCase{"four bytes", frame(0x123, {0xDE, 0xAD, 0xBE, 0xEF}), 81, 2},
        BitsCase{"extended", frame(0x12345, {1, 2}, API_FRAME_EXT), 88, 5},
        BitsCase{"extended, no data", frame(0x1FFFFFFF, {}, API_FRAME_EXT), 74, 7},
        BitsCase{"remote request", frame(0x7FF, {}, API_FRAME_RTR), 50, 3},
        BitsCase{"log-on 208#D801", frame(0x208, {0xD8, 0x01}), 67, 4}));

TEST(BusTiming, StandardFrameGoesOutWithItsLow11Bits)
{
    // The line number callers keep in bits 12..15 never reaches the bus.
    EXPECT_EQ(canapi::wireId(frame(0x1205, {})), 0x205u);
    EXPECT_EQ(canapi::wireId(frame(0x1E01, {})), 0x601u);
    EXPECT_EQ(canapi::wireId(frame(0x12345, {}, API_FRAME_EXT)), 0x12345u);
    // The frame on the wire, and so its length, is the one of the low bits.
    EXPECT_EQ(canapi::frameBits(frame(0x1205, {0xD8, 0x03, 0x11})), 75);
}

TEST(BusTiming, LengthAboveEightCarriesEightBytes)
{
    ApiFrame f = frame(0x205, {1, 2, 3, 4, 5, 6, 7, 8});
    const int eight = canapi::frameBits(f) - canapi::stuffBits(f);
    f.length = 12;
    EXPECT_EQ(canapi::frameBits(f) - canapi::stuffBits(f), eight);
}

TEST(BusTiming, RemoteFrameHasNoDataField)
{
    ApiFrame f = frame(0x300, {1, 2, 3, 4});
    f.type = API_FRAME_RTR;
    EXPECT_EQ(canapi::frameBits(f) - canapi::stuffBits(f), 47);
}

struct RateCase
{
    uint16_t word;
    uint32_t rate;
};

class BusTimingWord : public ::testing::TestWithParam<RateCase>
{};

TEST_P(BusTimingWord, GivesTheDriversBitRate)
{
    EXPECT_EQ(canapi::bitRateFromBusTiming(GetParam().word), GetParam().rate);
}

INSTANTIATE_TEST_SUITE_P(DriverTable, BusTimingWord,
                         ::testing::Values(RateCase{0xE7B4, 20000}, RateCase{0xCFB4, 50000},
                                           RateCase{0xC7B4, 100000}, RateCase{0xC723, 125000},
                                           RateCase{0x0323, 250000}, RateCase{0x0014, 1000000},
                                           // 500 kbit/s in the SJA1000 notation, not in the driver's table
                                           RateCase{0x001C, 500000}));

TEST(BusTiming, WordsWithoutAUsableRateAreRefused)
{
    EXPECT_EQ(canapi::bitRateFromBusTiming(0x0000), 0u); // 2.67 Mbit/s
    EXPECT_EQ(canapi::bitRateFromBusTiming(0x0011), 0u); // 16 MHz / 10: above 1 Mbit/s
    EXPECT_EQ(canapi::bitRateFromBusTiming(0x0214), 0u); // 16 MHz / 48: no whole rate
}

} // namespace
