// tarvBench: complete update runs of generated firmware files through the
// simulated adapter, measured against what the bus and the fixed pauses
// allow. Prints one JSON line per case as it ends, then the table, the growth
// check and the targets. Exit code 0 when every case completed, 1 otherwise,
// 2 on bad arguments.
#include "benchcase.h"
#include "caserun.h"
#include "report.h"
#include "wakeprobe.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QThread>

#include <cerrno>
#include <cstdio>
#include <sys/resource.h>

namespace {

QString firstLineOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readLine()).trimmed() : QString();
}

QString cpuModel()
{
    // Files under /proc have no size, so the text is read whole, not up to atEnd().
    QFile file(QStringLiteral("/proc/cpuinfo"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith("model name"))
            return QString::fromUtf8(line.mid(line.indexOf(':') + 1)).trimmed();
    }
    return {};
}

QString loadAverage()
{
    return firstLineOf(QStringLiteral("/proc/loadavg")).section(u' ', 0, 2);
}

void printMachine(int niceness)
{
    std::printf("machine: %s, %d CPUs, %s; load average %s; flasher at nice %d\n", qPrintable(cpuModel()),
                QThread::idealThreadCount(), qPrintable(QSysInfo::prettyProductName()), qPrintable(loadAverage()),
                niceness);
    if (const auto wake = bench::measureWakeLatency())
        std::printf("wake-up of a thread on an idle CPU: median %.1f us, 90th percentile %.1f us\n",
                    wake->medianUs, wake->p90Us);
    else
        std::printf("wake-up of a thread on an idle CPU: not measured (fewer than two CPUs)\n");
    std::fflush(stdout);
}

// The runs inherit this process's niceness: on a shared machine a negative
// value keeps other people's work from being measured as the flasher's.
bool setNiceness(const QCommandLineParser &args, int *niceness)
{
    errno = 0;
    *niceness = getpriority(PRIO_PROCESS, 0);
    if (!args.isSet(QStringLiteral("nice")))
        return true;
    bool ok = false;
    const int wanted = args.value(QStringLiteral("nice")).toInt(&ok);
    if (!ok || wanted < -20 || wanted > 19 || setpriority(PRIO_PROCESS, 0, wanted) != 0) {
        std::fprintf(stderr, "tarvBench: cannot run at nice %s\n",
                     qPrintable(args.value(QStringLiteral("nice"))));
        return false;
    }
    *niceness = wanted;
    return true;
}

bool pickCases(const QCommandLineParser &args, std::vector<bench::Case> *cases)
{
    for (const QString &text : args.values(QStringLiteral("case"))) {
        std::string error;
        const std::optional<bench::Case> c = bench::parseCase(text.toStdString(), &error);
        if (!c) {
            std::fprintf(stderr, "tarvBench: %s\n", error.c_str());
            return false;
        }
        cases->push_back(*c);
    }
    if (cases->empty())
        *cases = args.isSet(QStringLiteral("short")) ? bench::shortCases() : bench::fullCases();
    return true;
}

void describeOptions(QCommandLineParser &args)
{
    args.setApplicationDescription(
        QStringLiteral("Runs complete updates of generated firmware files through the simulated adapter and "
                       "measures them against the bus time and the fixed pauses."));
    args.addHelpOption();
    args.addOptions({
        {QStringLiteral("short"), QStringLiteral("A few small cases (under two minutes).")},
        {QStringLiteral("case"),
         QStringLiteral("Only this case, SIZE_KiB:RECORD_BYTES:KBITS:MODULES[:vcan]; repeatable."),
         QStringLiteral("case")},
        {QStringLiteral("work"), QStringLiteral("Keep each case's files in a folder under this one."),
         QStringLiteral("folder")},
        {QStringLiteral("flasher"),
         QStringLiteral("The console program (default: tarvCanFlash beside this program)."),
         QStringLiteral("path")},
        {QStringLiteral("nice"),
         QStringLiteral("Run the flasher at this niceness (-20..19; below 0 needs the right to it)."),
         QStringLiteral("n")},
    });
}

bench::Programs programsFrom(const QCommandLineParser &args)
{
    const QString binDir = QCoreApplication::applicationDirPath();
    return {(args.isSet(QStringLiteral("flasher")) ? args.value(QStringLiteral("flasher"))
                                                   : binDir + QStringLiteral("/tarvCanFlash"))
                .toStdString(),
            (binDir + QStringLiteral("/tarvModuleSim")).toStdString()};
}

// Each case in a fresh folder of its own under workRoot, its JSON line as it
// ends; false when a folder cannot be made.
bool runCases(const std::vector<bench::Case> &cases, const bench::Programs &programs, const QString &workRoot,
              std::vector<bench::CaseResult> *results)
{
    for (const bench::Case &c : cases) {
        const QString dir = QDir(workRoot).filePath(QString::fromStdString(c.name()));
        QDir(dir).removeRecursively();
        if (!QDir().mkpath(dir)) {
            std::fprintf(stderr, "tarvBench: cannot make %s\n", qPrintable(dir));
            return false;
        }
        std::fprintf(stderr, "tarvBench: %s ...\n", c.name().c_str());
        results->push_back(bench::runCase(c, programs, dir.toStdString()));
        std::printf("%s\n", bench::jsonLine(results->back()).constData());
        if (!results->back().ok)
            std::printf("%s failed: %s\n%s\n", c.name().c_str(), results->back().problem.c_str(),
                        results->back().output.c_str());
        std::fflush(stdout);
    }
    return true;
}

// The table, the growth and the targets; true when every case passed.
bool printSummary(const std::vector<bench::CaseResult> &results)
{
    std::printf("\n%s\n", bench::tableHeader().c_str());
    bool allOk = true;
    for (const bench::CaseResult &r : results) {
        std::printf("%s\n", bench::tableRow(r).c_str());
        allOk = allOk && r.ok;
    }
    std::printf("\n%s\n%s", bench::growthSection(results).c_str(), bench::targetSection(results).c_str());
    std::printf("load average at the end: %s\n", qPrintable(loadAverage()));
    return allOk;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser args;
    describeOptions(args);
    args.process(app);

    std::vector<bench::Case> cases;
    int niceness = 0;
    if (!pickCases(args, &cases) || !setNiceness(args, &niceness))
        return 2;
    const bench::Programs programs = programsFrom(args);

    QTemporaryDir scratch;
    const QString workRoot =
        args.isSet(QStringLiteral("work")) ? args.value(QStringLiteral("work")) : scratch.path();
    printMachine(niceness);
    std::vector<bench::CaseResult> results;
    if (!runCases(cases, programs, workRoot, &results))
        return 1;
    return printSummary(results) ? 0 : 1;
}
