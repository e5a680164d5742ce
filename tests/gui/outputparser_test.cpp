#include "outputparser.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<QByteArray> toVector(const QList<QByteArray> &list)
{
    return {list.begin(), list.end()};
}

// ---- LineSplitter -------------------------------------------------------

struct SplitCase
{
    const char *name;
    std::vector<QByteArray> reads;
    std::vector<QByteArray> lines;
    QByteArray pending;
};

class LineSplitterTest : public ::testing::TestWithParam<SplitCase>
{};

TEST_P(LineSplitterTest, JoinsReadsIntoLines)
{
    const SplitCase &c = GetParam();
    LineSplitter splitter;
    std::vector<QByteArray> lines;
    for (const QByteArray &read : c.reads) {
        for (const QByteArray &line : splitter.feed(read))
            lines.push_back(line);
    }
    EXPECT_EQ(lines, c.lines);
    EXPECT_EQ(splitter.hasPending(), !c.pending.isEmpty());
    EXPECT_EQ(splitter.takePending(), c.pending);
    EXPECT_FALSE(splitter.hasPending());
}

INSTANTIATE_TEST_SUITE_P(
    Reads, LineSplitterTest,
    ::testing::Values(
        SplitCase{"whole_line", {"Flash ID 208 37.5% S214\n"}, {"Flash ID 208 37.5% S214\n"}, ""},
        SplitCase{"two_lines_one_read",
                  {"PostFlash \nFlash ID 1 2.0% S0\n"},
                  {"PostFlash \n", "Flash ID 1 2.0% S0\n"},
                  ""},
        SplitCase{
            "split_inside_percentage", {"Flash ID 208 3", "7.5% S214\n"}, {"Flash ID 208 37.5% S214\n"}, ""},
        SplitCase{"split_in_three", {"Comp", "are ID 2", "08 0.0% S0\n"}, {"Compare ID 208 0.0% S0\n"}, ""},
        SplitCase{"line_end_alone", {"Error: x", "\n"}, {"Error: x\n"}, ""},
        SplitCase{"final_line_without_line_feed",
                  {"\nPostFlash \n", "Finish: Update Process needed 4 seconds."},
                  {"\n", "PostFlash \n"},
                  "Finish: Update Process needed 4 seconds."},
        SplitCase{"crlf_kept", {"Error: a\r\nErr"}, {"Error: a\r\n"}, "Err"},
        SplitCase{"empty_reads", {"", "ab", ""}, {}, "ab"}, SplitCase{"empty_lines", {"\n\n"}, {"\n", "\n"}, ""}),
    [](const ::testing::TestParamInfo<SplitCase> &info) { return std::string(info.param.name); });

// Wherever the reads happen to split the stream, the lines are the same.
TEST(LineSplitter, EverySplitPointGivesTheSameLines)
{
    const QByteArray stream = "Programflash from hex file: K3B7_421.hex\n"
                              "Flash ID 208 37.5% S21400200010111213141516171819\n"
                              "\nPostFlash \n"
                              "Finish: Update Process needed 7 seconds.";
    LineSplitter whole;
    const auto expected = toVector(whole.feed(stream));
    const QByteArray expectedTail = whole.takePending();
    ASSERT_EQ(expected.size(), 4u);

    for (qsizetype first = 0; first <= stream.size(); ++first) {
        for (qsizetype second = first; second <= stream.size(); second += 7) {
            LineSplitter splitter;
            std::vector<QByteArray> lines = toVector(splitter.feed(stream.left(first)));
            for (const QByteArray &line : splitter.feed(stream.mid(first, second - first)))
                lines.push_back(line);
            for (const QByteArray &line : splitter.feed(stream.mid(second)))
                lines.push_back(line);
            ASSERT_EQ(lines, expected) << "split at " << first << " and " << second;
            ASSERT_EQ(splitter.takePending(), expectedTail);
        }
    }
}

// ---- parseLine ----------------------------------------------------------

struct LineCase
{
    const char *name;
    QByteArray line;
    LineKind kind;
    RunPhase phase;
    std::optional<int> percent;
};

class ParseLineTest : public ::testing::TestWithParam<LineCase>
{};

TEST_P(ParseLineTest, ClassifiesByOpening)
{
    const LineCase &c = GetParam();
    const ParsedLine parsed = parseLine(c.line);
    EXPECT_EQ(parsed.kind, c.kind);
    if (c.kind == LineKind::Progress) {
        EXPECT_EQ(parsed.phase, c.phase);
    }
    EXPECT_EQ(parsed.percent, c.percent);
}

