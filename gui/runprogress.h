#pragma once

#include "outputparser.h"

#include <QList>
#include <QSet>
#include <QtGlobal>

#include <optional>

// The whole run at a glance: which module of how many, the time elapsed and
// an estimate of the time left.
struct OverallProgress
{
    int module = 0;            // ordinal of the module in work; 0 while none is
    int modules = 0;           // modules due: all of them when known, else those named so far
    bool modulesKnown = false; // the run was given its modules before it started
    bool anyNamed = false;     // a module has logged on
    qint64 elapsedMs = 0;
    std::optional<qint64> leftMs; // 0 once every line due is sent
};

QString overallProgressText(const OverallProgress &progress);

// How a run ended, as the progress bar's text says it.
struct RunVerdict
{
    bool passed = false;
    QString text;
};

// notUpdated counts the modules chosen and not updated, also those whose
// fate the run left unknown.
RunVerdict runVerdict(bool finalLine, int updated, int notUpdated);

// Counts the lines sent against the lines due, in percent of the file per
// pass: each module due owes a flash and a compare pass. Without the list of
// modules due, the console program names a module when it reaches it, so the
// modules due grow during a run. A module named and left without a line
// (skipped, or given up before flashing) is not due. A module that ends early
// owes no more than it sent. Times are milliseconds on any clock, passed in
// so that no clock is read.
class RunProgress
{
public:
    // due: the modules the run is to update, when known before it starts.
    void start(qint64 nowMs, std::optional<QList<uint>> due = std::nullopt);
    void apply(const ModuleEvent &event, qint64 nowMs);
    OverallProgress at(qint64 nowMs) const;
    // Lines sent of all lines due; empty while nothing is known to be due.
    std::optional<int> percentOfRun() const;

private:
    void finishCurrent();
    void name(uint id);
    void send(const ModuleEvent &event, qint64 nowMs);
    bool waitingForReady() const;
    int modulesDue() const;
    qint64 unitsDone() const;
    qint64 unitsDue() const;

    qint64 startMs = 0;
    std::optional<qint64> firstLineMs;
    std::optional<QSet<uint>> chosen;
    QSet<uint> named; // also the modules known by their lines alone
    QSet<uint> sent;
    QSet<uint> dropped; // settled without a line
    std::optional<uint> lastNamed;
    int worked = 0;
    int finishedModules = 0;
    std::optional<uint> current;
    int flashPercent = 0;
    int comparePercent = 0;
    qint64 finishedUnits = 0;
};
