#include "frontendsettings.h"

#include <gtest/gtest.h>

namespace {

using namespace FrontEndSettings;

const QStringList hardwareItems{"Peak CAN USB Interface", "Peak CAN PCI Interface Cards"};
const QStringList bitRateItems{"125", "250", "1000"};

struct ContainCase
{
    const char *name;
    QStringList items;
    QString value;
    int current;
    int expected;
};

class FirstItemContainingTest : public ::testing::TestWithParam<ContainCase>
{};

TEST_P(FirstItemContainingTest, SelectsFirstContainingItem)
{
    const ContainCase &c = GetParam();
    EXPECT_EQ(firstItemContaining(c.items, c.value, c.current), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Stored, FirstItemContainingTest,
                         ::testing::Values(ContainCase{"usb", hardwareItems, "USB", 1, 0},
                                           ContainCase{"pci", hardwareItems, "PCI", 0, 1},
                                           ContainCase{"empty_hardware", hardwareItems, "", 1, 0},
                                           ContainCase{"lower_case_pci_unknown", hardwareItems, "pci", 0, 0},
                                           ContainCase{"unknown_keeps_current", hardwareItems, "LAN", 1, 1},
                                           ContainCase{"rate_1000", bitRateItems, "1000", 0, 2},
                                           ContainCase{"rate_25_is_in_125", bitRateItems, "25", 2, 0},
                                           ContainCase{"rate_50_is_in_250", bitRateItems, "50", 0, 1},
                                           ContainCase{"rate_00_is_in_1000", bitRateItems, "00", 0, 2},
                                           ContainCase{"rate_500_unknown", bitRateItems, "500", 1, 1},
                                           ContainCase{"no_items", QStringList{}, "", 0, 0}),
                         [](const ::testing::TestParamInfo<ContainCase> &info) {
                             return std::string(info.param.name);
                         });

TEST(ChannelFromSetting, ChannelsZeroToFifteenElseZero)
{
    EXPECT_EQ(channelFromSetting(QVariant(0)), 0);
    EXPECT_EQ(channelFromSetting(QVariant(7)), 7);
    EXPECT_EQ(channelFromSetting(QVariant(15)), 15);
    EXPECT_EQ(channelFromSetting(QVariant("12")), 12);
    EXPECT_EQ(channelFromSetting(QVariant(16)), 0);
    EXPECT_EQ(channelFromSetting(QVariant(-1)), 0);
    EXPECT_EQ(channelFromSetting(QVariant("abc")), 0);
    EXPECT_EQ(channelFromSetting(QVariant("3x")), 0);
    EXPECT_EQ(channelFromSetting(QVariant()), 0);
}

TEST(HardwareSetting, UsbOnlyForTheUsbItem)
{
    EXPECT_EQ(hardwareSetting("Peak CAN USB Interface"), "USB");
    EXPECT_EQ(hardwareSetting("Peak CAN PCI Interface Cards"), "PCI");
    EXPECT_EQ(hardwareSetting("usb"), "PCI");
    EXPECT_EQ(hardwareSetting(""), "PCI");
}

} // namespace