constexpr auto Fl = RunPhase::Flashing;
constexpr auto Cmp = RunPhase::Comparing;
const std::optional<int> none;

INSTANTIATE_TEST_SUITE_P(
    ConsoleLines, ParseLineTest,
    ::testing::Values(
        LineCase{"flash_progress", "Flash ID 208 37.5% S21400200010111213141516171819\n", LineKind::Progress, Fl,
                 37},
        LineCase{"flash_module_1f", "Flash ID 1f 42.7% S1130000\n", LineKind::Progress, Fl, 42},
        LineCase{"flash_last_line", "Flash ID 208 100.0% S9030000FC\n", LineKind::Progress, Fl, 100},
        LineCase{"compare_zero", "Compare ID 208 0.0% S00600004844521B\n", LineKind::Progress, Cmp, 0},
        LineCase{"compare_no_line_feed", "Compare ID 1208 99.9% S9", LineKind::Progress, Cmp, 99},
        LineCase{"progress_without_line_text", "Flash ID 208 5.0%\n", LineKind::Progress, Fl, 5},
        LineCase{"two_blanks_shift_fields", "Flash  ID 1f 42.7% S1\n", LineKind::Progress, Fl, none},
        LineCase{"three_fields", "Flash ID 208\n", LineKind::Progress, Fl, none},
        LineCase{"percentage_without_point", "Flash ID 208 42% S1\n", LineKind::Progress, Fl, none},
        LineCase{"bare_number_is_a_value", "Compare ID 208 42 S1\n", LineKind::Progress, Cmp, 42},
        LineCase{"word_before_point", "Flash ID 208 abc.5% S1\n", LineKind::Progress, Fl, none},
        LineCase{"empty_before_point", "Flash ID 208 .5% S1\n", LineKind::Progress, Fl, none},
        LineCase{"flash_error_words", "Flash error, restarting writing from the beginning.\n", LineKind::Progress,
                 Fl, none},
        LineCase{"error_line", "Error: CAN-Connection lost\n", LineKind::Error, Fl, none},
        LineCase{"error_debug_line", "Error: GeneralProjectVersion \n", LineKind::Error, Fl, none},
        LineCase{"cannot_line", "Cannot open CAN line 0\n", LineKind::Error, Fl, none},
        LineCase{"can_not_open_file_is_no_error", "Can not open file 'x.hex'\n", LineKind::Other, Fl, none},
        LineCase{"lower_case_error", "error: x\n", LineKind::Other, Fl, none},
        LineCase{"final_line", "Finish: Update Process needed 12 seconds.", LineKind::Final, Fl, none},
        LineCase{"postflash", "PostFlash \n", LineKind::PostFlash, Fl, none},
        LineCase{"empty_line_before_postflash", "\n", LineKind::Other, Fl, none},
        LineCase{"leading_blank", " Flash ID 208 37.5% S2\n", LineKind::Other, Fl, none},
        LineCase{"quoted_peer_debug_line", "\"\" Checksum error, repeating line: \"S1\" \n", LineKind::Other, Fl,
                 none},
        LineCase{"banner", "Programflash from hex file: K3B7_421.hex\n", LineKind::Other, Fl, none},
        LineCase{"completed", "2  of  2 completed. \n", LineKind::Completed, Fl, none},
        LineCase{"completed_single_blanks", "2 of 2 completed.\n", LineKind::Other, Fl, none},
        LineCase{"completed_without_count", "all  of  2 completed. \n", LineKind::Other, Fl, none},
        LineCase{"completed_and_more", "2  of  2 completed. 1 left\n", LineKind::Other, Fl, none},
        LineCase{"empty", "", LineKind::Other, Fl, none}),
    [](const ::testing::TestParamInfo<LineCase> &info) { return std::string(info.param.name); });

TEST(ParseDecimal, AcceptsOnlyASignedRunOfDigits)
{
    EXPECT_EQ(parseDecimal("0"), 0);
    EXPECT_EQ(parseDecimal("042"), 42);
    EXPECT_EQ(parseDecimal("+7"), 7);
    EXPECT_EQ(parseDecimal("-3"), -3);
    EXPECT_EQ(parseDecimal("2147483647"), 2147483647);
    EXPECT_EQ(parseDecimal("2147483648"), std::nullopt);
    EXPECT_EQ(parseDecimal("99999999999999999999"), std::nullopt);
    EXPECT_EQ(parseDecimal(""), std::nullopt);
    EXPECT_EQ(parseDecimal("-"), std::nullopt);
    EXPECT_EQ(parseDecimal("4 2"), std::nullopt);
    EXPECT_EQ(parseDecimal("42\n"), std::nullopt);
    EXPECT_EQ(parseDecimal("1f"), std::nullopt);
    EXPECT_EQ(parseDecimal("0x10"), std::nullopt);
}

