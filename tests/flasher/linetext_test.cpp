#include "debugline.h"
#include "linetext.h"
#include "progressline.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace {

struct NormaliseCase
{
    QByteArray raw;
    QByteArray sent;
};

class Normalise : public testing::TestWithParam<NormaliseCase>
{};

TEST_P(Normalise, SimplifiedWithCrLf)
{
    EXPECT_EQ(linetext::normalise(GetParam().raw), GetParam().sent);
}

INSTANTIATE_TEST_SUITE_P(Lines, Normalise,
                         testing::Values(NormaliseCase{"S00600004844521B\r\n", "S00600004844521B\r\n"},
                                         NormaliseCase{"  S1 05\t1000\n", "S1 05 1000\r\n"},
                                         NormaliseCase{"S9030000FC", "S9030000FC\r\n"},
                                         NormaliseCase{" \t \r\n", "\r\n"}, NormaliseCase{"", "\r\n"},
                                         NormaliseCase{"A\v\fB\r\r\n", "A B\r\n"}));

TEST(ProgressLine, TheExampleOfTheManual)
{
    // 37.46 % of the file consumed.
    EXPECT_EQ(progressline::line(true, 0x208, 3746, 10000, "S214002000101112131415161718191A1B1C1D1E1F53\r\n"),
              "Flash ID 208 37.5% S21400200010111213141516171819");
}

TEST(ProgressLine, CompareShortLineAndLastLine)
{
    EXPECT_EQ(progressline::line(false, 0x1F, 50, 50, "S9030000FC\r\n"), "Compare ID 1f 100.0% S9030000FC");
    EXPECT_EQ(progressline::line(true, 0x3218, 1234, 10000, "\r\n"), "Flash ID 3218 12.4% ");
}

TEST(ProgressLine, FourthFieldIsThePercentage)
{
    const QString line = progressline::line(true, 0x210, 427, 1000, "S1130000\r\n");
    EXPECT_EQ(line.split(u' ').value(3), "42.8%");
}

TEST(ProgressPercent, RoundedAndSafeForAnEmptyFile)
{
    EXPECT_EQ(progressline::percent(0, 1000), 0);
    EXPECT_EQ(progressline::percent(4, 1000), 0);
    EXPECT_EQ(progressline::percent(5, 1000), 1);
    EXPECT_EQ(progressline::percent(1000, 1000), 100);
    EXPECT_EQ(progressline::percent(0, 0), 100);
}

TEST(DebugLines, ItemsFollowedBySpaceVariablesQuoted)
{
    DebugLine line;
    line.quoted(QString()) << "Checksum error, repeating line:";
    line.quoted(QByteArray("S10510000102E7"));
    EXPECT_EQ(line.text(), "\"\" Checksum error, repeating line: \"S10510000102E7\" ");
    EXPECT_EQ((DebugLine() << 2 << " of " << 2 << "completed.").text(), "2  of  2 completed. ");
    EXPECT_EQ(DebugLine().quoted(QString("a\"b")).text(), "\"a\\\"b\" ");
}

} // namespace
