#include "caserun.h"

#include "busstats.h"
#include "childrun.h"
#include "modulesimprocess.h"
#include "srecord.h"
#include "verify.h"
#include "wirejudge.h"

#include <QFile>
#include <QStringList>

#include <cmath>

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

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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

// Every module holds exactly the file's data.
std::string imagesProblem(const Case &c, const std::string &firmware, const std::string &workDir)
{
    for (int i = 0; i < c.modules; ++i) {
        const std::string image = testkit::BenchIni::imageName(kFirstAddress + i).toStdString();
        const modsim::VerifyOutcome check = modsim::verifyImage(firmware, workDir + "/" + image);
        if (check.exitCode != modsim::VerifyEqual)
            return image + ": " + check.message;
    }
    return {};
}

// The frames on the bus kept every rule of the protocol; nothing to say
// without a trace, which a real run always leaves.
std::string wireProblem(const ChildSpec &spec, const ChildOutcome &outcome, const QString &tracePath)
{
    if (!QFile::exists(tracePath))
        return {};
    const testkit::WireVerdict verdict = testkit::judgeWire(
        {fileBytes(tracePath), QString(), fileBytes(QString::fromStdString(spec.args[3])),
         QString::fromStdString(spec.args[3]), QString(), fileBytes(QString::fromStdString(spec.stdoutPath)),
         fileBytes(QString::fromStdString(spec.stderrPath)), 0, outcome.exitCode});
    return verdict.ok() ? std::string() : "wire: " + verdict.describe().toStdString();
}

// What the console program printed, for a look at a failed case.
std::string consoleOutput(const ChildSpec &spec)
{
    return ("--- stdout\n" + fileBytes(QString::fromStdString(spec.stdoutPath)).right(6000) + "\n--- stderr\n"
            + fileBytes(QString::fromStdString(spec.stderrPath)).right(6000))
        .toStdString();
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

void addProcessFigures(CaseResult &r, const ChildOutcome &outcome, double simulatorCpuS)
{
    r.cpu = cpuFigures(outcome.wallS, outcome.cpuS, simulatorCpuS, outcome.threadCpuS);
    r.peakRssMiB = static_cast<double>(outcome.maxRssKiB) / 1024.0;
}

void addFigures(CaseResult &r, const BusStatsFile &stats, const ChildOutcome &outcome)
{
    const std::vector<Pass> passes = passesOf(stats);
    const int64_t dataBytes = int64_t{r.c.dataKiB} * 1024;
    r.flash = phaseFigures(passes, PassKind::Flash, r.lines, dataBytes, sequencePauses());
    r.compare = phaseFigures(passes, PassKind::Compare, r.lines, dataBytes, sequencePauses());
    addProcessFigures(r, outcome, static_cast<double>(stats.threadCpuNs) / kNsPerS);
    if (stats.end.frames > 0)
        r.busMeanLatenessUs =
            static_cast<double>(stats.end.sumLatenessNs) / static_cast<double>(stats.end.frames) / 1e3;
    r.busMaxLatenessUs = static_cast<double>(stats.end.maxLatenessNs) / 1e3;
    r.busRealtime = stats.realtime;
    if (r.problem.empty() && (r.flash.passes != r.c.modules || r.compare.passes != r.c.modules))
        r.problem = "the bus saw " + std::to_string(r.flash.passes) + " flash and "
                    + std::to_string(r.compare.passes) + " compare passes";
}

// tarvModuleSim with the case's modules on Qt's virtual bus.
bool startModules(const Case &c, const Programs &programs, const QString &workDir,
                  testkit::ModuleSimProcess &modules, QString *interface, std::string *problem)
{
    *interface = testkit::freeVirtualCanInterface();
    QStringList args{"--plugin", "virtualcan", "--interface",
                     *interface, "--bitrate",  QString::number(c.bitRateK)};
    for (int i = 0; i < c.modules; ++i)
        args << "--module" << testkit::BenchIni::moduleOption(kFirstAddress + i, moduleKeys(i), workDir);
    QString why;
    if (!modules.start(QString::fromStdString(programs.moduleSim), args, workDir + "/modules.txt", &why))
        *problem = why.toStdString();
    return problem->empty();
}

bool writeBenchFile(const Case &c, const QString &dir, const QString &interface)
{
    QFile config(dir + "/bench.ini");
    return config.open(QIODevice::WriteOnly)
           && config.write(benchIni(c, dir + "/bus-stats.jsonl", interface).text().toUtf8()) >= 0;
}

ChildSpec flasherSpec(const Case &c, const Programs &programs, const std::string &workDir,
                      const std::string &firmware, int lines)
{
    ChildSpec spec;
    spec.program = programs.flasher;
    spec.args = {"PCAN_USB", std::to_string(c.bitRateK), "0", firmware, "CLOSE_AUTO"};
    spec.env = {{"TARVCAN_CONFIG", workDir + "/bench.ini"}};
    spec.stdoutPath = workDir + "/stdout.txt";
    spec.stderrPath = workDir + "/stderr.txt";
    spec.timeout = timeoutFor(c, lines);
    return spec;
}

// The first thing wrong with the run, then what the wire judge found.
std::string runProblem(const Case &c, const ChildSpec &spec, const ChildOutcome &outcome, bool modulesEnded,
                       const std::string &firmware, const std::string &workDir)
{
    std::string problem = childProblem(outcome);
    if (problem.empty())
        problem = outputProblem(spec.stdoutPath, spec.stderrPath);
    if (problem.empty() && !modulesEnded)
        problem = "tarvModuleSim did not end cleanly";
    if (problem.empty())
        problem = imagesProblem(c, firmware, workDir);
    const QString trace = QString::fromStdString(workDir) + "/" + testkit::BenchIni::traceName(0);
    if (const std::string wire = wireProblem(spec, outcome, trace); !wire.empty())
        problem += (problem.empty() ? "" : "; ") + wire;
    return problem;
}

void addCaseFigures(CaseResult &r, const ChildOutcome &outcome, const std::string &workDir)
{
    if (r.c.bus == Bus::VirtualCan) {
        addProcessFigures(r, outcome, standInCpuS(outcome.threadCpuS));
        return;
    }
    std::string statsProblem;
    if (const std::optional<BusStatsFile> stats = readBusStats(workDir + "/bus-stats.jsonl", &statsProblem))
        addFigures(r, *stats, outcome);
    else if (r.problem.empty())
        r.problem = statsProblem;
}

} // namespace

