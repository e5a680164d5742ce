#include "runprogress.h"

#include <gtest/gtest.h>

namespace {

struct TextCase
{
    OverallProgress progress;
    const char *text;
};

TEST(OverallProgressText, ShowsWhatIsKnown)
{
    const TextCase cases[] = {
        {{0, 0, 4999, {}}, "0:04 elapsed"},
        {{0, 1, 5000, {}}, "1 module, 0:05 elapsed"},
        {{0, 3, 65000, {}}, "3 modules, 1:05 elapsed"},
        {{2, 5, 42000, 70000}, "module 2 of 5, 0:42 elapsed, about 1:10 left"},
        {{1, 1, 3723000, 1499}, "module 1 of 1, 1:02:03 elapsed, about 0:01 left"},
        {{1, 1, 600000, 1500}, "module 1 of 1, 10:00 elapsed, about 0:02 left"},
        {{2, 2, 61000, 499}, "module 2 of 2, 1:01 elapsed, finishing"},
    };
    for (const TextCase &c : cases)
        EXPECT_EQ(overallProgressText(c.progress), QLatin1String(c.text));
}

ModuleEvent named(uint id)
{
    ModuleEvent e;
    e.kind = ModuleEventKind::Identity;
    e.id = id;
    return e;
}

ModuleEvent sent(uint id, RunPhase phase, int percent)
{
    ModuleEvent e;
    e.kind = ModuleEventKind::Progress;
    e.id = id;
    e.phase = phase;
    e.percent = percent;
    return e;
}

struct Expect
{
    int module, modules;
    std::optional<qint64> leftMs;
};

void expectAt(const RunProgress &run, qint64 nowMs, const Expect &e)
{
    const OverallProgress p = run.at(nowMs);
    EXPECT_EQ(p.module, e.module);
    EXPECT_EQ(p.modules, e.modules);
    EXPECT_EQ(p.leftMs, e.leftMs);
}

// The time left is the time since the first line, scaled by the lines
// still due over the lines sent.
TEST(RunProgress, EstimatesFromLinesSentAgainstLinesDue)
{
    RunProgress run;
    run.start(1000);
    expectAt(run, 1000, {0, 0, {}});
    run.apply(named(0x208), 2000);
    expectAt(run, 2000, {0, 1, {}});
    run.apply(sent(0x208, RunPhase::Flashing, 0), 3000);
    expectAt(run, 3000, {1, 1, {}});
    run.apply(sent(0x208, RunPhase::Flashing, 50), 13000);
    expectAt(run, 13000, {1, 1, 30000}); // 50 of 200 in 10 s
    EXPECT_EQ(run.at(13000).elapsedMs, 12000);
    run.apply(sent(0x208, RunPhase::Flashing, 100), 23000);
    run.apply(sent(0x208, RunPhase::Comparing, 100), 43000);

    // 218 is named and left without a line: only 228 is due after 208.
    run.apply(named(0x218), 50000);
    expectAt(run, 50000, {1, 2, 47000}); // 200 of 400 in 47 s
    run.apply(named(0x228), 51000);
    run.apply(sent(0x228, RunPhase::Flashing, 50), 53000);
    expectAt(run, 53000, {2, 2, 30000}); // 250 of 400 in 50 s

    // A module given up owes no more lines; none is in work then.
    ModuleEvent given = named(0x228);
    given.kind = ModuleEventKind::NotUpdated;
    run.apply(given, 54000);
    expectAt(run, 54000, {0, 2, {}});
}

TEST(RunProgress, StartForgetsTheLastRun)
{
    RunProgress run;
    run.start(0);
    run.apply(named(0x208), 0);
    run.apply(sent(0x208, RunPhase::Flashing, 10), 100);
    run.start(500);
    expectAt(run, 700, {0, 0, {}});
    EXPECT_EQ(run.at(700).elapsedMs, 200);
}

} // namespace
