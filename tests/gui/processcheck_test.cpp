#include "processcheck.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

struct MatchCase
{
    const char *executable;
    const char *listed;
    bool match;
};

class IsListedProgramTest : public ::testing::TestWithParam<MatchCase>
{};

TEST_P(IsListedProgramTest, WholeNameWithOrWithoutExe)
{
    const MatchCase &c = GetParam();
    EXPECT_EQ(isListedProgram(QString::fromLatin1(c.executable), QString::fromLatin1(c.listed)), c.match)
        << c.executable << " vs " << c.listed;
}

INSTANTIATE_TEST_SUITE_P(Names, IsListedProgramTest,
                         ::testing::Values(MatchCase{"PcanView.exe", "PcanView.exe", true},
                                           MatchCase{"PcanView", "PcanView.exe", true},
                                           MatchCase{"pcanview.exe", "PcanView.exe", false},
                                           MatchCase{"PCANVIEW", "PcanView.exe", false},
                                           MatchCase{"tarvCanFlash", "tarvCanFlash.exe", true},
                                           MatchCase{"tarvCanFlashGui", "tarvCanFlash.exe", false},
                                           MatchCase{"tarvCanFlashGui.exe", "tarvCanFlash.exe", false},
                                           MatchCase{"xtarvCanFlash", "tarvCanFlash.exe", false},
                                           MatchCase{"tarvCanFlash.ex", "tarvCanFlash.exe", false},
                                           MatchCase{"tarvCanFlash.exe.bak", "tarvCanFlash.exe", false},
                                           MatchCase{"", "tarvCanFlash.exe", false},
                                           MatchCase{".exe", "tarvCanFlash.exe", false}));

TEST(ConflictingPrograms, FiveNamesInReportOrder)
{
    EXPECT_EQ(conflictingPrograms(), QStringList({"PcanView.exe", "tarvBusSetup.exe", "tarvCanFlash.exe",
                                                  "tarvHvPanel.exe", "tarvDataServer.exe"}));
}

TEST(FindConflictingPrograms, ListOrderEachOnce)
{
    const QStringList running{
        "bash", "tarvHvPanel", "systemd", "PcanView.exe", "tarvHvPanel.exe", "tarvCanFlashGui", "PcanView"};
    EXPECT_EQ(findConflictingPrograms(running), QStringList({"PcanView.exe", "tarvHvPanel.exe"}));
}

TEST(FindConflictingPrograms, NothingRunningNothingFound)
{
    EXPECT_TRUE(findConflictingPrograms({}).isEmpty());
    EXPECT_TRUE(findConflictingPrograms({"tarvCanFlashGui", "tarvdataserver.exe", "init"}).isEmpty());
}

TEST(ShownProgramName, ExeOnlyOnWindows)
{
    EXPECT_EQ(shownProgramName("PcanView.exe", true), "PcanView.exe");
    EXPECT_EQ(shownProgramName("PcanView.exe", false), "PcanView");
    EXPECT_EQ(shownProgramName("tarvexe", false), "tarvexe");
}

TEST(ExecutableFileName, EitherSeparator)
{
    EXPECT_EQ(executableFileName("/usr/bin/tarvCanFlash"), "tarvCanFlash");
    EXPECT_EQ(executableFileName("C:\\Program Files\\PEAK\\PcanView.exe"), "PcanView.exe");
    EXPECT_EQ(executableFileName("Z:/opt\\tarv/tarvHvPanel.exe"), "tarvHvPanel.exe");
    EXPECT_EQ(executableFileName("PcanView.exe"), "PcanView.exe");
    EXPECT_EQ(executableFileName("/usr/bin/"), "");
    EXPECT_EQ(executableFileName(""), "");
}

// A procfs look-alike: one folder per process id.
class FakeProc
{
public:
    FakeProc() { EXPECT_TRUE(dir.isValid()); }
    QString root() const { return dir.path(); }

    QString process(const QString &pid)
    {
        const QString path = dir.filePath(pid);
        EXPECT_TRUE(QDir().mkpath(path));
        return path;
    }
    void write(const QString &pid, const QString &name, const QByteArray &content)
    {
        QFile file(process(pid) + QLatin1Char('/') + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    void linkExe(const QString &pid, const QString &target)
    {
        ASSERT_TRUE(QFile::link(target, process(pid) + QStringLiteral("/exe")));
    }

private:
    QTemporaryDir dir;
};

TEST(ReadProcExecutables, NamesFromLinkArgv0AndCommand)
{
    FakeProc proc;
    proc.linkExe("12", "/usr/lib/wine/wine64-preloader");
    proc.write("12", "cmdline", QByteArray("C:\\Program Files\\PEAK\\PcanView.exe\0-x\0", 39));
    proc.write("12", "comm", "PcanView.exe\n");
    proc.linkExe("345", "/opt/tarv/bin/tarvCanFlash (deleted)");
    proc.write("345", "cmdline", QByteArray("./tarvCanFlash\0PCAN_USB\0", 24));
    proc.write("2", "comm", "kworker/0:1\n");
    proc.write("7", "cmdline", QByteArray("/usr/bin/tarvHvPanel\0", 21));
    proc.write("self", "comm", "tarvDataServer\n");
    proc.write("sys", "cmdline", QByteArray("tarvBusSetup\0", 13));

    const std::optional<QStringList> names = readProcExecutables(proc.root(), QDeadlineTimer(2000));
    ASSERT_TRUE(names);
    QStringList sorted = *names;
    sorted.sort();
    EXPECT_EQ(sorted,
              QStringList({"PcanView.exe", "kworker/0:1", "tarvCanFlash", "tarvHvPanel", "wine64-preloader"}));
    EXPECT_EQ(findConflictingPrograms(*names),
              QStringList({"PcanView.exe", "tarvCanFlash.exe", "tarvHvPanel.exe"}));
}

TEST(ReadProcExecutables, EmptyProcessFolderGivesNoName)
{
    FakeProc proc;
    proc.process("99");
    const std::optional<QStringList> names = readProcExecutables(proc.root(), QDeadlineTimer(2000));
    ASSERT_TRUE(names);
    EXPECT_TRUE(names->isEmpty());
}

TEST(ReadProcExecutables, ExpiredDeadlineOrMissingRootGivesNoList)
{
    FakeProc proc;
    proc.write("1", "comm", "init\n");
    EXPECT_FALSE(readProcExecutables(proc.root(), QDeadlineTimer(0)));
    EXPECT_FALSE(readProcExecutables(proc.root() + "/missing", QDeadlineTimer(2000)));
}

TEST(SystemProcessList, FindsThisTestProgram)
{
    const std::optional<QStringList> names = systemProcessList(QDeadlineTimer(processListTimeoutMs));
    ASSERT_TRUE(names);
    const QString self = QFileInfo(QFile::symLinkTarget("/proc/self/exe")).fileName();
    ASSERT_FALSE(self.isEmpty());
    EXPECT_TRUE(names->contains(self));
}

} // namespace
