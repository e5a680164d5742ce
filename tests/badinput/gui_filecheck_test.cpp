// The front end's check of a chosen firmware file, and the command line it
// builds from it, on the same bad input the console program meets. The
// front end looks only at the opening "S0"; the console program refuses the
// rest with an "Error:" line that the front end shows in red.
#include "firmwarefile.h"
#include "flashcommand.h"
#include "srecord.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using testkit::joined;

namespace {

class GuiFileCheck : public ::testing::Test
{
protected:
    QString write(const QString &name, const QByteArray &content)
    {
        const QString path = dir.filePath(name);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        return path;
    }

    QTemporaryDir dir;
};

struct FileCase
{
    const char *what;
    QByteArray content;
    FirmwareFileCheck expected;
};

TEST_F(GuiFileCheck, judgesTheOpeningOfOddFiles)
{
    const QList<QByteArray> records = testkit::firmwareRecords({});
    const FileCase cases[] = {
        {"records with CR LF", joined(records, "\r\n"), FirmwareFileCheck::Valid},
        {"CR-only line ends", joined(records, "\r"), FirmwareFileCheck::Valid},
        {"one 10 MB line", "S0" + QByteArray(10 * 1024 * 1024, '0'), FirmwareFileCheck::Valid},
        {"binary",
         QByteArray("\x7F"
                    "ELF\x02\x01\x01\x00\x00",
                    9),
         FirmwareFileCheck::Invalid},
        {"NUL first", QByteArray("\0S0", 3), FirmwareFileCheck::Invalid},
        {"UTF-8 byte order mark", "\xEF\xBB\xBF" + joined(records, "\n"), FirmwareFileCheck::Invalid},
        {"blank before the header", " " + joined(records, "\n"), FirmwareFileCheck::Invalid},
        {"lower-case header", "s0" + joined(records, "\n").mid(2), FirmwareFileCheck::Invalid},
        {"a lone S", "S", FirmwareFileCheck::Invalid},
        {"empty", {}, FirmwareFileCheck::Invalid},
    };
    int n = 0;
    for (const FileCase &c : cases) {
        const QString path = write(QStringLiteral("case%1.hex").arg(n++), c.content);
        EXPECT_EQ(checkFirmwareFile(path), c.expected) << c.what;
    }
}

TEST_F(GuiFileCheck, refusesWhatCannotBeOpened)
{
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("K3B7_dir.hex"))));
    EXPECT_EQ(checkFirmwareFile(dir.filePath(QStringLiteral("K3B7_dir.hex"))), FirmwareFileCheck::CannotOpen);
    EXPECT_EQ(checkFirmwareFile(dir.filePath(QStringLiteral("missing.hex"))), FirmwareFileCheck::CannotOpen);
    EXPECT_EQ(checkFirmwareFile(QString()), FirmwareFileCheck::CannotOpen);
}

// Choosing a named pipe must not freeze the window: opening one for reading
// waits for a writer.
TEST_F(GuiFileCheck, namedPipeDoesNotBlock)
{
    const QByteArray pipe = QFile::encodeName(dir.filePath(QStringLiteral("K3B7_pipe.hex")));
    ASSERT_EQ(::mkfifo(pipe.constData(), 0600), 0);
    auto check = std::async(std::launch::async, [&] { return checkFirmwareFile(QFile::decodeName(pipe)); });
    const bool returned = check.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    if (!returned) {
        // A writer that comes and goes releases the blocked open.
        const int fd = ::open(pipe.constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
    }
    const FirmwareFileCheck result = check.get();
    EXPECT_TRUE(returned) << "checking a named pipe blocked";
    EXPECT_NE(result, FirmwareFileCheck::Valid);
}

TEST_F(GuiFileCheck, nameWithBlanksAndNonAsciiStaysOneArgument)
{
    const QString path = write(QStringLiteral("fw dir/Übergröße ñ ✓/K3B7 Fïrmwäre  4.21 ✓.hex"),
                               joined(testkit::firmwareRecords({})));
    EXPECT_EQ(checkFirmwareFile(path), FirmwareFileCheck::Valid);

    const FlashChoice choice{1, QStringLiteral("250"), QStringLiteral("3"), path, QString()};
    const QStringList args = flasherArguments(choice);
    ASSERT_EQ(args.size(), 5);
    EXPECT_EQ(args[3], path);
    EXPECT_EQ(args[4], QStringLiteral("CLOSE_AUTO"));
    const QString native = flasherNativeArguments(choice);
    EXPECT_TRUE(native.contains(u'"' + path + u'"')) << native.toStdString();
    EXPECT_TRUE(native.endsWith(QStringLiteral("\" CLOSE_AUTO"))) << native.toStdString();
}

} // namespace
