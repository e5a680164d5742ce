#include "flashcommand.h"

#include <gtest/gtest.h>

namespace {

TEST(FlasherArguments, FiveArgumentsFileNameWhole)
{
    EXPECT_EQ(flasherArguments({0, "125", "0", "/home/a b/K3B7 421.hex"}),
              QStringList({"PCAN_USB", "125", "0", "/home/a b/K3B7 421.hex", "CLOSE_AUTO"}));
    EXPECT_EQ(flasherArguments({1, "250", "3", "C:/fw/K3B7_421.hex"}),
              QStringList({"PCAN_PCI", "250", "3", "C:/fw/K3B7_421.hex", "CLOSE_AUTO"}));
}

TEST(FlasherNativeArguments, QuotedFileNameNoTrailingBlank)
{
    EXPECT_EQ(flasherNativeArguments({1, "250", "3", "C:/my fw/K3B7_421.hex"}),
              QStringLiteral("PCAN_PCI 250 3 \"C:/my fw/K3B7_421.hex\" CLOSE_AUTO"));
    EXPECT_EQ(flasherNativeArguments({0, "1000", "15", "x.hex"}),
              QStringLiteral("PCAN_USB 1000 15 \"x.hex\" CLOSE_AUTO"));
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