// ---- RunMonitor ---------------------------------------------------------

struct Step
{
    QByteArray line;
    std::optional<QString> message; // expected status message, if any
    std::optional<int> progress;
};

void playRun(RunMonitor &monitor, const std::vector<Step> &steps)
{
    for (const Step &step : steps) {
        SCOPED_TRACE(step.line.constData());
        const LineReaction reaction = monitor.onLine(step.line);
        ASSERT_EQ(reaction.status.has_value(), step.message.has_value());
        if (step.message) {
            EXPECT_EQ(reaction.status->message, *step.message);
        }
        EXPECT_EQ(reaction.progress, step.progress);
    }
}

TEST(RunMonitor, AnnouncesEveryPhaseChangeOnceAcrossTwoModules)
{
    RunMonitor monitor;
    monitor.startRun();
    playRun(monitor, {
                         {"Programflash from hex file: K3B7_421.hex\n", {}, {}},
                         {"Flash ID 208 42.7% S1\n", QStringLiteral("flashing..."), 42},
                         {"Flash ID 208 43.0% S1\n", {}, 43},
                         {"Flash ID 208 100.0% S9\n", {}, 100},
                         {"Compare ID 208 0.0% S0\n", QStringLiteral("comparing..."), 0},
                         {"Compare ID 208 100.0% S9\n", {}, 100},
                         {"\n", {}, {}},
                         {"PostFlash \n", QStringLiteral("postflashing..."), {}},
                         {"Flash ID 218 1.0% S0\n", QStringLiteral("flashing..."), 1},
                         {"Flash ID 218 2.0% S1\n", {}, 2},
                         {"Compare ID 218 1.0% S0\n", QStringLiteral("comparing..."), 1},
                         {"PostFlash \n", QStringLiteral("postflashing..."), {}},
                     });
}

// The waits between the passes are told in black; a module's flash pass is
// announced after its ready wait even when the module before ended flashing.
TEST(RunMonitor, TellsWhatTheRunWaitsFor)
{
    struct Case
    {
        QByteArray line;
        const char *message;
        StatusColour colour;
    };
    const Case cases[] = {
        {"Module 208: name K3B7, serial 1, release 4.20, channel 1\n",
         "module 208: waiting for its ready report...", StatusColour::Black},
        {"Flash ID 208 1.0% S0\n", "flashing...", StatusColour::Green},
        {"Module 1218: name K3B7, serial 2, release 4.20, channel 1\n",
         "module 1218: waiting for its ready report...", StatusColour::Black},
        {"Flash ID 1218 1.0% S0\n", "flashing...", StatusColour::Green},
        {"PostFlash \n", "postflashing...", StatusColour::Green},
        {"2  of  2 completed. \n", "waiting for the restarted modules to log on again...", StatusColour::Black},
    };
    RunMonitor monitor;
    monitor.startRun();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line.constData());
        const LineReaction reaction = monitor.onLine(c.line);
        ASSERT_TRUE(reaction.status);
        EXPECT_EQ(reaction.status->message, QLatin1String(c.message));
        EXPECT_EQ(reaction.status->colour, c.colour);
        EXPECT_EQ(reaction.end, RunEnd::None);
    }
}

TEST(RunMonitor, InvalidProgressLineAnnouncesNothing)
{
    RunMonitor monitor;
    monitor.startRun();
    playRun(monitor, {
                         {"Flash  ID 1f 42.7% S1\n", {}, {}},
                         {"Flash ID 1f 42.7% S1\n", QStringLiteral("flashing..."), 42},
                     });
}

TEST(RunMonitor, PhaseStyleIsGreenAndRepaintedAtOnce)
{
    RunMonitor monitor;
    monitor.startRun();
    for (const QByteArray &line :
         {QByteArray("Flash ID 1 1.0% S0\n"), QByteArray("Compare ID 1 1.0% S0\n"), QByteArray("PostFlash \n")}) {
        const LineReaction reaction = monitor.onLine(line);
        ASSERT_TRUE(reaction.status);
        EXPECT_EQ(reaction.status->colour, StatusColour::Green);
        EXPECT_TRUE(reaction.status->repaintNow);
        EXPECT_EQ(reaction.end, RunEnd::None);
    }
}

