#include "firmwarefile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <utility>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

struct FileCase
{
    const char *name;
    QByteArray content;
    FirmwareFileCheck expected;
};

class FirmwareFileTest : public ::testing::TestWithParam<FileCase>
{};

TEST_P(FirmwareFileTest, FirstLineDecides)
{
    const FileCase &c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("K3B7_421.hex"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(c.content);
    file.close();
    EXPECT_EQ(checkFirmwareFile(path), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Contents, FirmwareFileTest,
    ::testing::Values(FileCase{"s0_header", "S00600004844521B\nS1130000\nS9030000FC\n", FirmwareFileCheck::Valid},
                      FileCase{"s0_crlf", "S00600004844521B\r\nS9030000FC\r\n", FirmwareFileCheck::Valid},
                      FileCase{"s0_only_no_line_end", "S0", FirmwareFileCheck::Valid},
                      FileCase{"intel_hex", ":100000000C9434000C94\n", FirmwareFileCheck::Invalid},
                      FileCase{"leading_blank", " S00600004844521B\n", FirmwareFileCheck::Invalid},
                      FileCase{"s1_first", "S1130000\nS00600004844521B\n", FirmwareFileCheck::Invalid},
                      FileCase{"lower_case", "s00600004844521B\n", FirmwareFileCheck::Invalid},
                      FileCase{"empty_first_line", "\nS00600004844521B\n", FirmwareFileCheck::Invalid},
                      FileCase{"single_s", "S", FirmwareFileCheck::Invalid},
                      FileCase{"empty_file", "", FirmwareFileCheck::Invalid}),
    [](const ::testing::TestParamInfo<FileCase> &info) { return std::string(info.param.name); });

TEST(FirmwareFile, MissingFileOrFolderCannotBeOpened)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    EXPECT_EQ(checkFirmwareFile(dir.filePath("missing.hex")), FirmwareFileCheck::CannotOpen);
    EXPECT_EQ(checkFirmwareFile(dir.path()), FirmwareFileCheck::CannotOpen);
}

TEST(FirmwareFile, UnreadableFileCannotBeOpened)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "file permissions do not bind the super-user";
    QTemporaryDir dir;
    const QString path = dir.filePath("locked.hex");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("S00600004844521B\n");
    file.close();
    ASSERT_TRUE(file.setPermissions(QFileDevice::WriteOwner));
    EXPECT_EQ(checkFirmwareFile(path), FirmwareFileCheck::CannotOpen);
}

} // namespace

TEST(FirmwareFile, RefusalLinesOfTheConsoleProgram)
{
    const std::pair<const char *, bool> cases[] = {
        {"Error: Firmware file 'K3B7.hex': line 3 counts 2 data records, but 1 come before it", true},
        {"Can not open file 'K3B7.hex'", true},
        {"Error: Firmware file 'K3B7.hex' cannot be opened: No such file or directory", true},
        {"Error: CAN-Connection lost", false},
        {"Cannot open file", false},
        {"\"\" Module 208 not updated: Firmware file 'x' refused", false},
    };
    for (const auto &[line, refuses] : cases)
        EXPECT_EQ(refusesFirmwareFile(line), refuses) << line;
}
