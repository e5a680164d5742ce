#include "flashcommand.h"

#include <gtest/gtest.h>

namespace {

TEST(FlasherArguments, FiveArgumentsFileNameWhole)
{
    EXPECT_EQ(flasherArguments({0, "125", "0", "/home/a b/K3B7 421.hex", {}}),
              QStringList({"PCAN_USB", "125", "0", "/home/a b/K3B7 421.hex", "CLOSE_AUTO"}));
    EXPECT_EQ(flasherArguments({1, "250", "3", "C:/fw/K3B7_421.hex", {}}),
              QStringList({"PCAN_PCI", "250", "3", "C:/fw/K3B7_421.hex", "CLOSE_AUTO"}));
}

TEST(FlasherNativeArguments, QuotedFileNameNoTrailingBlank)
{
    EXPECT_EQ(flasherNativeArguments({1, "250", "3", "C:/my fw/K3B7_421.hex", {}}),
              QStringLiteral("PCAN_PCI 250 3 \"C:/my fw/K3B7_421.hex\" CLOSE_AUTO"));
    EXPECT_EQ(flasherNativeArguments({0, "1000", "15", "x.hex", {}}),
              QStringLiteral("PCAN_USB 1000 15 \"x.hex\" CLOSE_AUTO"));
}

TEST(FlasherArguments, CanIdsSixthWhenGiven)
{
    EXPECT_EQ(flasherArguments({0, "125", "0", "a b.hex", "520,528"}),
              QStringList({"PCAN_USB", "125", "0", "a b.hex", "CLOSE_AUTO", "520,528"}));
    EXPECT_EQ(flasherNativeArguments({0, "125", "0", "a b.hex", "520"}),
              QStringLiteral("PCAN_USB 125 0 \"a b.hex\" CLOSE_AUTO 520"));
}

TEST(ScanArguments, AdapterRateChannelNoFile)
{
    const FlashChoice choice{1, "250", "3", "K3B7.hex", "520"};
    EXPECT_EQ(scanArguments(choice), QStringList({"--scan", "PCAN_PCI", "250", "3"}));
    EXPECT_EQ(scanNativeArguments(choice), QStringLiteral("--scan PCAN_PCI 250 3"));
}

TEST(CanIdsArgument, ChecksToList)
{
    const struct
    {
        const char *what;
        QList<ModuleChoice> modules;
        std::optional<QString> expected;
    } cases[] = {
        {"no scan", {}, QString()},
        {"all checked", {{0x208, true}, {0x1208, true}}, QString()},
        {"line bits dropped, ascending", {{0x210, true}, {0x211, false}, {0x1208, true}}, QString("520,528")},
        {"same id on two lines once", {{0x208, true}, {0x300, false}, {0x1208, true}}, QString("520")},
        {"none checked", {{0x208, false}, {0x1208, false}}, std::nullopt},
    };
    for (const auto &c : cases)
        EXPECT_EQ(canIdsArgument(c.modules), c.expected) << c.what;
}

TEST(FlasherProgramIn, BesideTheFrontEnd)
{
#ifdef Q_OS_WIN
    EXPECT_EQ(flasherProgramIn("C:/tarv"), "C:/tarv/tarvCanFlash.exe");
#else
    EXPECT_EQ(flasherProgramIn("/opt/tarv/bin"), "/opt/tarv/bin/tarvCanFlash");
#endif
}

} // namespace
