#include "report.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

namespace {

bench::CaseResult result(bench::Case c, double flashRatio, double compareRatio, double cpuPercent,
                         double net = 1.0)
{
    bench::CaseResult r;
    r.c = c;
    r.ok = true;
    r.lines = 1026;
    r.runS = 16.5;
    r.flash = {1, 3.3 * flashRatio, 3.3, 1.5, flashRatio, 4.9, 2.0, 30.0};
    r.compare = {1, 2.0 * compareRatio, 2.0, 0.5, compareRatio, 8.0, 2.0, 30.0};
    r.cpu.flasherPercent = cpuPercent;
    r.cpu.threadPercent = {{"tarvUpdate", cpuPercent / 2}};
    r.peakRssMiB = 14.7;
    // Makes msPerKiBModule() come out as `net`.
    r.flash.pausesS = r.flash.wallS + r.compare.wallS - r.compare.pausesS - net * c.dataKiB * c.modules / 1000.0;
    return r;
}

std::vector<size_t> barColumns(const std::string &line)
{
    std::vector<size_t> columns;
    for (size_t i = line.find('|'); i != std::string::npos; i = line.find('|', i + 1))
        columns.push_back(i);
    return columns;
}

TEST(JsonLine, CarriesTheCaseAndItsFigures)
{
    const bench::CaseResult r = result(bench::Case{256, 32, 125, 4}, 1.07, 1.03, 2.5);
    QJsonParseError error;
    const QJsonObject o = QJsonDocument::fromJson(bench::jsonLine(r), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    EXPECT_FALSE(bench::jsonLine(r).contains('\n'));
    EXPECT_EQ(o["case"].toString(), QStringLiteral("256KiB-32B-125k-4m"));
    EXPECT_EQ(o["dataKiB"].toInt(), 256);
    EXPECT_EQ(o["bitRateK"].toInt(), 125);
    EXPECT_EQ(o["modules"].toInt(), 4);
    EXPECT_TRUE(o["ok"].toBool());
    EXPECT_DOUBLE_EQ(o["flash"]["ratio"].toDouble(), 1.07);
    EXPECT_DOUBLE_EQ(o["compare"]["ratio"].toDouble(), 1.03);
    EXPECT_DOUBLE_EQ(o["compare"]["floorS"].toDouble(), 2.0);
    EXPECT_DOUBLE_EQ(o["cpu"]["flasherPercent"].toDouble(), 2.5);
    EXPECT_DOUBLE_EQ(o["cpu"]["flasherThreadsPercent"]["tarvUpdate"].toDouble(), 1.25);
    EXPECT_DOUBLE_EQ(o["peakRssMiB"].toDouble(), 14.7);
    EXPECT_EQ(o["lines"].toInt(), 1026);
}

TEST(Table, RowsLineUpWithTheHeader)
{
    bench::CaseResult failed = result(bench::Case{1024, 32, 1000, 1}, 12.5, 1.0, 100.0);
    failed.ok = false;
    failed.problem = "exit code 2";
    for (const bench::CaseResult &r : {result(bench::Case{16, 16, 1000, 1}, 1.05, 1.02, 3.0), failed}) {
        const std::string row = bench::tableRow(r);
        EXPECT_EQ(barColumns(row), barColumns(bench::tableHeader())) << row;
        EXPECT_EQ(row.rfind(r.c.name(), 0), 0u);
    }
    EXPECT_NE(bench::tableRow(failed).find("exit code 2"), std::string::npos);
}

TEST(Table, ACaseWithoutBusStatisticsShowsNoPhaseFigures)
{
    bench::CaseResult r = result(bench::Case{1024, 32, 1000, 1, bench::Bus::VirtualCan}, 1.0, 1.0, 3.0);
    r.flash = {};
    r.compare = {};
    const std::string row = bench::tableRow(r);
    EXPECT_EQ(barColumns(row), barColumns(bench::tableHeader())) << row;
    EXPECT_EQ(row.find("0.000"), std::string::npos) << row;
    EXPECT_NE(row.find("  - "), std::string::npos) << row;
}

TEST(Targets, VirtualBusCasesCountForMemoryOnly)
{
    bench::CaseResult vcan = result(bench::Case{1024, 32, 1000, 1, bench::Bus::VirtualCan}, 3.0, 3.0, 50.0);
    vcan.peakRssMiB = 21.5;
    const std::string text = bench::targetSection({result(bench::Case{16, 16, 1000, 1}, 1.01, 1.02, 2.0), vcan});
    EXPECT_NE(text.find("1000 kbit/s: worst 1.020"), std::string::npos) << text;
    EXPECT_NE(text.find("worst 2.00 % of one core"), std::string::npos) << text;
    EXPECT_NE(text.find("1024 KiB file: 21.5 MiB (< 40 MiB) met"), std::string::npos) << text;
}

TEST(Targets, WithoutASimulatedBusCaseNothingIsClaimedForPhasesOrCpu)
{
    const std::string text =
        bench::targetSection({result(bench::Case{16, 16, 1000, 1, bench::Bus::VirtualCan}, 1, 1, 1)});
    EXPECT_EQ(text.find("met"), std::string::npos) << text;
    EXPECT_NE(text.find("no completed case on the simulated bus"), std::string::npos) << text;
}

TEST(Targets, SayWhichAreMetAndWhichMissed)
{
    const std::vector<bench::CaseResult> results{
        result(bench::Case{16, 16, 125, 1}, 1.02, 1.04, 3.0),
        result(bench::Case{16, 16, 1000, 1}, 1.05, 1.25, 12.0),
    };
    const std::string text = bench::targetSection(results);
    EXPECT_NE(text.find(" 125 kbit/s: worst 1.040 (<= 1.10) met"), std::string::npos) << text;
    EXPECT_NE(text.find("1000 kbit/s: worst 1.250 (<= 1.10) MISSED"), std::string::npos) << text;
    EXPECT_NE(text.find("worst 12.00 % of one core (<= 10 %) MISSED"), std::string::npos) << text;
    EXPECT_NE(text.find("no 1024 KiB case"), std::string::npos) << text;
}

TEST(Targets, MemoryOfTheLargeFileAndFailedCasesAreReported)
{
    bench::CaseResult big = result(bench::Case{1024, 32, 1000, 1}, 1.0, 1.0, 1.0);
    big.peakRssMiB = 41.0;
    bench::CaseResult failed = result(bench::Case{16, 16, 250, 1}, 1.0, 1.0, 99.0);
    failed.ok = false;
    const std::string text = bench::targetSection({big, failed});
    EXPECT_NE(text.find("1024 KiB file: 41.0 MiB (< 40 MiB) MISSED"), std::string::npos) << text;
    EXPECT_NE(text.find("1 case(s) did not complete"), std::string::npos) << text;
    EXPECT_NE(text.find("worst 1.00 % of one core"), std::string::npos) << "a failed case does not count";
}

TEST(Growth, ShowsTheSpreadPerBitRateAndRecordSize)
{
    const std::vector<bench::CaseResult> results{
        result(bench::Case{16, 16, 250, 1}, 1.0, 1.0, 1.0, 2.0),
        result(bench::Case{64, 16, 250, 4}, 1.0, 1.0, 1.0, 2.2),
        result(bench::Case{16, 32, 250, 1}, 1.0, 1.0, 1.0, 1.5),
    };
    const std::string text = bench::growthSection(results);
    EXPECT_NE(text.find("250k 16B:  16KiB/1m 2.000  64KiB/4m 2.200  spread 10.0%"), std::string::npos) << text;
    EXPECT_NE(text.find("250k 32B:  16KiB/1m 1.500  spread 0.0%"), std::string::npos) << text;
}

} // namespace
