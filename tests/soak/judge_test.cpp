// The judge must catch every way a run can lie or misbehave: each row takes a
// run that behaved, breaks one thing, and names the violation it must find.
#include "judge.h"

#include <gtest/gtest.h>

#include <functional>

using namespace soak;

namespace {

SoakCase twoModules(Expect first = Expect::Updated, Expect second = Expect::Updated)
{
    SoakCase c;
    c.modules[0].address = 1; // id 0x208
    c.modules[1].address = 3; // id 0x218
    c.modules[0].expect = first;
    c.modules[1].expect = second;
    c.boundSeconds = 100.0;
    return c;
}

const QByteArray BothLoggedOn = "(1.000100) can0 208#D800\n"
                                "(1.002000) can0 20D#D80111\n"
                                "(1.003000) can0 21D#D80111\n";

RunResult cleanRun()
{
    RunResult r;
    r.ended = true;
    r.exitCode = 0;
    r.seconds = 20.0;
    r.outLines = {"Flash ID 208 100.0% S9030000FC", "", "PostFlash ",
                  "Finish: Update Process needed 20 seconds."};
    r.errLines = {"2  of  2 completed. "};
    r.images = {{1, true, QString()}, {3, true, QString()}};
    r.trace = BothLoggedOn;
    return r;
}

// Module 0x208 given up and named, as tarvCanFlash reports it.
void firstNamed(RunResult &r)
{
    r.exitCode = 2;
    r.images[0].equal = false;
    r.errLines << "\"\" Module 208 not updated: line refused 10 times in a row "
               << "Error: Modules not updated: 208";
}

struct Row
{
    const char *name;
    std::function<void(SoakCase &)> setCase;
    std::function<void(RunResult &)> breakRun;
    const char *violation; // nullptr: the run is fine
};

const Row Rows[] = {
    {"clean", {}, {}, nullptr},
    {"success with a wrong image",
     {},
     [](RunResult &r) { r.images[1].equal = false; },
     "module 218 reported as updated, but its image differs from the file"},
    {"failure named", [](SoakCase &c) { c.modules[0].expect = Expect::Either; }, firstNamed, nullptr},
    {"failure named although recoverable",
     {},
     firstNamed,
     "module 208 not updated although its faults are recoverable"},
    {"wrong image while the other is named", [](SoakCase &c) { c.modules[0].expect = Expect::Either; },
     [](RunResult &r) {
         firstNamed(r);
         r.images[1].equal = false;
     },
     "module 218 reported as updated, but its image differs from the file"},
    {"fatal fault reported as success",
     [](SoakCase &c) { c.modules[1].expect = Expect::NotUpdated; },
     {},
     "module 218 reported as updated although its fault forbids it"},
    {"exit 2 without an error line",
     {},
     [](RunResult &r) { r.exitCode = 2; },
     "exit code 2 without an Error: line"},
    {"exit 0 with an error line",
     {},
     [](RunResult &r) { r.errLines << "Error: CAN-Connection lost BUSOFF"; },
     "exit code 0 with an Error: line"},
    {"start-up failure code", {}, [](RunResult &r) { r.exitCode = 1; }, "exit code 1"},
    {"crash",
     {},
     [](RunResult &r) {
         r.crashed = true;
         r.exitCode = -1;
     },
     "crashed"},
    {"hang",
     {},
     [](RunResult &r) {
         r.ended = false;
         r.seconds = 160.0;
     },
     "did not end; killed after 160.0 s"},
    {"too slow", {}, [](RunResult &r) { r.seconds = 100.5; }, "took 100.5 s, bound 100.0 s"},
    {"no timing line", {}, [](RunResult &r) { r.outLines.removeLast(); }, "no Finish: line"},
    {"rule broken on the wire",
     {},
     [](RunResult &r) {
         r.wire = testkit::WireVerdict{4, "stray line", "a line to a module given up"};
     },
     "wire: frame 4: stray line: a line to a module given up"},
    {"broken bus unnoticed",
     [](SoakCase &c) {
         c.busOffAfterFrames = 300;
         c.busOffForGood = true;
     },
     {},
     "bus broken after 300 frames not reported as a lost connection with exit code 2"},
    {"passing bus off overcome", [](SoakCase &c) { c.busOffAfterFrames = 300; }, {}, nullptr},
    {"broken bus reported",
     [](SoakCase &c) {
         c.busOffAfterFrames = 300;
         c.busOffForGood = true;
         c.modules[0].expect = c.modules[1].expect = Expect::Either;
     },
     [](RunResult &r) {
         r.exitCode = 2;
         r.images[0].equal = r.images[1].equal = false;
         r.errLines << "Error: CAN-Connection lost BUSOFF"
                    << "Error: Modules not updated: 208 218";
     },
     nullptr},
    {"never logged on, unknown to the flasher", [](SoakCase &c) { c.modules[1].expect = Expect::Either; },
     [](RunResult &r) {
         r.trace = "(1.0) can0 218#D800\n(1.1) can0 20D#D80111\n"; // only the flasher's frame to 0x218
         r.images[1].equal = false;
     },
     nullptr},
    {"image written without a log-on",
     {},
     [](RunResult &r) { r.trace = "(1.1) can0 20D#D80111\n"; },
     "module 218 holds the file although it never logged on"},
    {"no module logged on", [](SoakCase &c) { c.modules[0].expect = c.modules[1].expect = Expect::Either; },
     [](RunResult &r) {
         r.exitCode = 2;
         r.images[0].equal = r.images[1].equal = false;
         r.errLines << "Error: No module logged on, no module updated";
     },
     nullptr},
};

} // namespace

