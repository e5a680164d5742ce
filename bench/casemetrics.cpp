#include "casemetrics.h"

#include "runlimits.h"

#include <algorithm>

namespace bench {

namespace {

// Threads of the interface stand-in in the flasher's process: the simulated
// bus, and the I/O thread of the Qt adapters. With real hardware their work
// is the adapter's and its vendor driver's.
constexpr const char *kStandInThreads[] = {"tarvSimBus", "tarvcanapi-io"};

double percentOf(double part, double whole)
{
    return whole > 0 ? 100.0 * part / whole : 0.0;
}

} // namespace

FixedPauses sequencePauses()
{
    return FixedPauses{runlimits::PhasePause, runlimits::AfterFlashedLine};
}

PhaseFigures phaseFigures(const std::vector<Pass> &passes, PassKind kind, int linesPerPass, int64_t dataBytes,
                          const FixedPauses &pauses)
{
    PhaseFigures f;
    int64_t wallNs = 0;
    int64_t floorNs = 0;
    int64_t pausesNs = 0;
    uint64_t frames = 0;
    uint64_t latenessNs = 0;
    uint64_t maxLatenessNs = 0;
    const int64_t linePauses = kind == PassKind::Flash ? std::max(linesPerPass - 1, 0) : 0;
    for (const Pass &pass : passes) {
        if (pass.kind != kind)
            continue;
        ++f.passes;
        wallNs += pass.wallNs();
        const int64_t passPausesNs =
            pauses.afterPassCommand.count() + linePauses * pauses.afterFlashedLine.count();
        pausesNs += passPausesNs;
        floorNs += static_cast<int64_t>(pass.busyNs) + passPausesNs;
        frames += pass.frames;
        latenessNs += pass.sumLatenessNs;
        maxLatenessNs = std::max(maxLatenessNs, pass.maxLatenessNs);
    }
    f.wallS = static_cast<double>(wallNs) / 1e9;
    f.floorS = static_cast<double>(floorNs) / 1e9;
    f.pausesS = static_cast<double>(pausesNs) / 1e9;
    f.ratio = floorNs > 0 ? static_cast<double>(wallNs) / static_cast<double>(floorNs) : 0;
    f.kBps = wallNs > 0 ? static_cast<double>(dataBytes) * f.passes / f.wallS / 1000.0 : 0;
    f.meanLatenessUs = frames > 0 ? static_cast<double>(latenessNs) / static_cast<double>(frames) / 1e3 : 0;
    f.maxLatenessUs = static_cast<double>(maxLatenessNs) / 1e3;
    return f;
}

CpuFigures cpuFigures(double runWallS, double processCpuS, double simulatorCpuS,
                      const std::map<std::string, double> &threadCpuS)
{
    CpuFigures f;
    f.runWallS = runWallS;
    f.simulatorCpuS = simulatorCpuS;
    f.flasherCpuS = std::max(processCpuS - simulatorCpuS, 0.0);
    f.flasherPercent = percentOf(f.flasherCpuS, runWallS);
    f.simulatorPercent = percentOf(simulatorCpuS, runWallS);
    for (const auto &[name, cpuS] : threadCpuS) {
        if (!isStandInThread(name))
            f.threadPercent[name] = percentOf(cpuS, runWallS);
    }
    return f;
}

bool isStandInThread(const std::string &name)
{
    return std::find(std::begin(kStandInThreads), std::end(kStandInThreads), name) != std::end(kStandInThreads);
}

double standInCpuS(const std::map<std::string, double> &threadCpuS)
{
    double sum = 0;
    for (const auto &[name, cpuS] : threadCpuS) {
        if (isStandInThread(name))
            sum += cpuS;
    }
    return sum;
}

double CaseResult::msPerKiBModule() const
{
    const double units = static_cast<double>(c.dataKiB) * c.modules;
    const double netS = flash.wallS - flash.pausesS + compare.wallS - compare.pausesS;
    return units > 0 ? netS * 1000.0 / units : 0;
}

} // namespace bench
