#include "childrun.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <vector>

namespace {

using namespace std::chrono_literals;

class ChildRun : public testing::Test
{
protected:
    bench::ChildSpec shell(const std::string &script)
    {
        bench::ChildSpec spec;
        spec.program = "/bin/sh";
        spec.args = {"-c", script};
        spec.stdoutPath = dir_.filePath("out.txt").toStdString();
        spec.stderrPath = dir_.filePath("err.txt").toStdString();
        spec.timeout = 60s;
        return spec;
    }
    QByteArray text(const std::string &path)
    {
        QFile file(QString::fromStdString(path));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    QTemporaryDir dir_;
};

TEST_F(ChildRun, OutputGoesToTheFilesAndTheExitCodeComesBack)
{
    const bench::ChildSpec spec = shell("echo to-out; echo to-err >&2; exit 3");
    const bench::ChildOutcome outcome = bench::runChild(spec);
    EXPECT_TRUE(outcome.started);
    EXPECT_EQ(outcome.exitCode, 3);
    EXPECT_EQ(outcome.signal, 0);
    EXPECT_FALSE(outcome.timedOut);
    EXPECT_EQ(text(spec.stdoutPath), "to-out\n");
    EXPECT_EQ(text(spec.stderrPath), "to-err\n");
}

TEST_F(ChildRun, AddedVariablesReachTheChildAndReplaceInheritedOnes)
{
    setenv("TARV_BENCH_PROBE", "inherited", 1);
    bench::ChildSpec spec = shell("echo \"$TARV_BENCH_PROBE|$HOME\"");
    spec.env = {{"TARV_BENCH_PROBE", "given value"}};
    const bench::ChildOutcome outcome = bench::runChild(spec);
    unsetenv("TARV_BENCH_PROBE");
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(text(spec.stdoutPath), QByteArray("given value|") + qgetenv("HOME") + "\n");
}

TEST_F(ChildRun, StandardInputIsEmpty)
{
    const bench::ChildSpec spec = shell("cat; echo end");
    EXPECT_EQ(bench::runChild(spec).exitCode, 0);
    EXPECT_EQ(text(spec.stdoutPath), "end\n");
}

TEST_F(ChildRun, CpuTimeOfTheChildIsCounted)
{
    const bench::ChildSpec spec = shell("i=0; while [ $i -lt 300000 ]; do i=$((i+1)); done");
    const bench::ChildOutcome outcome = bench::runChild(spec);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_GT(outcome.cpuS, 0.01);
    EXPECT_GE(outcome.wallS, outcome.cpuS * 0.5);
}

TEST_F(ChildRun, PeakMemoryIsTheChildsOwn)
{
    // The shell keeps the 40 MB of text in its own memory while it sleeps.
    const bench::ChildOutcome big =
        bench::runChild(shell("x=$(head -c 40000000 /dev/zero | tr '\\0' a); sleep 1"));
    EXPECT_EQ(big.exitCode, 0);
    EXPECT_GE(big.maxRssKiB, 39000);

    // Memory this process holds when it starts the child is not the child's.
    std::vector<char> ballast(160u << 20, 1);
    const bench::ChildOutcome small = bench::runChild(shell("sleep 1"));
    EXPECT_EQ(small.exitCode, 0);
    EXPECT_GT(small.maxRssKiB, 0);
    EXPECT_LT(small.maxRssKiB, 20000) << "ballast of " << ballast.size() << " bytes counted";
}

TEST_F(ChildRun, AChildThatOutstaysItsTimeIsKilled)
{
    bench::ChildSpec spec = shell("sleep 60");
    spec.timeout = 1s;
    const bench::ChildOutcome outcome = bench::runChild(spec);
    EXPECT_TRUE(outcome.timedOut);
    EXPECT_EQ(outcome.signal, SIGKILL);
    EXPECT_EQ(outcome.exitCode, -1);
    EXPECT_LT(outcome.wallS, 50.0);
}

TEST_F(ChildRun, AMissingProgramIsReported)
{
    bench::ChildSpec spec = shell("");
    spec.program = "/nonexistent/tarvCanFlash";
    const bench::ChildOutcome outcome = bench::runChild(spec);
    EXPECT_FALSE(outcome.started);
    EXPECT_NE(outcome.error.find("/nonexistent/tarvCanFlash"), std::string::npos);
}

} // namespace
