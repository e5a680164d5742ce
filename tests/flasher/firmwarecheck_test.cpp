#include "firmwarecheck.h"

#include <gtest/gtest.h>

#include <QBuffer>

using firmwarecheck::LineProblem;

namespace {

struct LineCase
{
    const char *name;
    QByteArray line;
    LineProblem problem;
};

class RecordLines : public testing::TestWithParam<LineCase> {};

TEST_P(RecordLines, Table)
{
    EXPECT_EQ(firmwarecheck::checkLine(GetParam().line), GetParam().problem) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, RecordLines,
    testing::Values(
        LineCase{"header", "S00600004844521B\r\n", LineProblem::None},
        LineCase{"data S1", "S10510000102E7\n", LineProblem::None},
        LineCase{"data S2", "S214002000101112131415161718191A1B1C1D1E1F53", LineProblem::None},
        LineCase{"end S9", "S9030000FC", LineProblem::None},
        LineCase{"lower-case hex", "s9030000fc", LineProblem::NotSRecord},
        LineCase{"lower-case digits", "S9030000fc", LineProblem::None},
        LineCase{"white space around", "  S9030000FC \t\r\n", LineProblem::None},
        LineCase{"blank", " \t\r\n", LineProblem::None},
        LineCase{"wrong checksum", "S9030000FD", LineProblem::BadChecksum},
        LineCase{"count too big", "S9040000FC", LineProblem::BadCount},
        LineCase{"count below address", "S902FD", LineProblem::BadCount},
        LineCase{"odd hex digits", "S9030000FC0", LineProblem::NotSRecord},
        LineCase{"non-hex", "S90300G0FC", LineProblem::NotSRecord},
        LineCase{"inner blank", "S903 0000FC", LineProblem::NotSRecord},
        LineCase{"reserved S4", "S4030000FC", LineProblem::NotSRecord},
        LineCase{"no S", ":10010000214601360121470136007EFE09D2190140", LineProblem::NotSRecord},
        LineCase{"text", "hello", LineProblem::NotSRecord},
        LineCase{"NUL byte", QByteArray("S9030000FC\0", 11), LineProblem::NotPrintable},
        LineCase{"high byte", "S9030000FC\xC3\xA4", LineProblem::NotPrintable},
        LineCase{"too long", "S3" + QByteArray(600, 'A'), LineProblem::TooLong}),
    [](const auto &info) { return std::to_string(info.index); });

TEST(RecordLines, LongestRecordPassesOneMoreByteDoesNot)
{
    // S3, count 0xFF: 4 address bytes, 250 data bytes, checksum.
    QByteArray bytes(1, static_cast<char>(0xFF));
    bytes.append(QByteArray(254, '\0'));
    unsigned sum = 0xFF;
    bytes.append(static_cast<char>(~sum & 0xFF));
    const QByteArray record = "S3" + bytes.toHex().toUpper();
    ASSERT_EQ(record.size(), 514);
    EXPECT_EQ(firmwarecheck::checkLine(record), LineProblem::None);
    EXPECT_EQ(firmwarecheck::checkLine(record + "0"), LineProblem::TooLong);
}

firmwarecheck::FileCheck checkText(const QByteArray &text)
{
    QByteArray data = text;
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    return firmwarecheck::checkFile(buffer, "K3B7_421.hex");
}

TEST(FirmwareFile, AcceptsRecordsWithBlankLinesAndNoFinalLineEnd)
{
    const auto check = checkText("S00600004844521B\r\n\r\nS10510000102E7\r\nS9030000FC");
    EXPECT_TRUE(check.ok);
    EXPECT_EQ(check.lines, 4);
}

TEST(FirmwareFile, NamesTheFirstBadLine)
{
    const auto check = checkText("S00600004844521B\nS10510000102E7\nS1 garbage\nS9030000FD\n");
    EXPECT_FALSE(check.ok);
    EXPECT_EQ(check.lineNumber, 3);
    EXPECT_EQ(check.message, "Error: Firmware file 'K3B7_421.hex': line 3 is not an S-record");
}

// Without a data record the flash pass would only erase the modules.
TEST(FirmwareFile, RefusesAFileWithoutDataRecord)
{
    for (const QByteArray &text : {QByteArray(), QByteArray("\r\n  \n"), QByteArray("S00600004844521B\r\n"),
                                   QByteArray("S00600004844521B\nS5030001FB\nS9030000FC\n")}) {
        const auto check = checkText(text);
        EXPECT_FALSE(check.ok) << text.constData();
        EXPECT_EQ(check.message, "Error: Firmware file 'K3B7_421.hex' holds no data record (S1, S2 or S3)");
    }
}

TEST(FirmwareFile, RefusesBinaryAndEndlessLines)
{
    const auto binary = checkText("S00600004844521B\n\x7F\x45\x4C\x46\x02\n");
    EXPECT_FALSE(binary.ok);
    EXPECT_EQ(binary.lineNumber, 2);
    EXPECT_TRUE(binary.message.contains("not printable"));

    const auto endless = checkText("S00600004844521B\n" + QByteArray(100000, ' ') + "S9030000FC\n");
    EXPECT_FALSE(endless.ok);
    EXPECT_EQ(endless.lineNumber, 2);
    EXPECT_TRUE(endless.message.contains("longer than the longest S-record"));
}

} // namespace
