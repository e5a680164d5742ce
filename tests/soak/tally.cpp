#include "tally.h"

namespace soak {

namespace {

QString outcomeName(ModuleOutcome outcome)
{
    switch (outcome) {
    case ModuleOutcome::Updated:
        return QStringLiteral("updated");
    case ModuleOutcome::NotUpdated:
        return QStringLiteral("not updated");
    case ModuleOutcome::NeverLoggedOn:
        return QStringLiteral("never logged on");
    case ModuleOutcome::Wrong:
        return QStringLiteral("WRONG IMAGE");
    }
    return QString();
}

void addReactions(Reactions &sum, const Reactions &r)
{
    sum.lineTimeouts += r.lineTimeouts;
    sum.answeredTimeouts += r.answeredTimeouts;
    sum.checksumRepeats += r.checksumRepeats;
    sum.flashRestarts += r.flashRestarts;
    sum.modulesGivenUp += r.modulesGivenUp;
    sum.connectionsLost += r.connectionsLost;
}

} // namespace

void Tally::add(const SoakCase &c, const RunResult &r, const Verdict &v)
{
    ++runs_;
    failedRuns_ += v.violations.isEmpty() ? 0 : 1;
    ++kinds_[static_cast<size_t>(c.kind)];
    for (const ModulePlan &m : c.modules)
        lossyModules_ += m.rxLoss > 0.0 ? 1 : 0;
    busOffs_ += c.busOffAfterFrames > 0 ? 1 : 0;
    addReactions(reactions_, v.reactions);
    exit0_ += r.ended && !r.crashed && r.exitCode == 0 ? 1 : 0;
    exit2_ += r.ended && !r.crashed && r.exitCode == 2 ? 1 : 0;
    otherEnds_ += !r.ended || r.crashed || (r.exitCode != 0 && r.exitCode != 2) ? 1 : 0;
    for (ModuleOutcome outcome : v.modules)
        outcomes_[static_cast<size_t>(outcome)] += r.ended ? 1 : 0;
    totalSeconds_ += r.seconds;
    const double share = r.seconds / c.boundSeconds;
    if (share > worstShare_) {
        worstShare_ = share;
        worstRun_ = QStringLiteral("run %1: %2 s of %3 s")
                        .arg(c.index)
                        .arg(r.seconds, 0, 'f', 1)
                        .arg(c.boundSeconds, 0, 'f', 1);
    }
}

QStringList Tally::report() const
{
    QStringList kinds;
    for (int k = 0; k < FaultKindCount; ++k)
        kinds << QStringLiteral("%1 %2")
                     .arg(kinds_[static_cast<size_t>(k)])
                     .arg(faultKindName(static_cast<FaultKind>(k)));
    QStringList outcomes;
    for (int o = 0; o < 4; ++o)
        outcomes << QStringLiteral("%1 %2")
                        .arg(outcomes_[static_cast<size_t>(o)])
                        .arg(outcomeName(static_cast<ModuleOutcome>(o)));
    const Reactions &n = reactions_;
    return {
        QStringLiteral("Runs: %1, %2 with violations; %3 module updates attempted; %4 s of runs")
            .arg(runs_)
            .arg(failedRuns_)
            .arg(2 * runs_)
            .arg(totalSeconds_, 0, 'f', 0),
        QStringLiteral("Faults injected (runs): ") + kinds.join(QStringLiteral(", ")),
        QStringLiteral("Modules losing frames: %1; bus off: %2 runs").arg(lossyModules_).arg(busOffs_),
        QStringLiteral("Reactions: %1 line timeouts (%6 with the answer on the bus in time), "
                       "%2 checksum repeats, %3 flash restarts, %4 modules given up, %5 connections lost")
            .arg(n.lineTimeouts)
            .arg(n.checksumRepeats)
            .arg(n.flashRestarts)
            .arg(n.modulesGivenUp)
            .arg(n.connectionsLost)
            .arg(n.answeredTimeouts),
        QStringLiteral("Outcomes: %1 runs exit 0, %2 runs exit 2, %3 other; modules: %4")
            .arg(exit0_)
            .arg(exit2_)
            .arg(otherEnds_)
            .arg(outcomes.join(QStringLiteral(", "))),
        QStringLiteral("Longest against its bound: ")
            + (worstRun_.isEmpty() ? QStringLiteral("none") : worstRun_),
    };
}

QString runLine(const SoakCase &c, const RunResult &r, const Verdict &v)
{
    QStringList modules;
    for (size_t i = 0; i < c.modules.size() && r.ended; ++i)
        modules << QString::number(c.modules[i].id(), 16) + u' ' + outcomeName(v.modules[i]);
    QString line = QStringLiteral("run %1 [%2] %3 s, exit %4: %5")
                       .arg(c.index)
                       .arg(faultKindName(c.kind))
                       .arg(r.seconds, 0, 'f', 1)
                       .arg(r.ended && !r.crashed ? QString::number(r.exitCode) : QStringLiteral("-"))
                       .arg(modules.join(QStringLiteral(", ")));
    for (const QString &violation : v.violations)
        line += QStringLiteral("\n  VIOLATION: ") + violation;
    return line;
}

} // namespace soak
