#include "caserun.h"

#include "busstats.h"
#include "childrun.h"
#include "srecordgen.h"
#include "verify.h"

#include <QFile>
#include <QProcess>
#include <QStringList>

#include <arpa/inet.h>
#include <cmath>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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

// Every module holds exactly the file's data.
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
        r.busMeanLatenessUs = static_cast<double>(stats.end.sumLatenessNs)
                              / static_cast<double>(stats.end.frames) / 1e3;
    r.busMaxLatenessUs = static_cast<double>(stats.end.maxLatenessNs) / 1e3;
    r.busRealtime = stats.realtime;
    if (r.problem.empty() && (r.flash.passes != r.c.modules || r.compare.passes != r.c.modules))
        r.problem = "the bus saw " + std::to_string(r.flash.passes) + " flash and "
                    + std::to_string(r.compare.passes) + " compare passes";
}

// A port nobody listens on at this moment.
int freeTcpPort()
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(fd);
    return port;
}

// tarvModuleSim with the case's modules on Qt's virtual bus, for as long as
// the object lives.
class ModuleProcess {
public:
    ~ModuleProcess() { stop(); }

    bool start(const Case &c, const std::string &program, const std::string &workDir, std::string *problem)
    {
        const int port = freeTcpPort();
        interface_ = "tcp://127.0.0.1:" + std::to_string(port) + "/can0";
        QStringList args{"--plugin", "virtualcan", "--interface", QString::fromStdString(interface_),
                         "--bitrate", QString::number(c.bitRateK)};
        for (int i = 0; i < c.modules; ++i)
            args << "--module" << QString::fromStdString(moduleOption(i, workDir));
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.setStandardOutputFile(QString::fromStdString(workDir + "/modules.txt"));
        process_.start(QString::fromStdString(program), args);
        if (port == 0 || !process_.waitForStarted()) {
            *problem = "cannot start " + program;
            return false;
        }
        // Up once its device is connected; it says so in its first line.
        const QString log = QString::fromStdString(workDir + "/modules.txt");
        for (int waited = 0; waited < 300; ++waited) {
            QFile file(log);
            if (file.open(QIODevice::ReadOnly) && file.readAll().contains("tarvModuleSim ready on"))
                return true;
            if (process_.waitForFinished(100))
                break;
        }
        *problem = "tarvModuleSim did not come up";
        return false;
    }
    const std::string &interface() const { return interface_; }
    // The end of its input ends it, and it writes the images.
    bool stop()
    {
        if (process_.state() == QProcess::NotRunning)
            return process_.exitStatus() == QProcess::NormalExit && process_.exitCode() == 0;
        process_.closeWriteChannel();
        if (!process_.waitForFinished(30000)) {
            process_.kill();
            process_.waitForFinished();
            return false;
        }
        return process_.exitStatus() == QProcess::NormalExit && process_.exitCode() == 0;
    }

private:
    QProcess process_;
    std::string interface_;
};

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
    ModuleProcess modules;
    if (c.bus == Bus::VirtualCan && !modules.start(c, programs.moduleSim, workDir, &r.problem))
        return r;
    std::ofstream(config) << benchIni(c, statsPath, workDir, modules.interface());

    ChildSpec spec;
    spec.program = programs.flasher;
    spec.args = {"PCAN_USB", std::to_string(c.bitRateK), "0", firmware, "CLOSE_AUTO"};
    spec.env = {{"TARVCAN_CONFIG", config}};
    spec.stdoutPath = workDir + "/stdout.txt";
    spec.stderrPath = workDir + "/stderr.txt";
    spec.timeout = timeoutFor(c, facts.lines);
    const ChildOutcome outcome = runChild(spec);
    r.runS = outcome.wallS;
    const bool modulesEnded = c.bus != Bus::VirtualCan || modules.stop();

    r.problem = childProblem(outcome);
    if (r.problem.empty())
        r.problem = outputProblem(spec.stdoutPath, spec.stderrPath);
    if (r.problem.empty() && !modulesEnded)
        r.problem = "tarvModuleSim did not end cleanly";
    if (r.problem.empty())
        r.problem = imagesProblem(c, firmware, workDir);
    if (c.bus == Bus::VirtualCan) {
        addProcessFigures(r, outcome, standInCpuS(outcome.threadCpuS));
    } else {
        std::string statsProblem;
        if (const std::optional<BusStatsFile> stats = readBusStats(statsPath, &statsProblem))
            addFigures(r, *stats, outcome);
        else if (r.problem.empty())
            r.problem = statsProblem;
    }
    r.ok = r.problem.empty();
    return r;
}

} // namespace bench
