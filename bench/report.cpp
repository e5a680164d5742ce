#include "report.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <utility>

namespace bench {

namespace {

double rounded(double value, int decimals)
{
    const double scale = std::pow(10.0, decimals);
    return std::round(value * scale) / scale;
}

QJsonObject phaseJson(const PhaseFigures &f)
{
    return QJsonObject{{"passes", f.passes},
                       {"wallS", rounded(f.wallS, 4)},
                       {"floorS", rounded(f.floorS, 4)},
                       {"pausesS", rounded(f.pausesS, 4)},
                       {"ratio", rounded(f.ratio, 4)},
                       {"kBps", rounded(f.kBps, 3)},
                       {"meanLatenessUs", rounded(f.meanLatenessUs, 2)},
                       {"maxLatenessUs", rounded(f.maxLatenessUs, 1)}};
}

QJsonObject cpuJson(const CpuFigures &f)
{
    QJsonObject threads;
    for (const auto &[name, percent] : f.threadPercent)
        threads.insert(QString::fromStdString(name), rounded(percent, 3));
    return QJsonObject{{"flasherCpuS", rounded(f.flasherCpuS, 3)},
                       {"simulatorCpuS", rounded(f.simulatorCpuS, 3)},
                       {"flasherPercent", rounded(f.flasherPercent, 3)},
                       {"simulatorPercent", rounded(f.simulatorPercent, 3)},
                       {"flasherThreadsPercent", threads}};
}

std::string format(const char *pattern, auto... values)
{
    char text[256];
    std::snprintf(text, sizeof text, pattern, values...);
    return text;
}

// No pass: the case ran where the bus keeps no statistics.
std::string phaseCells(const PhaseFigures &f)
{
    if (f.passes == 0)
        return format("%8s %8s %6s %7s", "-", "-", "-", "-");
    return format("%8.2f %8.2f %6.3f %7.2f", f.wallS, f.floorS, f.ratio, f.kBps);
}

bool onSimulatedBus(const CaseResult &r)
{
    return r.c.bus == Bus::Simulated;
}

using GroupKey = std::pair<int, int>; // bit rate, bytes per record

} // namespace

QByteArray jsonLine(const CaseResult &r)
{
    const QJsonObject object{{"case", QString::fromStdString(r.c.name())},
                             {"dataKiB", r.c.dataKiB},
                             {"bytesPerRecord", r.c.bytesPerRecord},
                             {"bitRateK", r.c.bitRateK},
                             {"modules", r.c.modules},
                             {"bus", onSimulatedBus(r) ? "simulated" : "virtualcan"},
                             {"ok", r.ok},
                             {"problem", QString::fromStdString(r.problem)},
                             {"lines", r.lines},
                             {"runS", rounded(r.runS, 3)},
                             {"flash", phaseJson(r.flash)},
                             {"compare", phaseJson(r.compare)},
                             {"msPerKiBModule", rounded(r.msPerKiBModule(), 4)},
                             {"cpu", cpuJson(r.cpu)},
                             {"peakRssMiB", rounded(r.peakRssMiB, 2)},
                             {"busMeanLatenessUs", rounded(r.busMeanLatenessUs, 2)},
                             {"busMaxLatenessUs", rounded(r.busMaxLatenessUs, 1)},
                             {"busRealtime", r.busRealtime}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::string tableHeader()
{
    return format("%-26s %6s %7s | %8s %8s %6s %7s | %8s %8s %6s %7s | %8s | %6s %6s | %7s | %7s %7s | %s",
                  "case", "lines", "run s", "flash s", "floor s", "ratio", "kB/s", "cmp s", "floor s", "ratio",
                  "kB/s", "ms/KiBm", "cpu %", "sim %", "RSS MiB", "late us", "max us", "ok");
}

std::string tableRow(const CaseResult &r)
{
    const bool phases = r.flash.passes > 0;
    return format("%-26s %6d %7.1f | ", r.c.name().c_str(), r.lines, r.runS) + phaseCells(r.flash) + " | "
           + phaseCells(r.compare) + " | " + (phases ? format("%8.3f", r.msPerKiBModule()) : format("%8s", "-"))
           + format(" | %6.2f %6.2f | %7.1f | ", r.cpu.flasherPercent, r.cpu.simulatorPercent, r.peakRssMiB)
           + (phases ? format("%7.1f %7.1f", r.busMeanLatenessUs, r.busMaxLatenessUs)
                     : format("%7s %7s", "-", "-"))
           + format(" | %s", r.ok ? "yes" : r.problem.c_str());
}

std::string growthSection(const std::vector<CaseResult> &results)
{
    std::map<GroupKey, std::vector<const CaseResult *>> groups;
    for (const CaseResult &r : results) {
        if (r.ok && onSimulatedBus(r))
            groups[{r.c.bitRateK, r.c.bytesPerRecord}].push_back(&r);
    }
    std::string text = "growth: net flash+compare ms per KiB and module (less the fixed pauses)\n";
    for (const auto &[key, members] : groups) {
        double low = members.front()->msPerKiBModule();
        double high = low;
        std::string cells;
        for (const CaseResult *r : members) {
            low = std::min(low, r->msPerKiBModule());
            high = std::max(high, r->msPerKiBModule());
            cells += format("  %dKiB/%dm %.3f", r->c.dataKiB, r->c.modules, r->msPerKiBModule());
        }
        text += format("  %4dk %2dB:", key.first, key.second) + cells
                + format("  spread %.1f%%\n", low > 0 ? 100.0 * (high / low - 1.0) : 0.0);
    }
    return text;
}

std::string targetSection(const std::vector<CaseResult> &results, const Targets &targets)
{
    std::map<int, double> worstRatio;
    double worstCpu = 0;
    double rss = -1;
    int failed = 0;
    for (const CaseResult &r : results) {
        if (!r.ok) {
            ++failed;
            continue;
        }
        // Phases and the flasher's own CPU are known on the simulated bus only.
        if (onSimulatedBus(r)) {
            double &worst = worstRatio[r.c.bitRateK];
            worst = std::max({worst, r.flash.ratio, r.compare.ratio});
            worstCpu = std::max(worstCpu, r.cpu.flasherPercent);
        }
        if (r.c.dataKiB == targets.rssCaseKiB)
            rss = std::max(rss, r.peakRssMiB);
    }
    const auto verdict = [](bool met) { return met ? "met" : "MISSED"; };
    std::string text = "targets:\n";
    for (const auto &[rate, ratio] : worstRatio)
        text += format("  phase/floor at %4d kbit/s: worst %.3f (<= %.2f) %s\n", rate, ratio,
                       targets.maxPhaseRatio, verdict(ratio <= targets.maxPhaseRatio));
    if (worstRatio.empty())
        text += "  phases and flasher CPU: no completed case on the simulated bus in this run\n";
    else
        text += format("  flasher CPU: worst %.2f %% of one core (<= %.0f %%) %s\n", worstCpu,
                       targets.maxFlasherPercent, verdict(worstCpu <= targets.maxFlasherPercent));
    if (rss >= 0)
        text += format("  peak RSS, %d KiB file: %.1f MiB (< %.0f MiB) %s\n", targets.rssCaseKiB, rss,
                       targets.maxRssMiB, verdict(rss < targets.maxRssMiB));
    else
        text += format("  peak RSS: no %d KiB case in this run\n", targets.rssCaseKiB);
    if (failed > 0)
        text += format("  %d case(s) did not complete\n", failed);
    return text;
}

} // namespace bench
