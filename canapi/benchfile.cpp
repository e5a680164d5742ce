// The bench outside its parser: looking up its parts, reading its file from
// disk, and finding which file to read.
#include "benchconfig.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace canapi {

const AdapterConfig *BenchConfig::adapter(int index) const
{
    for (const AdapterConfig &a : adapters) {
        if (a.index == index)
            return &a;
    }
    return nullptr;
}

QString BenchConfig::at(int line, const QString &message) const
{
    return QStringLiteral("%1:%2: %3").arg(fileName).arg(line).arg(message);
}

QList<ModuleEntry> BenchConfig::modulesOn(int adapterIndex) const
{
    QList<ModuleEntry> out;
    for (const ModuleEntry &m : modules) {
        if (m.adapterIndex == adapterIndex)
            out.append(m);
    }
    return out;
}

namespace {

QString tooLarge()
{
    return QStringLiteral("is larger than %1 bytes").arg(kMaxBenchFileBytes);
}

// Reads to one byte past the bound: the file may have grown since fstat.
QString readBounded(int fd, QByteArray *bytes)
{
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly))
        return QStringLiteral("cannot be read: %1").arg(file.errorString());
    *bytes = file.read(kMaxBenchFileBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return QStringLiteral("cannot be read: %1").arg(file.errorString());
    return bytes->size() > kMaxBenchFileBytes ? tooLarge() : QString();
}

// Opened without blocking, so that a FIFO or a device cannot hold the
// caller; checked before a byte is read.
bool readBenchFile(const QString &path, QByteArray *bytes, QString *problem)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *problem = QStringLiteral("cannot be read: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    struct stat st
    {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        *problem = QStringLiteral("is not a regular file");
    else if (st.st_size > kMaxBenchFileBytes)
        *problem = tooLarge();
    else
        *problem = readBounded(fd, bytes);
    ::close(fd);
    return problem->isEmpty();
}

} // namespace

QString benchFilePath(const QString &variable, const QStringList &places)
{
    if (!variable.isEmpty())
        return variable;
    for (const QString &place : places) {
        if (!place.isEmpty() && QFileInfo::exists(place))
            return place;
    }
    return QString();
}

bool loadBenchConfig(const QString &path, BenchConfig *config, QString *error)
{
    QByteArray bytes;
    QString problem;
    if (!readBenchFile(path, &bytes, &problem)) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, problem);
        return false;
    }
    if (!parseBenchConfig(QString::fromUtf8(bytes), path, QFileInfo(path).absolutePath(), config, error))
        return false;
    config->path = path;
    return true;
}

} // namespace canapi
