#include "flasherrun.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>

#include <algorithm>
#include <chrono>
#include <csignal>

namespace testkit {

namespace {

constexpr int VerifyMs = 60000;
constexpr qsizetype ShownBytes = 6000;

// The bytes of a regular file; nothing for a pipe or a device, whose reading
// could wait for ever.
QByteArray regularFile(const QString &path)
{
    QFile file(path);
    return QFileInfo(path).isFile() && file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString tail(const QByteArray &bytes)
{
    return (bytes.size() > ShownBytes ? QStringLiteral("...") : QString())
           + QString::fromLocal8Bit(bytes.right(ShownBytes));
}

QString howItEnded(const RunResult &r)
{
    const QString after = QStringLiteral(" after %1 s").arg(r.seconds, 0, 'f', 1);
    if (!r.started)
        return QStringLiteral("not started");
    if (!r.ended)
        return QStringLiteral("killed at its deadline") + after;
    return (r.crashed ? QStringLiteral("crashed") : QStringLiteral("exit code %1").arg(r.exitCode)) + after;
}

} // namespace

QString flasherPath()
{
    return QStringLiteral(TARV_FLASHER_PATH);
}

QString moduleSimPath()
{
    return QStringLiteral(TARV_MODULESIM_PATH);
}

ImageCheck verifyImage(const QString &firmware, const QString &image, int address)
{
    QProcess verify;
    verify.setProcessChannelMode(QProcess::MergedChannels);
    verify.start(moduleSimPath(), {QStringLiteral("--verify"), firmware, image});
    ImageCheck check{address, false, QString()};
    if (!verify.waitForFinished(VerifyMs)) {
        verify.kill();
        verify.waitForFinished();
    }
    check.message = QString::fromLocal8Bit(verify.readAll()).trimmed();
    check.equal = verify.exitStatus() == QProcess::NormalExit && verify.exitCode() == 0;
    return check;
}

bool isScan(const QStringList &args)
{
    return args.value(0) == QLatin1String("--scan");
}

QStringList lineArguments(const QStringList &args)
{
    return isScan(args) ? args.mid(1) : args;
}

QString canIdsArgument(const QStringList &args)
{
    if (args.size() == 5 && args[4] != QLatin1String("CLOSE_AUTO"))
        return args[4];
    return args.size() == 6 ? args[5] : QString();
}

QStringList linesOf(const QByteArray &bytes)
{
    QStringList lines = QString::fromLocal8Bit(bytes).split(u'\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QString &line : lines) {
        if (line.endsWith(u'\r'))
            line.chop(1);
    }
    return lines;
}

bool RunResult::imageEqual(int address) const
{
    for (const ImageCheck &image : images) {
        if (image.address == address)
            return image.equal;
    }
    return false;
}

int RunResult::countOut(const QString &prefix) const
{
    return static_cast<int>(std::count_if(outLines.begin(), outLines.end(),
                                          [&](const QString &line) { return line.startsWith(prefix); }));
}

int RunResult::countErr(const QString &line) const
{
    return static_cast<int>(errLines.count(line));
}

int RunResult::count(const QString &prefix) const
{
    return countOut(prefix)
           + static_cast<int>(std::count_if(errLines.begin(), errLines.end(),
                                            [&](const QString &line) { return line.startsWith(prefix); }));
}

QStringList RunResult::progressLines() const
{
    QStringList lines;
    for (const QString &line : outLines) {
        if (line.startsWith(QLatin1String("Flash ")) || line.startsWith(QLatin1String("Compare ")))
            lines.append(line);
    }
    return lines;
}

QString RunResult::describe() const
{
    QStringList text{QStringLiteral("tarvCanFlash: ") + howItEnded(*this),
                     QStringLiteral("wire: ") + (wire ? wire->describe() : QStringLiteral("no trace"))};
    for (const ImageCheck &image : images)
        text << QStringLiteral("image of module %1: %2").arg(image.address).arg(image.message);
    text << QStringLiteral("--- stdout") << tail(out) << QStringLiteral("--- stderr") << tail(err);
    return text.join(u'\n');
}

FlasherRun::FlasherRun(RunSpec spec, QObject *parent)
    : QObject(parent)
    , spec_(std::move(spec))
{
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, [this] {
        killed_ = true;
        process_.kill();
    });
    connect(&process_, &QProcess::readyReadStandardOutput, this, [this] {
        result_.out += process_.readAllStandardOutput();
        emit progressed();
    });
    connect(&process_, &QProcess::readyReadStandardError, this, [this] {
        result_.err += process_.readAllStandardError();
        emit progressed();
    });
    connect(&process_, &QProcess::finished, this, &FlasherRun::onFinished);
    // A program that cannot be started never reports finished.
    connect(&process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            onFinished();
    });
}

