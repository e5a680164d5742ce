#include "virtualrun.h"

#include "benchconfig.h"
#include "benchini.h"
#include "commandline.h"
#include "console.h"
#include "firmwarefile.h"
#include "image.h"
#include "managecancommunication.h"
#include "module.h"
#include "testbench.h"
#include "updatesequence.h"
#include "virtualbus.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

namespace testkit {

QStringList VirtualResult::frames() const
{
    QStringList frames;
    for (const QByteArray &line : trace.split('\n')) {
        if (const qsizetype space = line.lastIndexOf(' '); space > 0)
            frames.append(QString::fromLatin1(line.mid(space + 1)));
    }
    return frames;
}

QString VirtualResult::describe() const
{
    return QStringLiteral("exit code %1%2, wire: %3\n--- out\n%4--- err\n%5")
        .arg(exitCode)
        .arg(overran ? QStringLiteral(" (stopped at the virtual time limit)") : QString())
        .arg(wire.describe(), QString::fromUtf8(out), QString::fromUtf8(err));
}

namespace {

bool parseBench(const BenchIni &ini, const QString &folder, canapi::BenchConfig *config, QString *error)
{
    return canapi::parseBenchConfig(ini.text(), QStringLiteral("bench.ini"), folder, config, error);
}

std::vector<modsim::ModuleConfig> modulesOfLine(const BenchIni &ini, const canapi::BenchConfig &config,
                                                int canLine)
{
    std::vector<modsim::ModuleConfig> modules;
    const int adapter = ini.adapterOfLine(canLine);
    for (const canapi::ModuleEntry &entry : config.modules) {
        if (entry.adapterIndex == adapter)
            modules.push_back(entry.config);
    }
    return modules;
}

} // namespace

std::vector<modsim::ModuleConfig> benchModules(const BenchIni &ini, int canLine, QString *error)
{
    canapi::BenchConfig config;
    if (!parseBench(ini, QStringLiteral("."), &config, error))
        return {};
    std::vector<modsim::ModuleConfig> modules = modulesOfLine(ini, config, canLine);
    for (modsim::ModuleConfig &module : modules)
        module.imagePath.clear();
    return modules;
}

namespace {

constexpr int64_t RunLimitUs = 10LL * 60 * 1000000;

// What the program writes and does around the run, from its banner to its
// last line; the exit code as the program's.
int runProgram(const VirtualSpec &spec, VirtualBus &bus, Console &console, bool &overran)
{
    console.out(bannerLine());
    if (!spec.scan)
        console.out(QCoreApplication::translate("main", "Programflash from hex file: ") + spec.firmwarePath);
    FirmwareFile file;
    if (!spec.scan) {
        if (const QString problem = file.open(spec.firmwarePath); !problem.isEmpty()) {
            console.err(problem);
            return 1;
        }
    }
    ManageCanCommunication manager(bus, bus, console, nullptr);
    bus.attach(manager);
    const auto canLine = static_cast<uint16_t>(spec.canLine);
    if (!manager.openLine(canLine))
        return 1;
    UpdateSequence::Settings settings{spec.firmwarePath, parseCanIds(spec.canIds).value_or(QList<uint16_t>()),
                                      canLine, spec.scan, spec.closeAuto};
    UpdateSequence::Hooks hooks{[](const QString &, const QString &) {}, [](int) {}, [] {}};
    UpdateSequence sequence(console, manager, file, settings, hooks);
    if (spec.stopAtUs >= 0) {
        bus.scheduleStop(spec.stopAtUs * 1000, [&sequence] { sequence.stopNow(); });
    } else {
        // A run that goes on for ever (a line repeated without end) is
        // stopped, and the judge, not told of the stop, refuses what it left.
        bus.scheduleStop(RunLimitUs * 1000, [&sequence, &overran] {
            overran = true;
            sequence.stopNow();
        });
    }
    sequence.run();
    bus.drain();
    console.outNoNewline(QCoreApplication::translate("main", "Finish: Update Process needed %1 seconds.")
                             .arg(bus.nowNs() / 1000000000));
    return sequence.succeeded() ? 0 : 2;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

VirtualResult runVirtual(const VirtualSpec &spec)
{
    VirtualResult result;
    VirtualBus::Options options;
    options.bitRate = static_cast<uint32_t>(spec.bitRateKbit) * 1000;
    options.canLine = static_cast<uint16_t>(spec.canLine);
    options.busOffAfterFrames = spec.busOffAfterFrames;
    VirtualBus bus(options, spec.modules);
    {
        QTextStream out(&result.out);
        QTextStream err(&result.err);
        Console console(out, err);
        result.exitCode = runProgram(spec, bus, console, result.overran);
    }
    result.trace = bus.trace();
    modsim::Image fileImage;
    std::string why;
    const bool readable = modsim::loadSRecordFile(spec.firmwarePath.toStdString(), &fileImage, &why);
    for (size_t i = 0; i < bus.moduleCount(); ++i) {
        result.imagesEqual.push_back(readable && bus.module(i).image() == fileImage);
        result.imageProblems.append(bus.module(i).saveImage(&why) ? QString() : QString::fromStdString(why));
    }
    result.virtualUs = bus.nowNs() / 1000;
    WireRun run;
    run.trace = result.trace;
    run.firmware = fileBytes(spec.firmwarePath);
    run.fileName = spec.firmwarePath;
    run.canIds = spec.canIds;
    run.out = result.out;
    run.err = result.err;
    run.canLine = spec.canLine;
    run.exitCode = result.exitCode;
    run.scan = spec.scan;
    run.stopUs = spec.stopAtUs < 0 ? -1 : spec.stopAtUs + 1700000000LL * 1000000;
    result.wire = judgeWire(run);
    return result;
}

} // namespace testkit

namespace testkit {

namespace {

bool specOfArgs(const Bench &bench, const QStringList &args, VirtualSpec *spec, QString *error)
{
    QList<QByteArray> bytes;
    for (const QString &arg : args)
        bytes.append(arg.toLocal8Bit());
    const CommandLine line = parseCommandLine(bytes);
    canapi::BenchConfig config;
    if (line.check != CommandLine::Check::Accepted) {
        *error = QStringLiteral("arguments the program refuses: ") + args.join(u' ');
        return false;
    }
    if (!parseBench(bench.ini(), bench.folder(), &config, error))
        return false;
    spec->firmwarePath = line.fileName;
    spec->canIds = line.canIds.value_or(QString());
    spec->canLine = line.canLine;
    spec->bitRateKbit = line.bitRate;
    spec->scan = line.scan;
    spec->closeAuto = line.closeAuto || line.scan;
    spec->modules = modulesOfLine(bench.ini(), config, line.canLine);
    if (const canapi::AdapterConfig *adapter = config.adapter(bench.ini().adapterOfLine(line.canLine)))
        spec->busOffAfterFrames = adapter->busOffAfterFrames;
    return true;
}

} // namespace

RunResult runVirtualBench(const Bench &bench, const QStringList &args)
{
    RunResult run;
    VirtualSpec spec;
    QString error;
    if (!specOfArgs(bench, args, &spec, &error)) {
        run.err = error.toLocal8Bit();
        run.errLines = QStringList{error};
        return run;
    }
    const VirtualResult result = runVirtual(spec);
    run.started = true;
    run.ended = !result.overran;
    run.exitCode = result.exitCode;
    run.out = result.out;
    run.err = result.err;
    run.outLines = linesOf(result.out);
    run.errLines = linesOf(result.err);
    run.trace = result.trace;
    run.wire = result.wire;
    // No machine starves a reader in virtual time.
    run.faultless = true;
    for (size_t i = 0; i < spec.modules.size(); ++i) {
        const QString problem = result.imageProblems.value(static_cast<qsizetype>(i));
        run.images.append({spec.modules[i].address, result.imagesEqual[i], problem});
    }
    return run;
}

} // namespace testkit
