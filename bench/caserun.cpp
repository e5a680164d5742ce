#include "caserun.h"

#include "busstats.h"
#include "childrun.h"
#include "srecordgen.h"
#include "verify.h"

#include <QFile>

#include <cmath>
#include <fstream>

namespace bench {

namespace {

constexpr double kNsPerS = 1e9;

// Generous: a run that takes four times what the bus needs is stuck.
std::chrono::seconds timeoutFor(const Case &c, int lines)
{
    const double frames = std::ceil((2.0 * c.bytesPerRecord + 14) / 6);
    const double bitsPerLine = frames * (135 + 75) + 75;
    const double passS = lines * (bitsPerLine / (c.bitRateK * 1000.0) + 0.002);
    const double runS = c.modules * (2 * passS + 6) + 10;
    return std::chrono::seconds(static_cast<long>(4 * runS + 60));
}

// The run ended as a success: the final line on standard output, no error
// line on standard error.
std::string outputProblem(const std::string &outPath, const std::string &errPath)
{
    bool finished = false;
    QFile out(QString::fromStdString(outPath));
    if (out.open(QIODevice::ReadOnly)) {
        while (!out.atEnd())
            finished = finished || out.readLine().startsWith("Finish:");
    }
    QFile err(QString::fromStdString(errPath));
    if (err.open(QIODevice::ReadOnly)) {
        while (!err.atEnd()) {
            const QByteArray line = err.readLine();
            if (line.startsWith("Error:") || line.startsWith("Cannot"))
                return "error line: " + line.trimmed().toStdString();
        }
    }
    return finished ? std::string() : "no Finish: line";
}

std::string childProblem(const ChildOutcome &outcome)
{
    if (!outcome.started || !outcome.error.empty())
        return outcome.error;
    if (outcome.timedOut)
        return "did not end in time";
    if (outcome.signal != 0)
        return "killed by signal " + std::to_string(outcome.signal);
    if (outcome.exitCode != 0)
        return "exit code " + std::to_string(outcome.exitCode);
    return {};
}

std::string imagesProblem(const Case &c, const std::string &firmware, const std::string &workDir)
{
    for (int i = 0; i < c.modules; ++i) {
        const modsim::VerifyOutcome check = modsim::verifyImage(firmware, workDir + "/" + imageName(i));
        if (check.exitCode != modsim::VerifyEqual)
            return imageName(i) + ": " + check.message;
    }
    return {};
}

std::optional<BusStatsFile> readBusStats(const std::string &path, std::string *problem)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = "no bus statistics";
        return std::nullopt;
    }
    QString error;
    std::optional<BusStatsFile> stats = parseBusStats(file.readAll(), &error);
    if (!stats)
        *problem = error.toStdString();
    return stats;
}

void addFigures(CaseResult &r, const BusStatsFile &stats, const ChildOutcome &outcome)
{
    const std::vector<Pass> passes = passesOf(stats);
    const int64_t dataBytes = int64_t{r.c.dataKiB} * 1024;
    r.flash = phaseFigures(passes, PassKind::Flash, r.lines, dataBytes, sequencePauses());
    r.compare = phaseFigures(passes, PassKind::Compare, r.lines, dataBytes, sequencePauses());
    r.cpu = cpuFigures(outcome.wallS, outcome.cpuS, static_cast<double>(stats.threadCpuNs) / kNsPerS,
                       outcome.threadCpuS);
    r.peakRssMiB = static_cast<double>(outcome.maxRssKiB) / 1024.0;
    if (stats.end.frames > 0)
        r.busMeanLatenessUs = static_cast<double>(stats.end.sumLatenessNs)
                              / static_cast<double>(stats.end.frames) / 1e3;
    r.busMaxLatenessUs = static_cast<double>(stats.end.maxLatenessNs) / 1e3;
    if (r.problem.empty() && (r.flash.passes != r.c.modules || r.compare.passes != r.c.modules))
        r.problem = "the bus saw " + std::to_string(r.flash.passes) + " flash and "
                    + std::to_string(r.compare.passes) + " compare passes";
}

} // namespace

CaseResult runCase(const Case &c, const Programs &programs, const std::string &workDir)
{
    CaseResult r;
    r.c = c;
    const std::string firmware = workDir + "/K3B7_bench.hex";
    const std::string config = workDir + "/bench.ini";
    const std::string statsPath = workDir + "/bus-stats.jsonl";
    FirmwareFacts facts;
    if (!writeFirmwareFile(firmware, FirmwareShape{uint32_t(c.dataKiB) * 1024, uint32_t(c.bytesPerRecord)},
                           &facts, &r.problem))
        return r;
    r.lines = facts.lines;
    std::ofstream(config) << benchIni(c, statsPath);

    ChildSpec spec;
    spec.program = programs.flasher;
    spec.args = {"PCAN_USB", std::to_string(c.bitRateK), "0", firmware, "CLOSE_AUTO"};
    spec.env = {{"TARVCAN_CONFIG", config}};
    spec.stdoutPath = workDir + "/stdout.txt";
    spec.stderrPath = workDir + "/stderr.txt";
    spec.timeout = timeoutFor(c, facts.lines);
    const ChildOutcome outcome = runChild(spec);
    r.runS = outcome.wallS;

    r.problem = childProblem(outcome);
    if (r.problem.empty())
        r.problem = outputProblem(spec.stdoutPath, spec.stderrPath);
    if (r.problem.empty())
        r.problem = imagesProblem(c, firmware, workDir);
    std::string statsProblem;
    if (const std::optional<BusStatsFile> stats = readBusStats(statsPath, &statsProblem))
        addFigures(r, *stats, outcome);
    else if (r.problem.empty())
        r.problem = statsProblem;
    r.ok = r.problem.empty();
    return r;
}

} // namespace bench
