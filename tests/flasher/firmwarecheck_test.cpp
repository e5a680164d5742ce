#include "firmwarecheck.h"
#include "firmwarefile.h"
#include "srecord.h"

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

class RecordLines : public testing::TestWithParam<LineCase>
{};

TEST_P(RecordLines, Table)
{
    EXPECT_EQ(firmwarecheck::checkLine(GetParam().line), GetParam().problem) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, RecordLines,
    testing::Values(LineCase{"header", "S00600004844521B\r\n", LineProblem::None},
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
    const QByteArray record = testkit::sRecord(3, 0, QByteArray(250, '\0'));
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

// A file made of good records can still not be what its maker wrote: cut
// short, records dropped or added, two images run together.
struct FileCase
{
    const char *name;
    QList<QByteArray> records;
    int badLine;         // 0: the file as a whole; -1: accepted
    const char *message; // after "Error: Firmware file 'K3B7_421.hex'"
};

QByteArray data(int bytes)
{
    return QByteArray(bytes, '\x5A');
}

QByteArray count(int type, uint32_t records)
{
    return testkit::sRecord(type, records, {});
}

const QByteArray Header = testkit::sRecord(0, 0, "K3B7");
const QByteArray End = testkit::sRecord(9, 0, {});

class FirmwareFiles : public testing::TestWithParam<FileCase>
{};

TEST_P(FirmwareFiles, Table)
{
    const FileCase &c = GetParam();
    const auto check = checkText(testkit::joined(c.records));
    EXPECT_EQ(check.ok, c.badLine < 0) << c.name;
    if (c.badLine >= 0) {
        EXPECT_EQ(check.lineNumber, c.badLine) << c.name;
        EXPECT_EQ(check.message, QStringLiteral("Error: Firmware file 'K3B7_421.hex'") + c.message) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, FirmwareFiles,
    testing::Values(
        FileCase{
            "count and end",
            {Header, testkit::sRecord(1, 0x10, data(4)), testkit::sRecord(1, 0x14, data(4)), count(5, 2), End},
            -1,
            ""},
        FileCase{"no count record", {Header, testkit::sRecord(1, 0x10, data(4)), End}, -1, ""},
        FileCase{"S6 count",
                 {Header, testkit::sRecord(2, 0x10000, data(4)), count(6, 1), testkit::sRecord(8, 0, {})},
                 -1,
                 ""},
        FileCase{"descending, touching, and an empty data record",
                 {Header, testkit::sRecord(1, 0x20, data(4)), testkit::sRecord(1, 0x1C, data(4)),
                  testkit::sRecord(1, 0x10, data(12)), testkit::sRecord(1, 0x1E, {}), End},
                 -1,
                 ""},
        FileCase{"records dropped",
                 {Header, testkit::sRecord(1, 0x10, data(4)), count(5, 3), End},
                 3,
                 ": line 3 counts 3 data records, but 1 come before it"},
        FileCase{
            "record added",
            {Header, testkit::sRecord(1, 0x10, data(4)), testkit::sRecord(1, 0x14, data(4)), count(5, 1), End},
            4,
            ": line 4 counts 1 data records, but 2 come before it"},
        FileCase{"cut short",
                 {Header, testkit::sRecord(1, 0x10, data(4)), count(5, 1)},
                 0,
                 " does not end with a termination record (S7, S8 or S9): the file may be cut short"},
        FileCase{"records after the end",
                 {Header, testkit::sRecord(1, 0x10, data(4)), End, testkit::sRecord(1, 0x20, data(4))},
                 0,
                 " does not end with a termination record (S7, S8 or S9): the file may be cut short"},
        FileCase{"same record twice",
                 {Header, testkit::sRecord(1, 0x10, data(4)), testkit::sRecord(1, 0x10, data(4)), End},
                 3,
                 ": line 3 holds data for an address an earlier record already filled"},
        FileCase{"last byte of one, first of the next",
                 {Header, testkit::sRecord(1, 0x10, data(4)), testkit::sRecord(1, 0x13, data(4)), End},
                 3,
                 ": line 3 holds data for an address an earlier record already filled"},
        FileCase{"inside a gap-free stretch, from below",
                 {Header, testkit::sRecord(1, 0x40, data(4)), testkit::sRecord(1, 0x10, data(16)),
                  testkit::sRecord(1, 0x20, data(8)), testkit::sRecord(1, 0x0E, data(3)), End},
                 5,
                 ": line 5 holds data for an address an earlier record already filled"},
        FileCase{"S1 and S3 on one address",
                 {Header, testkit::sRecord(1, 0x10, data(4)), testkit::sRecord(3, 0x12, data(1)), End},
                 3,
                 ": line 3 holds data for an address an earlier record already filled"}),
    [](const auto &info) { return std::to_string(info.index); });

// The name is looked for in the file's own name, never in its folders.
TEST(FirmwareFile, NameFitsTheFilesOwnNameOnly)
{
    const struct
    {
        const char *path;
        const char *name;
        bool fits;
    } cases[] = {
        {"K3B7_421.hex", "K3B7", true},
        {"/tmp/fw/K3B7_421.hex", "K3B7", true},
        {"K3B7_archive/X9Z1_100.hex", "K3B7", false},
        {"/tmp/K3B7/X9Z1_100.hex", "tmp", false},
        {"K3B7_archive/X9Z1_100.hex", "X9Z1", true},
        {"fw/k3b7_421.hex", "K3B7", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(firmwareFits(QString::fromUtf8(c.path), QString::fromUtf8(c.name)), c.fits)
            << c.path << " " << c.name;
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