TEST(RunMonitor, EndLinesEndTheRunWithTheirOwnText)
{
    RunMonitor monitor;
    monitor.startRun();
    LineReaction final = monitor.onLine("Finish: Update Process needed 12 seconds.");
    EXPECT_EQ(final.end, RunEnd::Final);
    ASSERT_TRUE(final.status);
    EXPECT_EQ(final.status->message, QStringLiteral("Finish: Update Process needed 12 seconds."));
    EXPECT_EQ(final.status->colour, StatusColour::Green);

    LineReaction error = monitor.onLine("Error: CAN-Connection lost\r\n");
    EXPECT_EQ(error.end, RunEnd::Error);
    ASSERT_TRUE(error.status);
    EXPECT_EQ(error.status->message, QStringLiteral("Error: CAN-Connection lost"));
    EXPECT_EQ(error.status->colour, StatusColour::Red);
    EXPECT_FALSE(error.progress);

    LineReaction cannot = monitor.onLine("Cannot open CAN line\n");
    EXPECT_EQ(cannot.end, RunEnd::Error);
    EXPECT_EQ(monitor.onLine("PostFlash \n").end, RunEnd::None);
}

TEST(RunMonitor, NewRunAnnouncesFlashingAgainAfterARunThatStoppedWhileFlashing)
{
    RunMonitor monitor;
    monitor.startRun();
    ASSERT_TRUE(monitor.onLine("Flash ID 208 10.0% S1\n").status);
    ASSERT_FALSE(monitor.announcesFlashing());
    monitor.onLine("Error: CAN-Connection lost\n");

    monitor.startRun();
    EXPECT_TRUE(monitor.announcesFlashing());
    EXPECT_TRUE(monitor.announcesComparing());
    const LineReaction reaction = monitor.onLine("Flash ID 208 1.0% S0\n");
    ASSERT_TRUE(reaction.status);
    EXPECT_EQ(reaction.status->message, QStringLiteral("flashing..."));
}

// ---- parseModuleEvent ---------------------------------------------------

struct EventCase
{
    const char *name;
    QByteArray line;
    std::optional<ModuleEvent> event;
};

ModuleEvent event(ModuleEventKind kind, uint id = 0)
{
    ModuleEvent e;
    e.kind = kind;
    e.id = id;
    return e;
}

ModuleEvent identity(uint id, const char *name, const char *serial, const char *release)
{
    ModuleEvent e = event(ModuleEventKind::Identity, id);
    e.name = QString::fromUtf8(name);
    e.serial = QString::fromUtf8(serial);
    e.release = QString::fromUtf8(release);
    return e;
}

ModuleEvent reupdateIdentity(uint id, const char *name, const char *serial, const char *release)
{
    ModuleEvent e = identity(id, name, serial, release);
    e.reupdate = true;
    return e;
}

ModuleEvent progress(uint id, RunPhase phase, int percent)
{
    ModuleEvent e = event(ModuleEventKind::Progress, id);
    e.phase = phase;
    e.percent = percent;
    return e;
}

ModuleEvent result(ModuleEventKind kind, uint id, const char *reason)
{
    ModuleEvent e = event(kind, id);
    e.reason = QString::fromUtf8(reason);
    return e;
}

class ParseModuleEventTest : public ::testing::TestWithParam<EventCase>
{};

TEST_P(ParseModuleEventTest, ReadsWhatALineSaysAboutAModule)
{
    const EventCase &c = GetParam();
    const std::optional<ModuleEvent> parsed = parseModuleEvent(c.line);
    ASSERT_EQ(parsed.has_value(), c.event.has_value());
    if (!parsed)
        return;
    EXPECT_EQ(parsed->kind, c.event->kind);
    EXPECT_EQ(parsed->id, c.event->id);
    EXPECT_EQ(parsed->phase, c.event->phase);
    EXPECT_EQ(parsed->percent, c.event->percent);
    EXPECT_EQ(parsed->name, c.event->name);
    EXPECT_EQ(parsed->serial, c.event->serial);
    EXPECT_EQ(parsed->release, c.event->release);
    EXPECT_EQ(parsed->reupdate, c.event->reupdate);
    EXPECT_EQ(parsed->reason, c.event->reason);
}

using K = ModuleEventKind;

