// The wire judge against conversations built here: one good update run of a
// module beside a module whose name does not fit, and the same run with one
// fault each, which the judge must pin on the rule it breaks.
#include "wirejudge.h"

#include <QList>

#include <gtest/gtest.h>

namespace {

using testkit::WireRun;

constexpr uint16_t Updated = 0x208;
constexpr uint16_t Skipped = 0x210;
// Lines 2 and 3 share their first frame; the third line carries white space.
const QByteArray Firmware = "S00600004844521B\r\nS1070000AABBCC00\n  S1070003DDEEFF00 \r\nS9030000FC\r\n";
const QList<QByteArray> Lines{"S00600004844521B", "S1070000AABBCC00", "S1070003DDEEFF00", "S9030000FC"};
const char *const Shares[] = {"26.5", "51.5", "82.4", "100.0"};

enum class Fault {
    None,
    LineTwice,
    DataBeforeHeader,
    FrameBeforeAck,
    LineBeforeAnswer,
    StaleAcceptance,
    SkippedModuleUpdated,
    WorkAfterMovingOn,
    NoClosing,
    ProgressMissing,
    ExtendedIdentifier,
    NoticeMissing,
    CompareEarly,
    NoReadyReport,
    NoLogOnAnswer,
    SweepOutOfOrder,
    HigherIdFirst,
    ForeignInterfaceNoise,
    UnnamedModuleUpdated,
    LineRefusedNineTimes,
    LineRefusedElevenTimes,
    SixFlashPasses,
    SevenFlashPasses,
    ReleaseRequestFirst,
    NameNotRequested,
    NameRequestedAgain,
    ThirdUpdateCommandZero,
    InformationBeforeRelease,
    LastClosingFrameMissing,
    NoBanner,
    NoFileLine,
    PostFlashMissing,
    CompletedMiscounted,
    NoFinishLine,
    ErrorLineOnAGoodRun,
    ExitCodeOfAFailure,
    TimeoutThoughAccepted,
    QueryTooSoon,
    FirstLineTooSoon,
    RepeatTooSoon,
    SecondSweepTooSoon,
    LogOnWindowCut,
    LogOnAskedAgain,
    LogOnAskedTooSoon,
    LogOnAskedAfterWindow,
    LogOnNotAskedAgain,
    LogOnAnsweredLate,
    BusLostOnTheWire,
    BusLossOnlyClaimed,
    IdentityMisread,
    ResultMisreported
};

class Conversation
{
public:
    Conversation(int line, Fault fault)
        : line_(line)
        , fault_(fault)
    {}

    WireRun build();

private:
    void frame(uint32_t id, const QByteArray &hex, int afterMs = 1);
    void fromModule(uint16_t id, const QByteArray &hex) { frame(id + 5, hex); }
    QByteArray moduleLine(uint16_t id, const QByteArray &text) const
    {
        return "Module " + QByteArray::number(line_ << 12 | id, 16) + ": " + text + '\n';
    }
    void wait(int ms) { us_ += ms * 1000; }
    void startup();
    void logOn(uint16_t id);
    void query(uint16_t id, const QByteArray &name);
    void prepare(uint16_t id);
    // answer 0: none; ackLast false: the last frame's acknowledgement is lost.
    void sendLine(uint16_t id, int line, bool flash, int answer = 0x81, bool ackLast = true);
    void pass(uint16_t id, bool flash);
    void postFlash(uint16_t id);
    void closing();
    void notice(const char *what, int line);
    void updateBoth();
    // The bus goes off during the first line: only the trace's error frame excuses the rest.
    void loseTheBus();