CaseResult runCase(const Case &c, const Programs &programs, const std::string &workDir)
{
    CaseResult r;
    r.c = c;
    const QString dir = QString::fromStdString(workDir);
    const std::string firmware = workDir + "/K3B7_bench.hex";
    QString error;
    r.lines = testkit::writeFirmwareFile(QString::fromStdString(firmware),
                                         {.title = "K3B7 benchmark firmware",
                                          .dataBytes = int64_t{c.dataKiB} * 1024,
                                          .bytesPerRecord = c.bytesPerRecord,
                                          .addressBytes = 3,
                                          .base = 0},
                                         &error);
    r.problem = error.toStdString();
    testkit::ModuleSimProcess modules;
    QString interface;
    if (r.lines < 0
        || (c.bus == Bus::VirtualCan && !startModules(c, programs, dir, modules, &interface, &r.problem)))
        return r;
    if (!writeBenchFile(c, dir, interface)) {
        r.problem = "cannot write the bench configuration";
        return r;
    }

    const ChildSpec spec = flasherSpec(c, programs, workDir, firmware, r.lines);
    const ChildOutcome outcome = runChild(spec);
    r.runS = outcome.wallS;
    const bool modulesEnded = c.bus != Bus::VirtualCan || modules.stop();
    r.problem = runProblem(c, spec, outcome, modulesEnded, firmware, workDir);
    addCaseFigures(r, outcome, workDir);
    r.ok = r.problem.empty();
    if (!r.ok)
        r.output = consoleOutput(spec);
    return r;
}

} // namespace bench