FlasherRun::~FlasherRun()
{
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished();
    }
}

void FlasherRun::start()
{
    if (spec_.flasherArgs.isEmpty())
        spec_.flasherArgs = spec_.args;
    firmware_ = regularFile(QDir(spec_.folder).absoluteFilePath(spec_.flasherArgs.value(3)));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!spec_.config.isEmpty())
        env.insert(QStringLiteral("TARVCAN_CONFIG"), spec_.config);
    process_.setProcessEnvironment(env);
    process_.setWorkingDirectory(spec_.folder);
    clock_.start();
    deadline_.start(spec_.deadlineMs);
    result_.started = true;
    process_.start(spec_.program, spec_.args);
    if (!done_) {
        process_.write(spec_.input);
        if (spec_.closeInput)
            process_.closeWriteChannel();
    }
}

void FlasherRun::onFinished()
{
    if (done_)
        return;
    deadline_.stop();
    result_.seconds = static_cast<double>(clock_.elapsed()) / 1000.0;
    result_.started = process_.error() != QProcess::FailedToStart;
    result_.ended = result_.started && !killed_;
    result_.crashed = result_.ended && process_.exitStatus() == QProcess::CrashExit;
    result_.exitCode = result_.ended && !result_.crashed ? process_.exitCode() : -1;
    result_.out += process_.readAllStandardOutput();
    result_.err += process_.readAllStandardError();
    conclude();
}

void FlasherRun::conclude()
{
    result_.outLines = linesOf(result_.out);
    result_.errLines = linesOf(result_.err);
    if (QFile::exists(spec_.tracePath)) {
        result_.trace = regularFile(spec_.tracePath);
        const QStringList &args = spec_.flasherArgs;
        const bool scan = isScan(args);
        WireRun wire{result_.trace,        QString(),   firmware_,   scan ? QString() : args.value(3),
                     canIdsArgument(args), result_.out, result_.err, lineArguments(args).value(2).toInt(),
                     result_.exitCode,     scan,        stopUs_,     spec_.outCut};
        result_.wire = judgeWire(wire);
        result_.faultless = spec_.faultless;
    }
    if (!spec_.images.isEmpty() && !isScan(spec_.flasherArgs)) {
        // Against the file as it was at the start, which the run may have
        // changed, and never against a pipe or a device.
        QString firmware = QDir(spec_.folder).absoluteFilePath(spec_.flasherArgs.value(3));
        if (!QFileInfo(firmware).isFile() || regularFile(firmware) != firmware_) {
            firmware = QDir(spec_.folder).filePath(QStringLiteral("firmware-at-start.hex"));
            QFile copy(firmware);
            if (copy.open(QIODevice::WriteOnly))
                copy.write(firmware_);
        }
        for (const auto &[address, image] : spec_.images)
            result_.images.append(verifyImage(firmware, image, address));
    }
    done_ = true;
    emit progressed();
    emit finished();
}

void FlasherRun::waitFor(const std::function<bool()> &condition)
{
    QEventLoop loop;
    connect(this, &FlasherRun::progressed, &loop, &QEventLoop::quit);
    while (!done_ && !condition())
        loop.exec();
}

void FlasherRun::signal(int number)
{
#ifdef Q_OS_UNIX
    // The trace's clock: the wall clock of the adapter's start, run on by the monotonic one.
    if (stopUs_ < 0)
        stopUs_ = std::chrono::duration_cast<std::chrono::microseconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
    ::kill(static_cast<pid_t>(process_.processId()), number);
#else
    Q_UNUSED(number)
#endif
}

bool FlasherRun::waitForOutput(const QByteArray &needle, QProcess::ProcessChannel channel)
{
    const QByteArray &text = channel == QProcess::StandardOutput ? result_.out : result_.err;
    waitFor([&] { return text.contains(needle); });
    return text.contains(needle);
}

const RunResult &FlasherRun::finish()
{
    waitFor([] { return false; });
    return result_;
}

RunResult runFlasher(const RunSpec &spec)
{
    FlasherRun run(spec);
    run.start();
    return run.finish();
}

} // namespace testkit
