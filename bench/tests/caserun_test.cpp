// The run of one case, with a stand-in for tarvCanFlash: a script that does
// what the case's checks look at (output lines, exit code, images, the bus
// statistics file), so that every way a run can fail is seen as a failure.
#include "caserun.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

// The script gets the flasher's arguments: PCAN_USB RATE LINE FILE CLOSE_AUTO.
const char *const kHeader = R"sh(#!/bin/sh
ini="$TARVCAN_CONFIG"
firmware="$4"
stats=$(sed -n 's/^stats = "\(.*\)"$/\1/p' "$ini")
images=$(sed -n 's/^image = "\(.*\)"$/\1/p' "$ini" | sed "s|^|$(dirname "$ini")/|")
write_images() { for image in $images; do cp "$firmware" "$image"; done; }
write_stats() {
  printf '%s\n' \
    '{"event":"phase","atNs":1000000000,"module":520,"phase":"flash","frames":10,"bits":1000,"busyNs":1000,"sumLatenessNs":0,"maxLatenessNs":0}' \
    '{"event":"phase","atNs":3000000000,"module":520,"phase":"compare","frames":20,"bits":2000,"busyNs":1000001000,"sumLatenessNs":40000,"maxLatenessNs":9000}' \
    '{"event":"phase","atNs":4500000000,"module":520,"phase":"restarting","frames":30,"bits":3000,"busyNs":2000001000,"sumLatenessNs":50000,"maxLatenessNs":1000}' \
    '{"event":"end","atNs":5000000000,"frames":31,"bits":3100,"busyNs":2000002000,"sumLatenessNs":62000,"maxLatenessNs":9000,"threadCpuNs":0,"realtime":true}' \
    > "$stats"
}
)sh";

class CaseRun : public testing::Test
{
protected:
    bench::CaseResult run(const std::string &body, const bench::Case &c = bench::Case{1, 16, 1000, 1})
    {
        const QString script = dir_.filePath(QStringLiteral("fake-flasher"));
        QFile file(script);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(kHeader);
        file.write(body.c_str());
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QString work = dir_.filePath(QStringLiteral("work"));
        QDir().mkpath(work);
        return bench::runCase(c, bench::Programs{script.toStdString(), "/nonexistent/tarvModuleSim"},
                              work.toStdString());
    }
    QTemporaryDir dir_;
};

TEST_F(CaseRun, ACompleteRunGivesItsFigures)
{
    const bench::CaseResult r =
        run("write_images; write_stats; echo 'Finish: Update Process needed 5 seconds.'; sleep 0.3\n");
    ASSERT_TRUE(r.ok) << r.problem;
    EXPECT_EQ(r.lines, 1024 / 16 + 2);
    EXPECT_EQ(r.flash.passes, 1);
    EXPECT_DOUBLE_EQ(r.flash.wallS, 2.0);
    // 1 s of frames, 500 ms after command 3, 1 ms after every line but the first.
    EXPECT_NEAR(r.flash.floorS, 1.0 + 0.5 + 0.065, 1e-9);
    EXPECT_EQ(r.compare.passes, 1);
    EXPECT_DOUBLE_EQ(r.compare.wallS, 1.5);
    EXPECT_NEAR(r.compare.floorS, 1.5, 1e-9);
    EXPECT_DOUBLE_EQ(r.compare.ratio, 1.0);
    EXPECT_DOUBLE_EQ(r.busMaxLatenessUs, 9.0);
    EXPECT_DOUBLE_EQ(r.busMeanLatenessUs, 2.0);
    EXPECT_TRUE(r.busRealtime);
    EXPECT_GT(r.peakRssMiB, 0.0);
    EXPECT_GT(r.runS, 0.0);
}

struct Failure
{
    const char *what;
    const char *body;
    const char *problem; // part of the reported problem
};

class CaseRunFailure : public CaseRun, public testing::WithParamInterface<Failure>
{};

TEST_P(CaseRunFailure, IsReportedWithItsCause)
{
    const bench::CaseResult r = run(GetParam().body);
    EXPECT_FALSE(r.ok) << GetParam().what;
    EXPECT_NE(r.problem.find(GetParam().problem), std::string::npos) << r.problem;
}

INSTANTIATE_TEST_SUITE_P(
    Ways, CaseRunFailure,
    testing::Values(
        Failure{"exit code", "write_images; write_stats; echo 'Finish: x'; exit 2\n", "exit code 2"},
        Failure{"error line",
                "write_images; write_stats; echo 'Error: CAN-Bus not OK: BUSOFF' >&2; echo 'Finish: x'\n",
                "Error: CAN-Bus not OK"},
        Failure{"no final line", "write_images; write_stats\n", "no Finish: line"},
        Failure{"crash", "write_images; write_stats; kill -SEGV $$\n", "signal 11"},
        Failure{"image missing", "write_stats; echo 'Finish: x'\n", "module-1.s3"},
        Failure{
            "image differs",
            "write_images; write_stats; for i in $images; do echo S804000000FB > $i; done; echo 'Finish: x'\n",
            "module-1.s3"},
        Failure{"no statistics", "write_images; echo 'Finish: x'\n", "no bus statistics"},
        Failure{"pass missing", "write_images; write_stats; sed -i '/compare/d' \"$stats\"; echo 'Finish: x'\n",
                "0 compare passes"}));

TEST_F(CaseRun, AMissingProgramIsAFailedCase)
{
    const bench::CaseResult r = bench::runCase(bench::Case{1, 16, 1000, 1},
                                               bench::Programs{"/nonexistent/tarvCanFlash", "/nonexistent/sim"},
                                               dir_.path().toStdString());
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.problem.find("/nonexistent/tarvCanFlash"), std::string::npos) << r.problem;
}

} // namespace
