#include "linecheck.h"

#include <gtest/gtest.h>

#include <deque>

using linecheck::VersionError;

namespace {

const QByteArray LineText = "S10510000102E7";

struct Evaluation
{
    linecheck::Verdict verdict;
    std::deque<uint8_t> left;
    QStringList messages;
};

Evaluation evaluate(std::deque<uint8_t> codes, int refusalsLeft = 10)
{
    Evaluation result;
    result.verdict = linecheck::evaluate(
        [&codes](uint8_t &code) {
            if (codes.empty())
                return false;
            code = codes.front();
            codes.pop_front();
            return true;
        },
        QString(), LineText, refusalsLeft);
    result.left = codes;
    for (const DebugLine &line : result.verdict.messages)
        result.messages.append(line.text());
    return result;
}

struct RuleCase
{
    const char *name;
    std::deque<uint8_t> codes;
    bool answered;
    bool repeatLine;
    bool flashError;
    VersionError version;
    std::deque<uint8_t> left;
    QStringList messages;
};

class StatusCodeRules : public testing::TestWithParam<RuleCase>
{};

TEST_P(StatusCodeRules, Table)
{
    const RuleCase &c = GetParam();
    const Evaluation e = evaluate(c.codes);
    EXPECT_EQ(e.verdict.answered, c.answered) << c.name;
    EXPECT_EQ(e.verdict.repeatLine, c.repeatLine) << c.name;
    EXPECT_EQ(e.verdict.flashError, c.flashError) << c.name;
    EXPECT_EQ(e.verdict.versionError, c.version) << c.name;
    EXPECT_EQ(e.left, c.left) << c.name;
    EXPECT_EQ(e.messages, c.messages) << c.name;
}

const QString ChecksumLine = "\"\" Checksum error, repeating line: \"S10510000102E7\" ";
const QString FlashLine = "\"\" Flash error, restarting writing from the beginning. ";
QString otherLine(const char *hex)
{
    return QString("\"\" Other error: 0x %1 , repeating line: \"S10510000102E7\" ").arg(hex);
}
// A version refusal ends the run: its notice promises no repeat.
QString versionLine(const char *hex)
{
    return QString("\"\" Other error: 0x %1 , the run ends: the module refused the firmware's version, "
                   "line: \"S10510000102E7\" ")
        .arg(hex);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, StatusCodeRules,
    testing::Values(
        RuleCase{"nothing queued", {}, false, false, false, VersionError::None, {}, {}},
        RuleCase{"81 accepted", {0x81}, true, false, false, VersionError::None, {}, {}},
        RuleCase{"85 accepted", {0x85}, true, false, false, VersionError::None, {}, {}},
        RuleCase{"92 checksum", {0x92}, true, true, false, VersionError::None, {}, {ChecksumLine}},
        RuleCase{"91 flash error only", {0x91}, false, false, true, VersionError::None, {}, {FlashLine}},
        RuleCase{"93 flash error only", {0x93}, false, false, true, VersionError::None, {}, {FlashLine}},
        RuleCase{"91 with 81", {0x91, 0x81}, true, false, true, VersionError::None, {}, {FlashLine}},
        RuleCase{"80 dropped", {0x80}, false, false, false, VersionError::None, {}, {}},
        RuleCase{"95 other error", {0x95}, true, true, false, VersionError::None, {}, {otherLine("95")}},
        RuleCase{"97 then 81 stays",
                 {0x97, 0x81},
                 false,
                 true,
                 false,
                 VersionError::GeneralProjectVersion,
                 {0x81},
                 {versionLine("97"), "Error: GeneralProjectVersion "}},
        RuleCase{"98",
                 {0x98},
                 false,
                 true,
                 false,
                 VersionError::UpdateVersionToHigh,
                 {},
                 {versionLine("98"), "Error: UpdateVersionToHigh "}},
        RuleCase{"81 then 98",
                 {0x81, 0x98, 0x85},
                 false,
                 true,
                 false,
                 VersionError::UpdateVersionToHigh,
                 {0x85},
                 {versionLine("98"), "Error: UpdateVersionToHigh "}}),
    [](const auto &info) { return std::to_string(info.index); });

TEST(StatusCodeRules, RefusalsCountChecksumAndOtherErrors)
{
    EXPECT_EQ(evaluate({0x92, 0x92, 0x95}).verdict.refusals, 3);
    EXPECT_EQ(evaluate({0x81, 0x91}).verdict.refusals, 0);
}

// Only the refusal that uses up the line's last one gives it up; a version
// error ends the run and keeps its words.
TEST(StatusCodeRules, LastRefusalGivesTheLineUp)
{
    const QString givenUp = "\"\" Checksum error, giving up line: \"S10510000102E7\" ";
    EXPECT_EQ(evaluate({0x92, 0x92}, 2).messages, (QStringList{ChecksumLine, givenUp}));
    EXPECT_EQ(evaluate({0x92}, 3).messages, QStringList{ChecksumLine});
    EXPECT_EQ(evaluate({0x97}, 1).messages.first(), versionLine("97"));
}

TEST(StatusCodeRules, TimeoutLineQuotesPeerAndLine)
{
    EXPECT_EQ(linecheck::timeoutMessage(QString(), LineText, true).text(),
              "\"\" Timeout, repeating line: \"S10510000102E7\" ");
    EXPECT_EQ(linecheck::timeoutMessage(QString(), LineText, false).text(),
              "\"\" Timeout, giving up line: \"S10510000102E7\" ");
}

// A silent module must read differently from a refusing one.
TEST(StatusCodeRules, GiveUpReasonNamesWhatHappened)
{
    EXPECT_EQ(linecheck::giveUpReason(10, 0).toStdString(), "line refused 10 times in a row");
    EXPECT_EQ(linecheck::giveUpReason(0, 10).toStdString(), "no answer to the line, 10 times in a row");
    EXPECT_EQ(linecheck::giveUpReason(3, 7).toStdString(),
              "line refused 3 times and not answered 7 times, in a row");
}

} // namespace