TEST(Judge, FindsExactlyTheBrokenRule)
{
    for (const Row &row : Rows) {
        SCOPED_TRACE(row.name);
        SoakCase c = twoModules();
        if (row.setCase)
            row.setCase(c);
        RunResult r = cleanRun();
        if (row.breakRun)
            row.breakRun(r);
        const Verdict v = judge(c, r);
        if (row.violation == nullptr)
            EXPECT_TRUE(v.violations.isEmpty()) << v.violations.join(" | ").toStdString();
        else
            EXPECT_TRUE(v.violations.contains(QString::fromUtf8(row.violation)))
                << v.violations.join(" | ").toStdString();
    }
}

TEST(Judge, OutcomePerModule)
{
    SoakCase c = twoModules(Expect::Either, Expect::Either);
    RunResult r = cleanRun();
    firstNamed(r);
    r.trace = "(1.1) can0 20D#D80111\n";
    const Verdict v = judge(c, r);
    EXPECT_EQ(v.modules[0], ModuleOutcome::NotUpdated);
    EXPECT_EQ(v.modules[1], ModuleOutcome::NeverLoggedOn);
}

TEST(NamedModules, ParsedFromTheErrorLine)
{
    bool all = true;
    const QSet<uint16_t> ids = modulesNamedNotUpdated(
        {"\"\" Timeout, repeating line: \"S9030000FC\" ", "Error: Modules not updated: 208 3f8 1210"}, &all);
    EXPECT_FALSE(all);
    EXPECT_EQ(ids, (QSet<uint16_t>{0x208, 0x3F8, 0x210})) << "the line bits are not part of the module";
    modulesNamedNotUpdated({"Error: No module fits the file and the selection, no module updated"}, &all);
    EXPECT_TRUE(all);
    EXPECT_TRUE(modulesNamedNotUpdated({"Error: CAN-Connection lost BUSOFF"}, &all).isEmpty());
    EXPECT_FALSE(all);
}

TEST(Trace, LogOnMeansAD8FrameFromTheModule)
{
    EXPECT_TRUE(loggedOnInTrace("(5.0) can0 20D#D80111\n", 0x208));
    EXPECT_TRUE(loggedOnInTrace("(5.0) can0 20C#D80111\n", 0x208)) << "send offset 4";
    EXPECT_FALSE(loggedOnInTrace("(5.0) can0 208#D801\n", 0x208)) << "the flasher's log-on to the module";
    EXPECT_FALSE(loggedOnInTrace("(5.0) can0 20D#1500\n", 0x208));
    EXPECT_FALSE(loggedOnInTrace("(5.0) can0 215#D80111\n", 0x208));
    EXPECT_TRUE(loggedOnInTrace("(4.0) can0 7FF#D801\n(5.0) can0 3FD#D80111\n", 0x3F8));
}

TEST(Reactions, CountedFromTheDiagnosticLines)
{
    const Reactions n = countReactions({
        "\"\" Timeout, repeating line: \"S1\" ",
        "\"\" Timeout, repeating line: \"S1\" ",
        "\"\" Checksum error, repeating line: \"S1\" ",
        "\"\" Flash error, restarting writing from the beginning. ",
        "\"\" Module 208 not updated: no log-on within 20 seconds after the restart ",
        "Error: CAN-Connection lost BUSOFF",
        "Error: Modules not updated: 208",
    });
    EXPECT_EQ(n.lineTimeouts, 2);
    EXPECT_EQ(n.checksumRepeats, 1);
    EXPECT_EQ(n.flashRestarts, 1);
    EXPECT_EQ(n.modulesGivenUp, 1);
    EXPECT_EQ(n.connectionsLost, 1);
}
