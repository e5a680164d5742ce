// What the benchmark prints: one JSON line per case, the table of all cases,
// the growth check and the state of each target.
#pragma once

#include "casemetrics.h"

#include <QByteArray>

#include <string>
#include <vector>

namespace bench {

QByteArray jsonLine(const CaseResult &result);

std::string tableHeader();
std::string tableRow(const CaseResult &result);

// Per bit rate and record size: the net milliseconds per KiB and module of
// each size and module count, and how far they spread.
std::string growthSection(const std::vector<CaseResult> &results);

struct Targets
{
    double maxPhaseRatio = 1.10;
    double maxFlasherPercent = 10.0;
    double maxRssMiB = 40.0;
    int rssCaseKiB = 1024;
};
std::string targetSection(const std::vector<CaseResult> &results, const Targets &targets = {});

} // namespace bench
