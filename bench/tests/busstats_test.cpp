#include "busstats.h"

#include <gtest/gtest.h>

namespace {

using bench::PassKind;

QByteArray mark(int64_t atNs, int module, const char *phase, uint64_t frames, uint64_t busyNs,
                uint64_t sumLateNs = 0, uint64_t maxLateNs = 0)
{
    return QStringLiteral("{\"event\":\"phase\",\"atNs\":%1,\"module\":%2,\"phase\":\"%3\",\"frames\":%4,"
                          "\"bits\":%5,\"busyNs\":%6,\"sumLatenessNs\":%7,\"maxLatenessNs\":%8}\n")
        .arg(atNs)
        .arg(module)
        .arg(QLatin1String(phase))
        .arg(frames)
        .arg(frames * 100)
        .arg(busyNs)
        .arg(sumLateNs)
        .arg(maxLateNs)
        .toUtf8();
}

QByteArray endLine(int64_t atNs, uint64_t frames, uint64_t busyNs, int64_t cpuNs = 5000, bool realtime = true)
{
    return QStringLiteral("{\"event\":\"end\",\"atNs\":%1,\"frames\":%2,\"bits\":%3,\"busyNs\":%4,"
                          "\"sumLatenessNs\":0,\"maxLatenessNs\":7,\"threadCpuNs\":%5,\"realtime\":%6}\n")
        .arg(atNs)
        .arg(frames)
        .arg(frames * 100)
        .arg(busyNs)
        .arg(cpuNs)
        .arg(realtime ? QLatin1String("true") : QLatin1String("false"))
        .toUtf8();
}

bench::BusStatsFile parsed(const QByteArray &text)
{
    QString error;
    const std::optional<bench::BusStatsFile> stats = bench::parseBusStats(text, &error);
    EXPECT_TRUE(stats) << error.toStdString();
    return stats.value_or(bench::BusStatsFile{});
}

TEST(BusStatsParse, ReadsMarksAndTheEnd)
{
    // Monotonic times beyond 2^53 ns must come through exactly.
    const int64_t late = (int64_t{1} << 53) + 3;
    const bench::BusStatsFile stats =
        parsed(mark(late, 0x208, "flash", 10, 2000, 30, 4) + endLine(late + 9, 12, 2500, 123456789, false));
    ASSERT_EQ(stats.marks.size(), 1u);
    EXPECT_EQ(stats.marks[0].atNs, late);
    EXPECT_EQ(stats.marks[0].module, 0x208);
    EXPECT_EQ(stats.marks[0].phase, QStringLiteral("flash"));
    EXPECT_EQ(stats.marks[0].totals.frames, 10u);
    EXPECT_EQ(stats.marks[0].totals.bits, 1000u);
    EXPECT_EQ(stats.marks[0].totals.busyNs, 2000u);
    EXPECT_EQ(stats.marks[0].totals.sumLatenessNs, 30u);
    EXPECT_EQ(stats.marks[0].totals.maxLatenessNs, 4u);
    EXPECT_EQ(stats.endNs, late + 9);
    EXPECT_EQ(stats.end.frames, 12u);
    EXPECT_EQ(stats.end.maxLatenessNs, 7u);
    EXPECT_EQ(stats.threadCpuNs, 123456789);
    EXPECT_FALSE(stats.realtime);
    EXPECT_TRUE(parsed(endLine(5, 1, 1, 1, true)).realtime);
}

struct BadText
{
    const char *what;
    QByteArray text;
    const char *line; // expected in the message
};

class BusStatsRefusal : public testing::TestWithParam<BadText>
{};

TEST_P(BusStatsRefusal, NamesTheProblem)
{
    QString error;
    EXPECT_FALSE(bench::parseBusStats(GetParam().text, &error)) << GetParam().what;
    EXPECT_TRUE(error.contains(QLatin1String(GetParam().line))) << error.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Texts, BusStatsRefusal,
    testing::Values(
        BadText{"empty", "", "no end line"},
        BadText{"cut before the end", mark(1, 0x208, "flash", 1, 1), "no end line"},
        BadText{"after the end", endLine(5, 1, 1) + mark(6, 0x208, "flash", 1, 1), "line 2"},
        BadText{"unknown event", mark(1, 0x208, "flash", 1, 1) + "{\"event\":\"tick\"}\n" + endLine(5, 1, 1),
                "line 2"},
        BadText{"not JSON", "frames=3\n" + endLine(5, 1, 1), "line 1"},
        BadText{"negative count",
                QByteArray(mark(1, 0x208, "flash", 1, 1)).replace("\"frames\":1", "\"frames\":-1")
                    + endLine(5, 1, 1),
                "line 1"},
        BadText{"missing CPU time", QByteArray(endLine(5, 1, 1)).replace(",\"threadCpuNs\":5000", ""), "line 1"},
        BadText{"realtime not a truth value", QByteArray(endLine(5, 1, 1)).replace("true}", "1}"), "line 1"}));

TEST(Passes, RunFromAModulesMarkToItsNextOne)
{
    const bench::BusStatsFile stats =
        parsed(mark(100, 0x208, "preparing", 2, 200) + mark(150, 0x208, "update", 3, 300)
               + mark(1000, 0x208, "flash", 5, 500, 10, 1) + mark(5000, 0x208, "compare", 45, 4500, 90, 6)
               + mark(9000, 0x208, "restarting", 85, 8500, 170, 3) + mark(9100, 0x208, "idle", 86, 8600)
               + endLine(9500, 90, 9000));
    const std::vector<bench::Pass> passes = bench::passesOf(stats);
    ASSERT_EQ(passes.size(), 2u);
    EXPECT_EQ(passes[0].kind, PassKind::Flash);
    EXPECT_EQ(passes[0].module, 0x208);
    EXPECT_EQ(passes[0].startNs, 1000);
    EXPECT_EQ(passes[0].endNs, 5000);
    EXPECT_EQ(passes[0].wallNs(), 4000);
    EXPECT_EQ(passes[0].busyNs, 4000u);
    EXPECT_EQ(passes[0].frames, 40u);
    EXPECT_EQ(passes[0].sumLatenessNs, 80u);
    EXPECT_EQ(passes[0].maxLatenessNs, 6u);
    EXPECT_EQ(passes[1].kind, PassKind::Compare);
    EXPECT_EQ(passes[1].wallNs(), 4000);
    EXPECT_EQ(passes[1].frames, 40u);
    EXPECT_EQ(passes[1].maxLatenessNs, 3u);
}

TEST(Passes, OtherModulesMarksInBetweenCountForLatenessOnly)
{
    const bench::BusStatsFile stats =
        parsed(mark(1000, 0x208, "flash", 5, 500) + mark(2000, 0x210, "idle", 9, 900, 0, 40)
               + mark(5000, 0x208, "compare", 45, 4500, 0, 2) + endLine(9500, 90, 9000));
    const std::vector<bench::Pass> passes = bench::passesOf(stats);
    ASSERT_EQ(passes.size(), 1u) << "the compare pass never ended";
    EXPECT_EQ(passes[0].module, 0x208);
    EXPECT_EQ(passes[0].endNs, 5000);
    EXPECT_EQ(passes[0].frames, 40u);
    EXPECT_EQ(passes[0].maxLatenessNs, 40u);
}

TEST(Passes, AFlashAgainAfterACompareErrorIsAPassOfItsOwn)
{
    const bench::BusStatsFile stats =
        parsed(mark(1000, 0x208, "flash", 5, 500) + mark(2000, 0x208, "compare", 10, 1000)
               + mark(3000, 0x208, "flash", 15, 1500) + mark(4000, 0x208, "compare", 20, 2000)
               + mark(5000, 0x208, "restarting", 25, 2500) + endLine(9500, 30, 3000));
    const std::vector<bench::Pass> passes = bench::passesOf(stats);
    ASSERT_EQ(passes.size(), 4u);
    EXPECT_EQ(passes[0].kind, PassKind::Flash);
    EXPECT_EQ(passes[1].kind, PassKind::Compare);
    EXPECT_EQ(passes[2].kind, PassKind::Flash);
    EXPECT_EQ(passes[3].kind, PassKind::Compare);
    for (const bench::Pass &pass : passes) {
        EXPECT_EQ(pass.wallNs(), 1000);
        EXPECT_EQ(pass.busyNs, 500u);
    }
}

} // namespace
