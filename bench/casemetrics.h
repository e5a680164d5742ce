// The figures of one benchmark case, from the passes the bus counted, the
// fixed pauses of the update sequence and what the kernel counted for the
// flasher's process.
#pragma once

#include "benchcase.h"
#include "busstats.h"

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace bench {

// The pauses the sequence must keep inside a pass: one after the update
// command that opens it, and in the flash pass one after every line but the
// first (which the opening step sends without one).
struct FixedPauses
{
    std::chrono::nanoseconds afterPassCommand;
    std::chrono::nanoseconds afterFlashedLine;
};
FixedPauses sequencePauses();

struct PhaseFigures
{
    int passes = 0;
    double wallS = 0;
    double floorS = 0;
    double pausesS = 0; // the fixed pauses within the floor
    double ratio = 0;   // wall / floor
    double kBps = 0;    // firmware data bytes per second of wall time, in 1000 B
    double meanLatenessUs = 0;
    double maxLatenessUs = 0;
};

// Sums the passes of one kind; linesPerPass is the file's line count.
PhaseFigures phaseFigures(const std::vector<Pass> &passes, PassKind kind, int linesPerPass, int64_t dataBytes,
                          const FixedPauses &pauses);

struct CpuFigures
{
    double runWallS = 0;
    double flasherCpuS = 0;    // every thread of the process but the stand-in's
    double simulatorCpuS = 0;  // the interface stand-in's threads
    double flasherPercent = 0; // of one core over the run
    double simulatorPercent = 0;
    std::map<std::string, double> threadPercent; // the flasher's threads by name
};

// processCpuS counts every thread the process had; simulatorCpuS is the
// stand-in's part of it. The stand-in's threads are left out of the list.
CpuFigures cpuFigures(double runWallS, double processCpuS, double simulatorCpuS,
                      const std::map<std::string, double> &threadCpuS);
// Whether a thread of that name belongs to the interface stand-in.
bool isStandInThread(const std::string &name);
// The sampled CPU seconds of the stand-in's threads.
double standInCpuS(const std::map<std::string, double> &threadCpuS);

struct CaseResult
{
    Case c;
    bool ok = false;
    std::string problem; // why not ok
    std::string output;  // the console program's output when not ok
    int lines = 0;
    double runS = 0;
    PhaseFigures flash;
    PhaseFigures compare;
    CpuFigures cpu;
    double peakRssMiB = 0;
    double busMeanLatenessUs = 0;
    double busMaxLatenessUs = 0;
    bool busRealtime = false;

    // Flash and compare wall time less their fixed pauses, per KiB of
    // firmware and per module: the same for every size and module count of a
    // bit rate and record size when the run time grows linearly with both.
    double msPerKiBModule() const;
};

} // namespace bench
