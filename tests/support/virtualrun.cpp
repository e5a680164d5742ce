#include "virtualrun.h"

#include "benchconfig.h"
#include "benchini.h"
#include "commandline.h"
#include "console.h"
#include "firmwarefile.h"
#include "image.h"
#include "managecancommunication.h"
#include "module.h"
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

std::vector<modsim::ModuleConfig> benchModules(const BenchIni &ini, int canLine, QString *error)
{
    canapi::BenchConfig config;
    std::vector<modsim::ModuleConfig> modules;
    if (!canapi::parseBenchConfig(ini.text(), QStringLiteral("bench.ini"), QStringLiteral("."),
                                  &config, error))
        return modules;
    const int adapter = ini.adapterOfLine(canLine);
    for (const canapi::ModuleEntry &entry : config.modules) {
        if (entry.adapterIndex != adapter)
            continue;
        modules.push_back(entry.config);
        modules.back().imagePath.clear();
    }
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
        console.out(QCoreApplication::translate("main", "Programflash from hex file: ")
                    + spec.firmwarePath);
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
    UpdateSequence::Settings settings{spec.firmwarePath,
                                      parseCanIds(spec.canIds).value_or(QList<uint16_t>()),
                                      canLine, spec.scan, true};
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
    for (size_t i = 0; i < bus.moduleCount(); ++i)
        result.imagesEqual.push_back(readable && bus.module(i).image() == fileImage);
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
