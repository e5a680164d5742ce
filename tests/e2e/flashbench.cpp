#include "flashbench.h"

#include "srecordgen.h"

#include <QFile>
#include <QProcessEnvironment>
#include <QTextStream>

namespace {

constexpr int RunTimeoutMs = 200000;

QString record(char type, uint32_t address, const QByteArray &data)
{
    return QString::fromStdString(
        bench::srecordLine(type - '0', address, std::vector<uint8_t>(data.begin(), data.end())));
}

QStringList split(const QString &text)
{
    QStringList lines = text.split(u'\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace

int FlashRun::countOut(const QString &prefix) const
{
    int n = 0;
    for (const QString &line : outLines)
        n += line.startsWith(prefix) ? 1 : 0;
    return n;
}

int FlashRun::countErr(const QString &text) const
{
    return static_cast<int>(errLines.count(text));
}

QStringList FlashRun::progressLines() const
{
    QStringList lines;
    for (const QString &line : outLines) {
        if (line.startsWith(QLatin1String("Flash ")) || line.startsWith(QLatin1String("Compare ")))
            lines.append(line);
    }
    return lines;
}

FlashBench::FlashBench() = default;

QStringList FlashBench::writeFirmware(const QString &name, int dataLines)
{
    QStringList lines{record('0', 0, "K3B7 test")};
    uint32_t seed = 0x2545F491;
    for (int i = 0; i < dataLines; ++i) {
        QByteArray data;
        for (int b = 0; b < 16; ++b) {
            seed = seed * 1103515245u + 12345u;
            data.append(static_cast<char>(seed >> 16));
        }
        lines.append(record('2', 0x4000 + 16u * i, data));
    }
    lines.append(record('8', 0x4000, {}));
    firmwarePath_ = path(name);
    QFile file(firmwarePath_);
    if (file.open(QIODevice::WriteOnly))
        file.write(lines.join(QStringLiteral("\r\n")).toLatin1() + "\r\n");
    firmwareLines_ = lines;
    return lines;
}

void FlashBench::addAdapter(int index, const Keys &keys)
{
    config_ << QStringLiteral("[adapter.a%1]").arg(index) << QStringLiteral("index = %1").arg(index)
            << QStringLiteral("driver = pcan_usb") << QStringLiteral("backend = sim")
            << QStringLiteral("trace = trace%1.log").arg(index);
    for (const auto &[key, value] : keys)
        config_ << key + QStringLiteral(" = ") + value;
    config_ << QString();
}

void FlashBench::addQtAdapter(int index, const QString &plugin, const QString &interface)
{
    config_ << QStringLiteral("[adapter.q%1]").arg(index) << QStringLiteral("index = %1").arg(index)
            << QStringLiteral("driver = pcan_usb") << QStringLiteral("backend = qt")
            << QStringLiteral("plugin = ") + plugin << QStringLiteral("interface = ") + interface
            << QString();
}

void FlashBench::addModule(int address, const Keys &keys)
{
    config_ << QStringLiteral("[module.m%1]").arg(address)
            << QStringLiteral("address = %1").arg(address)
            << QStringLiteral("image = ") + imagePath(address);
    bool adapterGiven = false;
    for (const auto &[key, value] : keys) {
        config_ << key + QStringLiteral(" = ") + value;
        adapterGiven = adapterGiven || key == QLatin1String("adapter");
    }
    if (!adapterGiven)
        config_ << QStringLiteral("adapter = 0");
    config_ << QString();
}

QString FlashBench::imagePath(int address) const
{
    return path(QStringLiteral("module-%1.s3").arg(address));
}

void FlashBench::writeConfig()
{
    QFile file(configPath());
    if (file.open(QIODevice::WriteOnly))
        file.write(config_.join(u'\n').toUtf8() + '\n');
}

void FlashBench::start(QProcess &process, const QStringList &args, const QString &program)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TARVCAN_CONFIG"), configPath());
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(dir_.path());
    process.start(program.isEmpty() ? flasherPath() : program, args);
}

FlashRun FlashBench::collect(QProcess &process)
{
    FlashRun result;
    if (!process.waitForFinished(RunTimeoutMs)) {
        process.kill();
        process.waitForFinished();
    } else if (process.exitStatus() == QProcess::NormalExit) {
        result.exitCode = process.exitCode();
    }
    result.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    result.err = QString::fromLocal8Bit(process.readAllStandardError());
    result.outLines = split(result.out);
    result.errLines = split(result.err);
    return result;
}

FlashRun FlashBench::run(const QStringList &args, const QByteArray &input, const QString &program)
{
    QProcess process;
    start(process, args, program);
    if (!process.waitForStarted())
        return {};
    process.write(input);
    process.closeWriteChannel();
    FlashRun result = collect(process);
    // Kept for a look after a failure; QTemporaryDir removes it otherwise.
    QFile log(path(QStringLiteral("flasher-output.txt")));
    if (log.open(QIODevice::WriteOnly))
        log.write(("== stdout\n" + result.out + "\n== stderr\n" + result.err).toUtf8());
    return result;
}

bool FlashBench::verifyImage(int address) const
{
    QProcess verify;
    verify.start(moduleSimPath(), {QStringLiteral("--verify"), firmwarePath_, imagePath(address)});
    return verify.waitForFinished(60000) && verify.exitStatus() == QProcess::NormalExit
           && verify.exitCode() == 0;
}

QString FlashBench::flasherPath()
{
    return QStringLiteral(TARV_FLASHER_PATH);
}

QString FlashBench::moduleSimPath()
{
    return QStringLiteral(TARV_MODULESIM_PATH);
}

QStringList autoArgs(const FlashBench &bench, int line, const QString &rate)
{
    return {QStringLiteral("PCAN_USB"), rate, QString::number(line), bench.firmwarePath(),
            QStringLiteral("CLOSE_AUTO")};
}
