#include "commandline.h"

#include <gtest/gtest.h>

namespace {

QList<QByteArray> args(std::initializer_list<const char *> values)
{
    QList<QByteArray> list;
    for (const char *value : values)
        list.append(value);
    return list;
}

struct CanIdsCase
{
    const char *text;
    std::optional<QList<uint16_t>> expected; // none: the list is refused
};

class CanIdsParse : public testing::TestWithParam<CanIdsCase>
{};

TEST_P(CanIdsParse, Table)
{
    EXPECT_EQ(parseCanIds(QString::fromLatin1(GetParam().text)), GetParam().expected) << GetParam().text;
}

// Empty parts are skipped; any other part that is no 11-bit id refuses the
// whole list, so that a typing error never selects every module.
INSTANTIATE_TEST_SUITE_P(Rules, CanIdsParse,
                         testing::Values(CanIdsCase{"512", QList<uint16_t>{512}},
                                         CanIdsCase{"512,0x208", QList<uint16_t>{512, 520}},
                                         CanIdsCase{"520,520", QList<uint16_t>{520, 520}},
                                         CanIdsCase{"1040,512,,", QList<uint16_t>{1040, 512}},
                                         CanIdsCase{"2047,0x7FF", QList<uint16_t>{2047, 2047}},
                                         CanIdsCase{",,,", QList<uint16_t>{}}, CanIdsCase{"", QList<uint16_t>{}},
                                         CanIdsCase{"512,,abc,0x20A", std::nullopt},
                                         CanIdsCase{"2048", std::nullopt}, CanIdsCase{"70000", std::nullopt},
                                         CanIdsCase{"0x10410", std::nullopt}, CanIdsCase{"12a", std::nullopt},
                                         CanIdsCase{"0xZZ", std::nullopt}, CanIdsCase{"-5", std::nullopt},
                                         CanIdsCase{"0X218", std::nullopt}, CanIdsCase{"5,0x", std::nullopt},
                                         CanIdsCase{" ,", std::nullopt}, CanIdsCase{"CLOSE_AUTO", std::nullopt},
                                         CanIdsCase{"99999999999999999999999", std::nullopt}));

struct PlacementCase
{
    const char *name;
    QList<QByteArray> args;
    std::optional<QString> canIds;
    bool closeAuto;
};

class CanIdsPlacement : public testing::TestWithParam<PlacementCase>
{};

TEST_P(CanIdsPlacement, FifthOrSixthArgument)
{
    const PlacementCase &c = GetParam();
    const CommandLine line = parseCommandLine(c.args);
    ASSERT_EQ(line.check, CommandLine::Check::Accepted) << c.name;
    EXPECT_EQ(line.canIds, c.canIds) << c.name;
    EXPECT_EQ(line.closeAuto, c.closeAuto) << c.name;

    QStringList appArgs{QStringLiteral("tarvCanFlash")};
    for (const QByteArray &arg : c.args)
        appArgs.append(QString::fromLatin1(arg));
    EXPECT_EQ(closeAutomatically(appArgs), c.closeAuto) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, CanIdsPlacement,
    testing::Values(
        PlacementCase{"four", args({"PCAN_USB", "125", "0", "f.hex"}), std::nullopt, false},
        PlacementCase{"close auto", args({"PCAN_USB", "125", "0", "f.hex", "CLOSE_AUTO"}), std::nullopt, true},
        PlacementCase{"list fifth", args({"PCAN_USB", "125", "0", "f.hex", "512,0x208"}), QString("512,0x208"),
                      false},
        PlacementCase{"list sixth", args({"PCAN_USB", "125", "0", "f.hex", "NO", "512"}), QString("512"), false},
        PlacementCase{"close auto and list", args({"PCAN_USB", "125", "0", "f.hex", "CLOSE_AUTO", "512,,0x20A"}),
                      QString("512,,0x20A"), true},
        PlacementCase{"seven: no list", args({"PCAN_USB", "125", "0", "f.hex", "CLOSE_AUTO", "512", "x"}),
                      std::nullopt, true}));

TEST(CommandLineChecks, RefusalsInOrder)
{
    EXPECT_EQ(parseCommandLine(args({"PCAN_USB", "125", "0"})).check, CommandLine::Check::TooFewArguments);
    EXPECT_EQ(parseCommandLine(args({"pcan_usb", "500", "0", "f"})).check, CommandLine::Check::BadInterface);
    EXPECT_EQ(parseCommandLine(args({"PCAN_PCI", "500", "0", "f"})).check, CommandLine::Check::BadBitRate);
    EXPECT_EQ(parseCommandLine(args({"PCAN_PCI", "kbit125", "0", "f"})).check, CommandLine::Check::BadBitRate);
    // CLOSE_AUTO is case-sensitive, so this is a list, and no valid one.
    EXPECT_EQ(parseCommandLine(args({"PCAN_USB", "125", "0", "f", "close_auto"})).check,
              CommandLine::Check::BadCanIds);
    const CommandLine swapped = parseCommandLine(args({"PCAN_USB", "125", "0", "f", "0x208", "CLOSE_AUTO"}));
    EXPECT_EQ(swapped.check, CommandLine::Check::BadCanIds);
    EXPECT_EQ(swapped.canIdsPosition, 6);
}

// A scan takes the line's three arguments and nothing else: a file name after
// them must not pass for a scan, nor a scan for an update of the file "0".
TEST(CommandLineChecks, ScanTakesExactlyTheLine)
{
    const CommandLine scan = parseCommandLine(args({"--scan", "PCAN_PCI", "250", "2"}));
    EXPECT_EQ(scan.check, CommandLine::Check::Accepted);
    EXPECT_TRUE(scan.scan);
    EXPECT_EQ(scan.bitRate, 250);
    EXPECT_EQ(scan.canLine, 2);
    EXPECT_FALSE(parseCommandLine(args({"PCAN_USB", "125", "0", "f"})).scan);
    EXPECT_EQ(parseCommandLine(args({"--scan", "PCAN_USB", "125"})).check, CommandLine::Check::TooFewArguments);
    EXPECT_EQ(parseCommandLine(args({"--scan", "PCAN_USB", "125", "0", "f.hex"})).check,
              CommandLine::Check::TooFewArguments);
    EXPECT_EQ(parseCommandLine(args({"--scan", "PCAN_USB", "125", "16"})).check, CommandLine::Check::BadCanLine);
}

TEST(CommandLineChecks, BitRatesByLeadingInteger)
{
    for (const char *rate : {"125", "250", "1000", "125kbit", " 250", "+1000x"})
        EXPECT_EQ(parseCommandLine(args({"PCAN_USB", rate, "0", "f"})).check, CommandLine::Check::Accepted)
            << rate;
    EXPECT_EQ(parseCommandLine(args({"PCAN_USB", "125kbit", "0", "f"})).bitRate, 125);
}

struct CanLineCase
{
    const char *text;
    int line; // -1: refused
};

class CanLineText : public testing::TestWithParam<CanLineCase>
{};

// The line picks the bus whose modules are updated: only a whole decimal
// number names one, for a run and for a scan alike. Nothing may wrap onto a
// real line either.
TEST_P(CanLineText, WholeDecimalNumberFrom0To15)
{
    const CanLineCase &c = GetParam();
    for (const bool scan : {false, true}) {
        const CommandLine line = parseCommandLine(scan ? args({"--scan", "PCAN_USB", "125", c.text})
                                                       : args({"PCAN_USB", "125", c.text, "f"}));
        EXPECT_EQ(line.check, c.line < 0 ? CommandLine::Check::BadCanLine : CommandLine::Check::Accepted)
            << '"' << c.text << (scan ? "\" in a scan" : "\"");
        if (c.line >= 0) {
            EXPECT_EQ(line.canLine, c.line) << c.text;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Rules, CanLineText,
                         testing::Values(CanLineCase{"0", 0}, CanLineCase{"3", 3}, CanLineCase{"15", 15},
                                         CanLineCase{"007", 7}, CanLineCase{"one", -1}, CanLineCase{"0x1", -1},
                                         CanLineCase{"", -1}, CanLineCase{"1x", -1}, CanLineCase{"12abc", -1},
                                         CanLineCase{" 1", -1}, CanLineCase{"+1", -1}, CanLineCase{"1 ", -1},
                                         CanLineCase{"16", -1}, CanLineCase{"65536", -1},
                                         CanLineCase{"-65536", -1}, CanLineCase{"4294967296", -1},
                                         CanLineCase{"-1", -1}, CanLineCase{"-0", -1},
                                         CanLineCase{"18446744073709551616", -1}));

TEST(CommandLineChecks, NumbersDoNotWrapIntoValidOnes)
{
    // Taken as a plain int, 4294967421 would become 125.
    for (const char *rate : {"4294967421", "18446744073709551741", "-4294967171"})
        EXPECT_EQ(parseCommandLine(args({"PCAN_USB", rate, "0", "f"})).check, CommandLine::Check::BadBitRate)
            << rate;
}

// The scan's two lines follow the update's eight.
TEST(Usage, TenLinesWithTheirIndentation)
{
    const QStringList lines = usageLines();
    ASSERT_EQ(lines.size(), 10);
    EXPECT_TRUE(lines[8].startsWith("        tarvCanFlash --scan "));
    EXPECT_TRUE(lines[0].startsWith("Syntax: tarvCanFlash [PEAK CAN Interface]"));
    for (int i = 1; i <= 6; ++i)
        EXPECT_TRUE(lines[i].startsWith("        ") && lines[i][8] != u' ') << i;
    EXPECT_EQ(lines[7], "     Example: tarvCanFlash PCAN_USB 125 0 K31B7_421.hex");
}

} // namespace
