#include "statustexts.h"

#include <gtest/gtest.h>

namespace {

struct EndCase
{
    std::optional<QString> errorLine;
    bool crashed;
    int exitCode;
    const char *text;
    StatusColour colour;
};

// The child's own Error: line says most, a crash more than an exit code.
TEST(StatusTexts, ScanEndNamesTheStrongestReason)
{
    const EndCase cases[] = {
        {QStringLiteral("Error: No module logged on"), true, 2, "Error: No module logged on", StatusColour::Red},
        {{}, true, 0, "tarvCanFlash stopped unexpectedly", StatusColour::Red},
        {{}, true, 3, "tarvCanFlash stopped unexpectedly", StatusColour::Red},
        {{}, false, 2, "tarvCanFlash ended with exit code 2", StatusColour::Red},
        {{}, false, 0, "Scan: 3 modules found", StatusColour::Green},
    };
    for (const EndCase &c : cases) {
        const StatusChange status = scanEndStatus(c.errorLine, c.crashed, c.exitCode, 3);
        EXPECT_EQ(status.message, QLatin1String(c.text));
        EXPECT_EQ(status.colour, c.colour) << c.text;
        EXPECT_FALSE(status.repaintNow);
    }
}

TEST(StatusTexts, StoppedRunOrScanSaysHowItsChildEnded)
{
    struct Case
    {
        bool scan;
        EndCase end;
    };
    const Case cases[] = {
        {false,
         {QStringLiteral("Error: Modules not updated: 208"), true, 2,
          "Run stopped: Error: Modules not updated: 208", StatusColour::Red}},
        {true,
         {{}, true, 0, "Scan stopped: tarvCanFlash was ended before its closing sequence", StatusColour::Red}},
        {false, {{}, false, 2, "Run stopped: tarvCanFlash ended with exit code 2", StatusColour::Red}},
        {true, {{}, false, 0, "Scan stopped: tarvCanFlash ended with exit code 0", StatusColour::Red}},
    };
    for (const Case &c : cases) {
        const StatusChange status = stoppedStatus(c.scan, c.end.errorLine, c.end.crashed, c.end.exitCode);
        EXPECT_EQ(status.message, QLatin1String(c.end.text));
        EXPECT_EQ(status.colour, StatusColour::Red) << c.end.text;
    }
}

TEST(StatusTexts, OnlyAnUncleanEndOfARunIsReported)
{
    EXPECT_FALSE(unexpectedEndStatus(false, 0));
    ASSERT_TRUE(unexpectedEndStatus(false, 1));
    EXPECT_EQ(unexpectedEndStatus(false, 1)->message, QLatin1String("tarvCanFlash ended with exit code 1"));
    ASSERT_TRUE(unexpectedEndStatus(true, 0));
    EXPECT_EQ(unexpectedEndStatus(true, 0)->message, QLatin1String("tarvCanFlash stopped unexpectedly"));
    EXPECT_EQ(unexpectedEndStatus(true, 0)->colour, StatusColour::Red);
}

// Ids are hexadecimal, with the CAN line in bits 12..15, as the table shows them.
TEST(StatusTexts, StopQuestionNamesTheModuleInWork)
{
    EXPECT_EQ(stopRunQuestion(std::nullopt),
              QLatin1String("A run is going; no module has been named yet.\n\nStop the run?"));
    EXPECT_EQ(stopRunQuestion(0x1208u),
              QLatin1String("A run is going. Stopping it leaves module 1208, the one in work, in update mode; "
                            "it must be updated again.\n\nStop the run?"));
}

TEST(StatusTexts, ScanNoteNamesTheScannedBus)
{
    EXPECT_EQ(
        scanNoteText(QStringLiteral("PCAN-USB"), QStringLiteral("250"), QStringLiteral("3")),
        QLatin1String("These modules were scanned on PCAN-USB, 250 kBit/s, channel 3. Start refuses them on "
                      "the bus chosen now: scan the bus again, or choose the scan's bus."));
}

} // namespace
