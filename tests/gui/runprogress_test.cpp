#include "runprogress.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct TextCase
{
    OverallProgress progress;
    const char *text;
};

TEST(OverallProgressText, ShowsWhatIsKnown)
{
    const TextCase cases[] = {
        {{0, 0, false, false, 4999, {}}, "waiting for the modules to log on, 0:04 elapsed"},
        {{0, 4, true, false, 4999, {}}, "waiting for the modules to log on, 0:04 elapsed"},
        {{0, 1, false, true, 5000, {}}, "1 module, 0:05 elapsed"},
        {{0, 3, true, true, 65000, {}}, "3 modules, 1:05 elapsed"},
        {{3, 3, false, true, 65000, {}}, "module 3, 1:05 elapsed"},
        {{2, 5, true, true, 42000, 70000}, "module 2 of 5, 0:42 elapsed, about 1:10 left"},
        {{1, 1, true, true, 3723000, 1499}, "module 1 of 1, 1:02:03 elapsed, about 0:01 left"},
        {{1, 1, true, true, 600000, 1500}, "module 1 of 1, 10:00 elapsed, about 0:02 left"},
        {{1, 4, true, true, 6000, 1}, "module 1 of 4, 0:06 elapsed, about 0:01 left"},
        {{2, 2, true, true, 61000, 0}, "module 2 of 2, 1:01 elapsed, finishing"},
    };
    for (const TextCase &c : cases)
        EXPECT_EQ(overallProgressText(c.progress), QLatin1String(c.text));
}

ModuleEvent event(ModuleEventKind kind, uint id)
{
    ModuleEvent e;
    e.kind = kind;
    e.id = id;
    return e;
}

ModuleEvent named(uint id)
{
    return event(ModuleEventKind::Identity, id);
}

ModuleEvent sent(uint id, RunPhase phase, int percent)
{
    ModuleEvent e = event(ModuleEventKind::Progress, id);
    e.phase = phase;
    e.percent = percent;
    return e;
}

constexpr RunPhase Fl = RunPhase::Flashing;
constexpr RunPhase Cmp = RunPhase::Comparing;

struct Step
{
    std::optional<ModuleEvent> event; // none: only the clock goes on
    qint64 nowMs;
    int module, modules;
    std::optional<qint64> leftMs;
    std::optional<int> percent;
};

void play(RunProgress &run, const std::vector<Step> &steps)
{
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step &s = steps[i];
        SCOPED_TRACE(i);
        if (s.event)
            run.apply(*s.event, s.nowMs);
        const OverallProgress p = run.at(s.nowMs);
        EXPECT_EQ(p.module, s.module);
        EXPECT_EQ(p.modules, s.modules);
        EXPECT_EQ(p.leftMs, s.leftMs);
        EXPECT_EQ(run.percentOfRun(), s.percent);
    }
}

// Three modules chosen by a scan: the time left scales the time since the
// first line by the lines still due over the lines sent. 218 is named and
// left without a line, so it is not due.
TEST(RunProgress, CountsTheModulesChosenFromTheStart)
{
    RunProgress run;
    run.start(1000, QList<uint>{0x208, 0x218, 0x228});
    play(run, {
                  {{}, 1000, 0, 3, {}, 0},
                  {named(0x208), 2000, 1, 3, {}, 0},
                  {sent(0x208, Fl, 0), 3000, 1, 3, {}, 0},
                  {sent(0x208, Fl, 50), 13000, 1, 3, 110000, 8}, // 50 of 600 in 10 s
                  {sent(0x208, Fl, 100), 23000, 1, 3, 100000, 16},
                  {sent(0x208, Cmp, 100), 43000, 1, 3, 80000, 33},
                  {named(0x218), 50000, 2, 3, 94000, 33},
                  {named(0x228), 51000, 2, 2, 48000, 50},
                  {sent(0x228, Fl, 100), 55000, 2, 2, 17333, 75},
                  {sent(0x228, Cmp, 99), 60000, 2, 2, 1000, 99}, // never "0:00 left"
                  {sent(0x228, Cmp, 100), 61000, 2, 2, 0, 100},  // all lines sent: finishing
                  {event(ModuleEventKind::Updated, 0x228), 70000, 0, 2, {}, 100},
              });
}

// Without a scan the modules due are those named so far, and no time left
// is told.
TEST(RunProgress, CountsTheModulesNamedWithoutAScan)
{
    RunProgress run;
    run.start(0);
    play(run, {
                  {{}, 4000, 0, 0, {}, {}},
                  {named(0x208), 5000, 1, 1, {}, 0},
                  {sent(0x208, Fl, 50), 10000, 1, 1, {}, 25},
                  {named(0x218), 11000, 2, 2, {}, 12},
                  {event(ModuleEventKind::NotUpdated, 0x218), 12000, 1, 1, {}, 25},
                  {sent(0x1208, Fl, 100), 13000, 2, 2, {}, 60}, // 208 owes no more than it sent
              });
}

// A module beyond the list still counts: the count never falls below the work.
TEST(RunProgress, NeverCountsFewerModulesThanWorked)
{
    RunProgress run;
    run.start(0, QList<uint>{0x208});
    play(run, {
                  {sent(0x208, Fl, 100), 1000, 1, 1, 1000, 50},
                  {sent(0x208, Cmp, 100), 2000, 1, 1, 0, 100},
                  {sent(0x218, Fl, 100), 3000, 2, 2, 1000, 75},
              });
}

TEST(RunProgress, StartForgetsTheLastRun)
{
    RunProgress run;
    run.start(0, QList<uint>{0x208});
    run.apply(named(0x208), 0);
    run.apply(sent(0x208, Fl, 10), 100);
    run.start(500);
    play(run, {{{}, 700, 0, 0, {}, {}}});
    EXPECT_EQ(run.at(700).elapsedMs, 200);
    EXPECT_FALSE(run.at(700).modulesKnown);
}

TEST(RunVerdict, GreenOnlyForAFinishedRunThatUpdatedAllItChose)
{
    struct Case
    {
        bool finalLine;
        int updated, notUpdated;
        bool passed;
        const char *text;
    };
    const Case cases[] = {
        {true, 4, 0, true, "all 4 updated"},        {true, 1, 3, false, "3 of 4 not updated"},
        {false, 2, 2, false, "2 of 4 not updated"}, {false, 4, 0, false, "run failed"},
        {true, 0, 0, false, "no module updated"},
    };
    for (const Case &c : cases) {
        const RunVerdict verdict = runVerdict(c.finalLine, c.updated, c.notUpdated);
        EXPECT_EQ(verdict.passed, c.passed) << c.text;
        EXPECT_EQ(verdict.text, QLatin1String(c.text));
    }
}

} // namespace
