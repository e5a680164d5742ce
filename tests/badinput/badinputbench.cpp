#include "badinputbench.h"

#include "image.h"
#include "verify.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcessEnvironment>

namespace badinput {

namespace {

QList<QByteArray> linesOf(const QByteArray &text)
{
    QList<QByteArray> lines = text.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    return lines;
}

const char BenchConfig[] =
    "[adapter.a]\n"
    "index = 0\n"
    "driver = pcan_usb\n"
    "backend = sim\n"
    "trace = trace.log\n"
    "\n"
    "[module.m]\n"
    "adapter = 0\n"
    "address = 1\n"
    "name = K3B7\n"
    "image = module.s3\n";

} // namespace

QList<QByteArray> FlashRun::outLines() const
{
    return linesOf(out);
}

QList<QByteArray> FlashRun::errLines() const
{
    return linesOf(err);
}

int FlashRun::count(const QByteArray &prefix) const
{
    int n = 0;
    for (const QByteArray &line : outLines() + errLines())
        n += line.startsWith(prefix) ? 1 : 0;
    return n;
}

QByteArray FlashRun::lastCompareLine() const
{
    QByteArray last;
    for (const QByteArray &line : outLines()) {
        if (line.startsWith("Compare "))
            last = line;
    }
    return last;
}

QString FlashRun::describe() const
{
    return QStringLiteral("ended %1, crashed %2, exit code %3\n--- stdout\n%4\n--- stderr\n%5")
        .arg(ended)
        .arg(crashed)
        .arg(exitCode)
        .arg(QString::fromLocal8Bit(out.right(4000)), QString::fromLocal8Bit(err.right(4000)));
}

BadInputBench::BadInputBench()
{
    writeFile(QStringLiteral("bench.ini"), BenchConfig);
}

bool BadInputBench::writeFile(const QString &name, const QByteArray &bytes) const
{
    QFile file(path(name));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QString BadInputBench::flasherPath()
{
    return QStringLiteral(TARV_FLASHER_PATH);
}

void BadInputBench::start(QProcess &process, const QStringList &args) const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TARVCAN_CONFIG"), path(QStringLiteral("bench.ini")));
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(dir_.path());
    process.start(flasherPath(), args);
    process.waitForStarted();
    // The end of input stands for the ENTER key that nobody will press.
    process.closeWriteChannel();
}

FlashRun BadInputBench::run(const QStringList &args, std::chrono::seconds deadline) const
{
    QProcess process;
    start(process, args);
    return finish(process, {}, deadline);
}

FlashRun BadInputBench::runShell(const QString &script, const QStringList &shellArgs) const
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TARVCAN_CONFIG"), path(QStringLiteral("bench.ini")));
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(dir_.path());
    process.start(QStringLiteral("/bin/sh"), QStringList{QStringLiteral("-c"), script, flasherPath()} + shellArgs);
    process.waitForStarted();
    process.closeWriteChannel();
    return finish(process, {});
}

bool BadInputBench::waitForOutput(QProcess &process, QByteArray &out, const QByteArray &needle)
{
    QDeadlineTimer deadline(RunDeadline);
    while (!out.contains(needle)) {
        if (process.state() == QProcess::NotRunning || deadline.hasExpired())
            return false;
        process.waitForReadyRead(static_cast<int>(std::min<qint64>(deadline.remainingTime(), 1000)));
        out += process.readAllStandardOutput();
    }
    return true;
}

FlashRun BadInputBench::finish(QProcess &process, QByteArray out, std::chrono::seconds deadline)
{
    FlashRun run;
    run.ended = process.waitForFinished(static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline).count()));
    if (!run.ended) {
        process.kill();
        process.waitForFinished();
    }
    run.crashed = process.exitStatus() == QProcess::CrashExit;
    run.exitCode = run.ended && !run.crashed ? process.exitCode() : -1;
    run.out = out + process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

int BadInputBench::tracedFrames() const
{
    QFile trace(path(QStringLiteral("trace.log")));
    if (!trace.open(QIODevice::ReadOnly))
        return 0;
    return static_cast<int>(linesOf(trace.readAll()).size());
}

qsizetype BadInputBench::moduleImageBytes() const
{
    const QString image = path(QStringLiteral("module.s3"));
    if (!QFile::exists(image))
        return 0;
    modsim::Image flash;
    std::string error;
    if (!modsim::loadSRecordFile(image.toStdString(), &flash, &error))
        return -1;
    return static_cast<qsizetype>(flash.size());
}

bool BadInputBench::moduleHolds(const QString &firmwarePath, QString *why) const
{
    const modsim::VerifyOutcome outcome = modsim::verifyImage(
        firmwarePath.toStdString(), path(QStringLiteral("module.s3")).toStdString());
    *why = QString::fromStdString(outcome.message);
    return outcome.exitCode == modsim::VerifyEqual;
}

} // namespace badinput
