#include "runoutcome.h"

#include <gtest/gtest.h>

namespace {

struct OutcomeCase
{
    const char *name;
    runoutcome::Facts facts;
    bool succeeded;
    QString error; // the one error line, empty for none
};

class Outcomes : public testing::TestWithParam<OutcomeCase>
{};

TEST_P(Outcomes, Table)
{
    const runoutcome::Outcome outcome = runoutcome::judge(GetParam().facts);
    EXPECT_EQ(outcome.succeeded, GetParam().succeeded) << GetParam().name;
    EXPECT_EQ(outcome.errors.join(u'|'), GetParam().error) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, Outcomes,
    testing::Values(
        OutcomeCase{"all done", {{0x208, 0x210}, {}, 2, {}, 0, false}, true, ""},
        OutcomeCase{
            "none logged on", {{}, {}, 0, {}, 0, false}, false, "Error: No module logged on, no module updated"},
        OutcomeCase{"stopped before any log-on",
                    {{}, {}, 0, {}, 0, false, true},
                    false,
                    "Error: Run stopped before any module logged on"},
        OutcomeCase{"stopped after the last module", {{0x208}, {}, 1, {}, 0, false, true}, true, ""},
        OutcomeCase{
            "one failed", {{0x208, 0x210}, {0x210}, 1, {}, 0, false}, false, "Error: Modules not updated: 210"},
        // Selected by their 11-bit ids; the absent one is named on the run's line, once.
        OutcomeCase{"selected but absent",
                    {{0x3208}, {}, 1, {0x208, 0x428, 0x428}, 3, false},
                    false,
                    "Error: Modules not updated: 3428"},
        OutcomeCase{"none fitted",
                    {{0x208}, {}, 0, {}, 0, false},
                    false,
                    "Error: No module fits the file and the selection, no module updated"},
        OutcomeCase{"version error after a done module",
                    {{0x208}, {}, 1, {}, 0, true},
                    false,
                    "Error: The run did not end normally"}),
    [](const auto &info) { return std::to_string(info.index); });

} // namespace
