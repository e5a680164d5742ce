#include "soakrun.h"

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>

namespace soak {

namespace {

// Past its bound a run still gets this long to end by itself, so that a slow
// run is told apart from one that hangs.
constexpr int GraceMs = 60000;
constexpr int VerifyMs = 60000;

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush();
}

QStringList lines(const QByteArray &bytes)
{
    QStringList out = QString::fromLocal8Bit(bytes).split(u'\n');
    if (!out.isEmpty() && out.last().isEmpty())
        out.removeLast();
    for (QString &line : out) {
        if (line.endsWith(u'\r'))
            line.chop(1);
    }
    return out;
}

} // namespace

SoakRun::SoakRun(const Programs &programs, SoakCase soakCase, QObject *parent)
    : QObject(parent)
    , programs_(programs)
    , case_(std::move(soakCase))
{
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, &SoakRun::onDeadline);
    connect(&flasher_, &QProcess::finished, this, &SoakRun::onFlasherFinished);
    connect(&verify_, &QProcess::finished, this, &SoakRun::onVerifyFinished);
    // A program that cannot be started never reports finished.
    connect(&flasher_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            onFlasherFinished();
    });
    connect(&verify_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            onVerifyFinished();
    });
}

bool SoakRun::prepare()
{
    folder_ = std::make_unique<QTemporaryDir>(programs_.workFolder + QStringLiteral("/run%1-XXXXXX").arg(case_.index));
    if (!folder_->isValid())
        return false;
    const QByteArray firmware = (case_.firmware.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toLatin1();
    return writeFile(folder_->filePath(case_.fileName), firmware)
           && writeFile(folder_->filePath(QStringLiteral("bench.ini")), benchIni(case_, folder_->path()).toUtf8());
}

void SoakRun::start()
{
    clock_.start();
    if (!prepare()) {
        result_.seconds = 0.0;
        result_.errLines << QStringLiteral("soak: cannot prepare the run folder");
        result_.ended = true;
        result_.crashed = true;
        emit finished();
        return;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TARVCAN_CONFIG"), folder_->filePath(QStringLiteral("bench.ini")));
    flasher_.setProcessEnvironment(env);
    flasher_.setWorkingDirectory(folder_->path());
    flasher_.setStandardInputFile(QProcess::nullDevice());
    flasher_.setStandardOutputFile(folder_->filePath(QStringLiteral("stdout.txt")));
    flasher_.setStandardErrorFile(folder_->filePath(QStringLiteral("stderr.txt")));
    deadline_.start(static_cast<int>(case_.boundSeconds * 1000) + GraceMs);
    flasher_.start(programs_.flasher, {QStringLiteral("PCAN_USB"), QStringLiteral("1000"), QStringLiteral("0"),
                                       case_.fileName, QStringLiteral("CLOSE_AUTO")});
}

void SoakRun::onDeadline()
{
    if (flasher_.state() != QProcess::NotRunning) {
        killed_ = true;
        flasher_.kill();
    } else {
        verify_.kill();
    }
}

void SoakRun::onFlasherFinished()
{
    deadline_.stop();
    result_.seconds = static_cast<double>(clock_.elapsed()) / 1000.0;
    result_.ended = !killed_;
    result_.crashed = !killed_ && (flasher_.exitStatus() == QProcess::CrashExit
                                   || flasher_.error() == QProcess::FailedToStart);
    result_.exitCode = flasher_.exitStatus() == QProcess::NormalExit ? flasher_.exitCode() : -1;
    const auto read = [this](const QString &name) {
        QFile file(folder_->filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    result_.outLines = lines(read(QStringLiteral("stdout.txt")));
    result_.errLines = lines(read(QStringLiteral("stderr.txt")));
    result_.trace = QString::fromLatin1(read(traceName()));
    verifying_ = 0;
    verifyNext();
}

void SoakRun::verifyNext()
{
    if (verifying_ == case_.modules.size()) {
        emit finished();
        return;
    }
    const ModulePlan &m = case_.modules[verifying_];
    verify_.start(programs_.moduleSim, {QStringLiteral("--verify"), folder_->filePath(case_.fileName),
                                        folder_->filePath(imageName(m))});
    deadline_.start(VerifyMs);
}

void SoakRun::onVerifyFinished()
{
    deadline_.stop();
    result_.imageEqual[verifying_] = verify_.exitStatus() == QProcess::NormalExit && verify_.exitCode() == 0;
    ++verifying_;
    verifyNext();
}

QString SoakRun::keepFolder()
{
    if (!folder_)
        return QString();
    folder_->setAutoRemove(false);
    return folder_->path();
}

} // namespace soak