    const int line_;
    const Fault fault_;
    qint64 us_ = 1700000000000000;
    QByteArray trace_, out_, err_;
};

void Conversation::frame(uint32_t id, const QByteArray &hex, int afterMs)
{
    wait(afterMs);
    const QByteArray name = fault_ == Fault::ExtendedIdentifier && id == Updated && hex == "1503"
                                ? QByteArray::number(line_ << 12 | id, 16).rightJustified(8, '0')
                                : QByteArray::number(id, 16).toUpper().rightJustified(3, '0');
    trace_ += QStringLiteral("(%1.%2) can%3 ")
                  .arg(us_ / 1000000)
                  .arg(us_ % 1000000, 6, 10, QLatin1Char('0'))
                  .arg(line_)
                  .toLatin1()
              + name + '#' + hex.toUpper() + '\n';
}

void Conversation::startup()
{
    if (line_ == 1)
        frame(0x601, "123412345678");
    for (int sweep = 0; sweep < 2; ++sweep) {
        for (int a = 0; a < 64; ++a) {
            const int swapped = fault_ == Fault::SweepOutOfOrder && a < 2 ? 1 - a : a;
            frame(0x200 + 8 * swapped, "d800");
        }
        wait(fault_ == Fault::SecondSweepTooSoon ? 100 : 500);
    }
    frame(0x7FF, "d801");
}

void Conversation::logOn(uint16_t id)
{
    fromModule(id, "d80311");
    if (fault_ == Fault::NoLogOnAnswer && id == Skipped)
        return;
    frame(id, "d801", fault_ == Fault::LogOnAnsweredLate ? 600 : 1);
    frame(id, "12a00001");
}

void Conversation::query(uint16_t id, const QByteArray &name)
{
    const QList<const char *> requests = fault_ == Fault::ReleaseRequestFirst ? QList{"1201", "1200", "1203"}
                                         : fault_ == Fault::NameNotRequested  ? QList{"1200", "1201"}
                                                                              : QList{"1200", "1201", "1203"};
    for (const char *request : requests) {
        frame(id | 1, request);
        // The flasher asks for the name on each device information, at once.
        if (fault_ == Fault::InformationBeforeRelease && QByteArray(request) == "1200") {
            fromModule(id, "e0120034042001");
            frame(id | 1, "1203");
        }
    }
    if (fault_ != Fault::InformationBeforeRelease) {
        fromModule(id, "e0120034042001");
        frame(id | 1, "1203");
    }
    fromModule(id, "1201000420");
    fromModule(id, "1203" + name.toHex());
    wait(500);
    if (fault_ != Fault::IdentityMisread)
        out_ += moduleLine(id, "name " + (name.isEmpty() ? QByteArray("(none)") : name)
                                   + ", serial 120034, release 4.20, channel 1");
    if (fault_ == Fault::NameRequestedAgain)
        frame(id | 1, "1203");
}

void Conversation::prepare(uint16_t id)
{
    frame(id, "1500");
    wait(50);
    if (fault_ != Fault::NoReadyReport)
        fromModule(id, "1581");
    wait(500);
    if (fault_ != Fault::NoReadyReport)
        frame(id, "1500");
    if (fault_ == Fault::ThirdUpdateCommandZero)
        frame(id, "1500");
    frame(id, "1503");
    wait(fault_ == Fault::FirstLineTooSoon ? 100 : 500);
}

void Conversation::sendLine(uint16_t id, int line, bool flash, int answer, bool ackLast)
{
    const QByteArray bytes = Lines[line] + "\r\n";
    for (int offset = 0; offset < bytes.size(); offset += 6) {
        frame(id | 1, "1500" + bytes.mid(offset, 6).toHex());
        const bool last = offset + 6 >= bytes.size();
        const bool lostAck =
            (last && !ackLast) || (fault_ == Fault::FrameBeforeAck && flash && line == 1 && offset == 0);
        if (!lostAck)
            fromModule(id, "1500");
    }
    if (answer != 0)
        fromModule(id, "15" + QByteArray::number(answer, 16));
    if (ackLast && !(fault_ == Fault::ProgressMissing && !flash && line == 2))
        out_ += QStringLiteral("%1 ID %2 %3% %4\n")
                    .arg(flash ? "Flash" : "Compare")
                    .arg(line_ << 12 | id, 0, 16)
                    .arg(Shares[line], QString::fromLatin1(Lines[line]))
                    .toLatin1();
}

void Conversation::notice(const char *what, int line)
{
    if (fault_ != Fault::NoticeMissing)
        err_ += QByteArray("\"\" ") + what + ", repeating line: \"" + Lines[line] + "\" \n";
}

void Conversation::pass(uint16_t id, bool flash)
{
    const int restarts = fault_ == Fault::SixFlashPasses ? 5 : fault_ == Fault::SevenFlashPasses ? 6 : 0;
    for (int restart = 0; flash && restart < restarts; ++restart) {
        sendLine(id, 0, flash, 0x91);
        err_ += "\"\" Flash error, restarting writing from the beginning.\n";
        frame(id, "1503");
        wait(500);
    }
    const int refusals = fault_ == Fault::LineRefusedNineTimes     ? 9
                         : fault_ == Fault::LineRefusedElevenTimes ? 11
                                                                   : 1;
    for (int line = 0; line < Lines.size(); ++line) {
        const int sent = fault_ == Fault::DataBeforeHeader && flash && line < 2 ? 1 - line : line;
        if (fault_ == Fault::CompareEarly && flash && line == 3)
            break;
        if (flash && line == 1) {
            // The module refuses line 2; the flasher says so and sends it again.
            for (int refusal = 0; refusal < refusals; ++refusal) {
                sendLine(id, sent, flash, 0x92);
                notice("Checksum error", 1);
            }
        }
        if (fault_ == Fault::StaleAcceptance && flash && line == 2) {
            sendLine(id, line, flash, 0x81, false);
            wait(2300);
            notice("Timeout", line);
            sendLine(id, line, flash, 0);
            continue;
        }
        if (fault_ == Fault::TimeoutThoughAccepted && flash && line == 2) {
            sendLine(id, line, flash);
            wait(2300);
            notice("Timeout", line);
        }
        if (fault_ == Fault::RepeatTooSoon && flash && line == 2) {
            sendLine(id, line, flash, 0, false);
            wait(1000);
            notice("Timeout", line);
        }
        sendLine(id, sent, flash, fault_ == Fault::LineBeforeAnswer && flash && line == 0 ? 0 : 0x81);
        if (fault_ == Fault::LineTwice && flash && line == 1)
            sendLine(id, line, flash);
    }
    frame(id, flash ? "1505" : "1506");
    wait(500);
}

void Conversation::closing()
{
    frame(0x004, "c8");
    wait(500);
    frame(0x004, "cc");
    wait(1000);
    frame(0x004, "c4");
}

void Conversation::postFlash(uint16_t id)
{
    if (fault_ != Fault::PostFlashMissing)
        out_ += "\nPostFlash \n";
    wait(100);
    if (line_ == 1)
        frame(0x601, "123412345678");
    wait(400);
    logOn(id);
    closing();
}

WireRun Conversation::build()
{
    startup();
    // While no module answers, the log-on request goes again once a second too.
    const bool askAgain = fault_ == Fault::LogOnAskedAgain || fault_ == Fault::LogOnAskedTooSoon;
    for (int repeat = 0; askAgain && repeat < 2; ++repeat)
        frame(0x7FF, "d801", fault_ == Fault::LogOnAskedTooSoon ? 300 : 1000);
    logOn(Updated);
    logOn(Skipped);
    // The window stays open 3 s after the last new module, asking once a
    // second; a module already known answers again.
    const int windowMs = fault_ == Fault::LogOnWindowCut ? 1000 : 3000;
    for (int passed = 1000; passed <= windowMs; passed += 1000) {
        if (fault_ == Fault::LogOnNotAskedAgain)
            wait(1000);
        else
            frame(0x7FF, "d801", 1000);
        if (passed == 1000)
            logOn(Updated);
    }
    frame(0x004, "f415e6");
    if (fault_ == Fault::LogOnAskedAfterWindow)
        frame(0x7FF, "d801", 1000);
    wait(fault_ == Fault::QueryTooSoon ? 100 : 500);
    if (fault_ == Fault::HigherIdFirst)
        query(Skipped, "K31B7");
    query(Updated, fault_ == Fault::UnnamedModuleUpdated ? "" : "K3B7");
    prepare(Updated);
    if (fault_ == Fault::BusLostOnTheWire || fault_ == Fault::BusLossOnlyClaimed)
        loseTheBus();
    else
        updateBoth();
    if (fault_ == Fault::BusLostOnTheWire || fault_ == Fault::BusLossOnlyClaimed)
        out_ += moduleLine(Updated, "not updated: the CAN connection was lost");
    else
        out_ += moduleLine(Updated, fault_ == Fault::ResultMisreported ? "not updated: x" : "updated");
    out_ += moduleLine(Skipped, fault_ == Fault::BusLostOnTheWire || fault_ == Fault::BusLossOnlyClaimed
                                    ? "not updated: not reached"
                                    : "skipped: firmware name K31B7 does not fit the file");
    if (fault_ != Fault::NoFileLine)
        out_.prepend("Programflash from hex file: K3B7_421.hex\n");
    if (fault_ != Fault::NoBanner)
        out_.prepend("tarvCanFlash 4.0.1: firmware update of tarv high-voltage modules over CAN\n");
    if (fault_ != Fault::NoFinishLine)
        out_ += "Finish: Update Process needed 16 seconds.";
    const QString interface = QStringLiteral("can%1").arg(line_);
    const bool failed = fault_ == Fault::ErrorLineOnAGoodRun || fault_ == Fault::ExitCodeOfAFailure
                        || fault_ == Fault::BusLostOnTheWire || fault_ == Fault::BusLossOnlyClaimed;
    return {trace_, interface, Firmware, QStringLiteral("K3B7_421.hex"), {}, out_, err_, line_, failed ? 2 : 0};
}

void Conversation::loseTheBus()
{
    frame(Updated | 1, "1500" + (Lines[0] + "\r\n").left(6).toHex());
    if (fault_ == Fault::BusLostOnTheWire)
        trace_ += QStringLiteral("(%1.%2) can%3 20000040#0000000000000000\n")
                      .arg(us_ / 1000000)
                      .arg(us_ % 1000000, 6, 10, QLatin1Char('0'))
                      .arg(line_)
                      .toLatin1();
    err_ += "Error: CAN-Connection lost BUSOFF\nError: Modules not updated: "
            + QByteArray::number(line_ << 12 | Updated, 16) + ' ' + QByteArray::number(line_ << 12 | Skipped, 16)
            + '\n';
}

void Conversation::updateBoth()
{
    pass(Updated, true);
    pass(Updated, false);
    postFlash(Updated);
    query(Skipped, "K31B7");
    if (fault_ == Fault::SkippedModuleUpdated)
        frame(Skipped, "1500");
    if (fault_ == Fault::WorkAfterMovingOn)
        frame(Updated | 1, "1201");
    if (fault_ == Fault::ForeignInterfaceNoise)
        trace_ += "(1700000100.000000) can9 7E7#1500\n";
    err_ += fault_ == Fault::CompletedMiscounted ? "3  of  3 completed. \n" : "2  of  2 completed. \n";
    if (fault_ == Fault::ErrorLineOnAGoodRun)
        err_ += "Error: Modules not updated: " + QByteArray::number(line_ << 12 | Skipped, 16) + '\n';
    if (fault_ != Fault::NoClosing)
        closing();
    if (fault_ == Fault::LastClosingFrameMissing)
        trace_.chop(trace_.size() - trace_.lastIndexOf('(')); // 004#C4
}

TEST(WireJudge, PassesAGoodRunOnEachLine)
{
    for (int line : {0, 1, 2}) {
        const testkit::WireVerdict verdict = testkit::judgeWire(Conversation(line, Fault::None).build());
        EXPECT_TRUE(verdict.ok()) << "line " << line << ": " << qPrintable(verdict.describe());
    }
}

struct FaultCase
{
    Fault fault;
    const char *rule; // empty: the run still keeps every rule
    int answeredTimeouts = 0;
};

class WireJudgeFault : public testing::TestWithParam<FaultCase>
{};

TEST_P(WireJudgeFault, IsPinnedOnItsRule)
{
    for (int line : {0, 1}) {
        const testkit::WireVerdict verdict = testkit::judgeWire(Conversation(line, GetParam().fault).build());
        EXPECT_EQ(verdict.rule, QString::fromLatin1(GetParam().rule))
            << "line " << line << ": " << qPrintable(verdict.describe());
        EXPECT_EQ(verdict.answeredTimeouts, GetParam().answeredTimeouts) << "line " << line;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, WireJudgeFault,
    testing::Values(
        FaultCase{Fault::LineTwice, "line order"}, FaultCase{Fault::DataBeforeHeader, "line order"},
        FaultCase{Fault::CompareEarly, "pass order"}, FaultCase{Fault::FrameBeforeAck, "frame in flight"},
        FaultCase{Fault::LineBeforeAnswer, "line in flight"}, FaultCase{Fault::StaleAcceptance, "line in flight"},
        FaultCase{Fault::SkippedModuleUpdated, "module selection"},
        FaultCase{Fault::UnnamedModuleUpdated, "module selection"},
        FaultCase{Fault::WorkAfterMovingOn, "module order"}, FaultCase{Fault::HigherIdFirst, "module order"},
        FaultCase{Fault::NoReadyReport, "ready before flash"}, FaultCase{Fault::NoLogOnAnswer, "log-on answer"},
        FaultCase{Fault::SweepOutOfOrder, "start-up"}, FaultCase{Fault::NoClosing, "closing sequence"},
        FaultCase{Fault::ExtendedIdentifier, "identifier"}, FaultCase{Fault::ProgressMissing, "progress line"},
        FaultCase{Fault::NoticeMissing, "console notice"}, FaultCase{Fault::ForeignInterfaceNoise, ""},
        FaultCase{Fault::LineRefusedNineTimes, ""}, FaultCase{Fault::LineRefusedElevenTimes, "retry limit"},
        FaultCase{Fault::SixFlashPasses, ""}, FaultCase{Fault::SevenFlashPasses, "retry limit"},
        FaultCase{Fault::ReleaseRequestFirst, "query"}, FaultCase{Fault::NameNotRequested, "query"},
        FaultCase{Fault::NameRequestedAgain, "query"}, FaultCase{Fault::ThirdUpdateCommandZero, "query"},
        FaultCase{Fault::InformationBeforeRelease, ""},
        FaultCase{Fault::LastClosingFrameMissing, "closing sequence"}, FaultCase{Fault::NoBanner, "console"},
        FaultCase{Fault::NoFileLine, "console"}, FaultCase{Fault::PostFlashMissing, "console"},
        FaultCase{Fault::CompletedMiscounted, "console"}, FaultCase{Fault::NoFinishLine, "console"},
        FaultCase{Fault::ErrorLineOnAGoodRun, "outcome"}, FaultCase{Fault::ExitCodeOfAFailure, "outcome"},
        FaultCase{Fault::TimeoutThoughAccepted, "", 1}, FaultCase{Fault::QueryTooSoon, "timing"},
        FaultCase{Fault::FirstLineTooSoon, "timing"}, FaultCase{Fault::RepeatTooSoon, "timing"},
        FaultCase{Fault::SecondSweepTooSoon, "timing"}, FaultCase{Fault::LogOnWindowCut, "timing"},
        FaultCase{Fault::LogOnAskedAgain, ""}, FaultCase{Fault::LogOnAskedTooSoon, "timing"},
        FaultCase{Fault::LogOnAskedAfterWindow, "start-up"}, FaultCase{Fault::LogOnNotAskedAgain, "timing"},
        FaultCase{Fault::LogOnAnsweredLate, "log-on answer"}, FaultCase{Fault::BusLostOnTheWire, ""},
        FaultCase{Fault::BusLossOnlyClaimed, "retry limit"}, FaultCase{Fault::IdentityMisread, "console"},
        FaultCase{Fault::ResultMisreported, "console"}));

// The time of the nth frame that ends a trace line with text.
qint64 frameTime(const QByteArray &trace, const QByteArray &text, int nth)
{
    for (const QByteArray &line : trace.split('\n')) {
        if (line.endsWith(text) && nth-- == 0)
            return line.mid(1, 10).toLongLong() * 1000000 + line.mid(12, 6).toLongLong();
    }
    return -1;
}

// A stop signal some time before a frame of a run: what may follow it.
TEST(WireJudge, KnowsWhatMayFollowAStop)
{
    const QByteArray lastLine = "209#1500" + QByteArray(Lines[3]).left(6).toHex().toUpper();
    const struct
    {
        Fault fault;
        QByteArray frame;
        int nth;
        int beforeMs;
        const char *rule;
    } cases[] = {
        {Fault::None, lastLine, 0, 150, "stop"}, // a line after it
        {Fault::LogOnAskedAgain, "7FF#D801", 2, 150, "stop"},
        {Fault::None, "004#C8", 1, 10, ""}, // at the ENTER prompt: the verdict stands
        {Fault::ExitCodeOfAFailure, "004#C8", 1, 10, "outcome"},
    };
    for (const auto &c : cases) {
        WireRun run = Conversation(0, c.fault).build();
        run.stopUs = frameTime(run.trace, c.frame, c.nth) - c.beforeMs * 1000;
        ASSERT_GT(run.stopUs, 0) << c.frame.constData();
        EXPECT_EQ(testkit::judgeWire(run).rule, QString::fromLatin1(c.rule))
            << c.frame.constData() << " " << c.beforeMs
            << " ms: " << qPrintable(testkit::judgeWire(run).describe());
    }
}

// A recorder on several processors may write a module's answer after the
// flasher's next frame; the time stamps keep the order on the bus.
TEST(WireJudge, ReadsFramesInTheOrderOfTheirTimeStamps)
{
    WireRun run = Conversation(0, Fault::None).build();
    QList<QByteArray> lines = run.trace.split('\n');
    qsizetype ack = 0;
    while (!lines[ack].endsWith("20D#1500"))
        ++ack;
    lines.swapItemsAt(ack, ack + 1);
    run.trace = lines.join('\n');
    EXPECT_TRUE(testkit::judgeWire(run).ok()) << qPrintable(testkit::judgeWire(run).describe());
}

TEST(WireJudge, RefusesATraceItCannotRead)
{
    WireRun run = Conversation(0, Fault::None).build();
    run.trace.insert(0, "(1700000000.000000) can0 20#\n");
    EXPECT_EQ(testkit::judgeWire(run).rule, QStringLiteral("trace format"));
}

TEST(WireJudge, PassesARunThatFoundTheBusNotOk)
{
    WireRun run;
    for (int a = 0; a < 64; ++a)
        run.trace += QStringLiteral("(1700000000.%1) can0 %2#D800\n")
                         .arg(a, 6, 10, QLatin1Char('0'))
                         .arg(0x200 + 8 * a, 0, 16)
                         .toLatin1();
    run.trace += "(1700000000.600000) can0 7FF#D801\n";
    EXPECT_TRUE(testkit::judgeWire(run).ok()) << qPrintable(testkit::judgeWire(run).describe());
    run.trace += "(1700000000.700000) can0 004#C8\n";
    EXPECT_EQ(testkit::judgeWire(run).rule, QStringLiteral("start-up"));
}

} // namespace
