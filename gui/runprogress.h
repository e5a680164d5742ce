#pragma once

#include "outputparser.h"

#include <QtGlobal>

#include <optional>

// The whole run at a glance: which module of how many, the time elapsed and
// an estimate of the time left.
struct OverallProgress
{
    int module = 0;  // ordinal of the module in work; 0 while none is
    int modules = 0; // modules known to be due so far
    qint64 elapsedMs = 0;
    std::optional<qint64> leftMs;
};

QString overallProgressText(const OverallProgress &progress);

// Counts the lines sent against the lines due, in percent of the file per
// pass: each module due owes a flash and a compare pass. The console program
// names a module when it reaches it, so the modules due grow during a run;
// a module named and left without a line (skipped, or given up before
// flashing) is not due. A module that ends early owes no more than it sent.
// Times are milliseconds on any clock, passed in so that no clock is read.
class RunProgress
{
public:
    void start(qint64 nowMs);
    void apply(const ModuleEvent &event, qint64 nowMs);
    OverallProgress at(qint64 nowMs) const;

private:
    void finishCurrent();

    qint64 startMs = 0;
    std::optional<qint64> firstLineMs;
    int named = 0;
    int passedOver = 0;
    std::optional<uint> lastNamed;
    bool lastNamedSent = false;
    int worked = 0;
    std::optional<uint> current;
    int flashPercent = 0;
    int comparePercent = 0;
    qint64 finishedUnits = 0;
};
