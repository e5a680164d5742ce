// The soak's figures: runs, faults injected, the flasher's reactions and the
// outcomes, summed over every run.
#pragma once

#include "judge.h"
#include "soakcase.h"

#include <QString>
#include <QStringList>

#include <array>

namespace soak {

class Tally
{
public:
    void add(const SoakCase &c, const RunResult &r, const Verdict &v);
    int runs() const { return runs_; }
    int failedRuns() const { return failedRuns_; }
    QStringList report() const;

private:
    int runs_ = 0;
    int failedRuns_ = 0;
    std::array<int, FaultKindCount> kinds_{};
    int lossyModules_ = 0;
    int busOffs_ = 0;
    Reactions reactions_;
    int exit0_ = 0;
    int exit2_ = 0;
    int otherEnds_ = 0;
    std::array<int, 4> outcomes_{};
    double totalSeconds_ = 0.0;
    double worstShare_ = 0.0; // largest share of its bound that a run used
    QString worstRun_;
};

// One line about a finished run.
QString runLine(const SoakCase &c, const RunResult &r, const Verdict &v);

} // namespace soak