INSTANTIATE_TEST_SUITE_P(
    ConsoleLines, ParseModuleEventTest,
    ::testing::Values(
        EventCase{"identity", "Module 1208: name K3B7, serial 120035, release 4.20, channel 1\r\n",
                  identity(0x1208, "K3B7", "120035", "4.20")},
        EventCase{"identity_unanswered",
                  "Module 20f: name (none), serial (none), release (none), channel (none)\n",
                  identity(0x20f, "(none)", "(none)", "(none)")},
        EventCase{
            "identity_reupdate",
            "Module 220: name (none), serial 120036, release 4.20, channel 1, in re-update state: takes any "
            "firmware file\n",
            reupdateIdentity(0x220, "(none)", "120036", "4.20")},
        EventCase{"identity_cut_short", "Module 208: name K3B7, serial 120035\n", std::nullopt},
        EventCase{"flash_progress", "Flash ID 1f 26.5% S1130000\n", progress(0x1f, Fl, 26)},
        EventCase{"compare_progress", "Compare ID 1208 51.5% S1\n", progress(0x1208, Cmp, 51)},
        EventCase{"progress_without_percentage", "Flash ID 208 42% S1\n", std::nullopt},
        EventCase{"progress_id_not_hex", "Flash ID 2g8 4.0% S1\n", std::nullopt},
        EventCase{"postflash", "PostFlash \n", event(K::Restart)},
        EventCase{"updated", "Module 208: updated\n", event(K::Updated, 0x208)},
        EventCase{"not_updated", "Module 208: not updated: not reached\n",
                  result(K::NotUpdated, 0x208, "not reached")},
        EventCase{"skipped", "Module 218: skipped: firmware name K31B7 does not fit the file\n",
                  result(K::Skipped, 0x218, "firmware name K31B7 does not fit the file")},
        EventCase{"result_of_unknown_kind", "Module 208: lost\n", std::nullopt},
        EventCase{"notice_not_updated", "\"\" Module 208 not updated: no ready report within 10 seconds \n",
                  result(K::NotUpdated, 0x208, "no ready report within 10 seconds")},
        EventCase{"timeout_repeat", "\"\" Timeout, repeating line: \"S1130000\" \n", event(K::Repeat)},
        EventCase{"checksum_repeat", "\"\" Checksum error, repeating line: \"S1\" \n", event(K::Repeat)},
        EventCase{"other_error_repeat", "\"\" Other error: 0x 5 , repeating line: \"S1\" \n", event(K::Repeat)},
        EventCase{"flash_restart", "\"\" Flash error, restarting writing from the beginning. \n",
                  event(K::Repeat)},
        EventCase{"timeout_given_up", "\"\" Timeout, giving up line: \"S1, repeating line: \" \n", std::nullopt},
        EventCase{"verdict_names_modules", "Error: Modules not updated: 208 210\n", std::nullopt},
        EventCase{"completed", "\"\" 2  of  2 completed. \n", std::nullopt}),
    [](const ::testing::TestParamInfo<EventCase> &info) { return std::string(info.param.name); });

TEST(RunMonitor, PassesTheModuleEventAlong)
{
    RunMonitor monitor;
    monitor.startRun();
    const LineReaction reaction = monitor.onLine("Flash ID 218 3.0% S1\n");
    ASSERT_TRUE(reaction.module);
    EXPECT_EQ(reaction.module->id, 0x218u);
    EXPECT_FALSE(monitor.onLine("Programflash from hex file: x.hex\n").module);
}

TEST(StatusText, DropsOnlyTheLineEnd)
{
    EXPECT_EQ(statusText("Error: x \r\n"), QStringLiteral("Error: x "));
    EXPECT_EQ(statusText("  Error\n\n"), QStringLiteral("  Error"));
    EXPECT_EQ(statusText("Finish: 3"), QStringLiteral("Finish: 3"));
    // The console program writes UTF-8: "ä" is two bytes and one character.
    EXPECT_EQ(statusText("Error: \xc3\xa4\n"), QStringLiteral("Error: \u00e4"));
}

TEST(StyleSheet, ColoursOfTheStatusBar)
{
    EXPECT_EQ(styleSheetFor(StatusColour::Black), QStringLiteral("color: black"));
    EXPECT_EQ(styleSheetFor(StatusColour::Green), QStringLiteral("color: green"));
    EXPECT_EQ(styleSheetFor(StatusColour::Red), QStringLiteral("color: red"));
}

} // namespace
