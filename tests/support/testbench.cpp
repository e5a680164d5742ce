#include "testbench.h"

#include <QFile>
#include <QTest>

namespace testkit {

Bench::Bench() = default;

Bench::Bench(const QString &folderTemplate)
    : dir_(folderTemplate)
{}

Bench::~Bench()
{
    if (!QTest::currentTestFailed())
        return;
    for (const auto &run : runs_) {
        qInfo().noquote()
            << QStringLiteral("=== tarvCanFlash %1 in %2\n").arg(run->process().arguments().join(u' '), folder())
                   + run->result().describe();
    }
}

bool Bench::writeFile(const QString &name, const QByteArray &bytes) const
{
    QFile file(path(name));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QString Bench::keepFolder()
{
    dir_.setAutoRemove(false);
    return dir_.path();
}

QStringList Bench::writeFirmware(const FirmwareShape &shape, const QString &name)
{
    return writeFirmware(firmwareRecords(shape), name);
}

QStringList Bench::writeFirmware(const QList<QByteArray> &records, const QString &name)
{
    firmwarePath_ = path(name);
    firmwareLines_.clear();
    for (const QByteArray &record : records)
        firmwareLines_.append(QString::fromLatin1(record));
    writeFile(name, joined(records));
    return firmwareLines_;
}

bool Bench::writeConfig() const
{
    QFile file(configPath());
    const QByteArray text = ini_.text().toUtf8();
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

bool Bench::verifyImage(int address) const
{
    return testkit::verifyImage(firmwarePath_, imagePath(address), address).equal;
}

QStringList Bench::autoArgs(int line, const QString &rate) const
{
    return {QStringLiteral("PCAN_USB"), rate, QString::number(line), firmwarePath_, QStringLiteral("CLOSE_AUTO")};
}

RunSpec Bench::spec(const QStringList &args) const
{
    RunSpec spec;
    spec.args = args;
    spec.folder = folder();
    spec.config = configPath();
    bool isLine = false;
    const QStringList line = lineArguments(args);
    const int adapter = ini_.adapterOfLine(line.value(2).toInt(&isLine));
    if (isLine && adapter >= 0 && line.value(0) == QLatin1String("PCAN_USB"))
        spec.tracePath = path(BenchIni::traceName(adapter));
    for (int address : ini_.moduleAddresses())
        spec.images.append({address, imagePath(address)});
    spec.faultless = !ini_.injectsLossOrDelay();
    return spec;
}

FlasherRun &Bench::start(const QStringList &args, bool closeInput)
{
    RunSpec s = spec(args);
    s.closeInput = closeInput;
    runs_.push_back(std::make_unique<FlasherRun>(s));
    runs_.back()->start();
    return *runs_.back();
}

RunResult Bench::run(const QStringList &args, const QByteArray &input, const QString &program)
{
    RunSpec s = spec(args);
    s.input = input;
    if (!program.isEmpty())
        s.program = program;
    runs_.push_back(std::make_unique<FlasherRun>(s));
    runs_.back()->start();
    return runs_.back()->finish();
}

} // namespace testkit
