#include "runlog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtGlobal>

#ifndef Q_OS_WIN
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

void RunLog::appendLine(const QByteArray &line)
{
    const QString text = QString::fromUtf8(line.trimmed());
    collected.append(text);
    emit lineAppended(text);
}

void RunLog::clear()
{
    collected.clear();
    emit cleared();
}

QString RunLog::text() const
{
    QString all;
    for (const QString &line : collected)
        all += line + u'\n';
    return all;
}

namespace {

QString logTr(const char *source)
{
    return QCoreApplication::translate("RunLog", source);
}

QString linkRefused(const QString &shown)
{
    return logTr("Log not saved: %1 is a symbolic link. Choose another file.").arg(shown);
}

QString otherRefused(const QString &shown)
{
    return logTr("Log not saved: %1 is no regular file. Choose another file.").arg(shown);
}

QString saveFailed(const QString &shown, const QString &reason)
{
    return logTr("Log not saved to %1: %2").arg(shown, reason);
}

#ifdef Q_OS_WIN
// Opens file on path for the log, truncated; the reason it was refused otherwise.
QString openLogFile(const QString &path, const QString &shown, QFile &file)
{
    // QFileInfo looks at the link itself, so a link to nowhere counts too.
    const QFileInfo target(path);
    if (target.isSymLink())
        return linkRefused(shown);
    if (target.exists() && !target.isFile())
        return otherRefused(shown);
    file.setFileName(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return saveFailed(shown, file.errorString());
    return {};
}
#else
QString openLogFile(const QString &path, const QString &shown, QFile &file)
{
    // Checked on the open file itself, so nothing can be put in place between
    // check and write; a pipe without reader must not block the window.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (errno == ELOOP)
            return linkRefused(shown);
        return errno == EISDIR ? otherRefused(shown)
                               : saveFailed(shown, QString::fromLocal8Bit(std::strerror(errno)));
    }
    struct stat status = {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return otherRefused(shown);
    }
    if (::ftruncate(fd, 0) != 0) {
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
        return saveFailed(shown, reason);
    }
    if (!file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return saveFailed(shown, file.errorString());
    }
    return {};
}
#endif

} // namespace

QString saveLogText(const QString &path, const QString &text)
{
    const QString shown = QDir::toNativeSeparators(path);
    QFile file;
    if (const QString refused = openLogFile(path, shown, file); !refused.isEmpty())
        return refused;
    const QByteArray bytes = text.toUtf8();
    if (file.write(bytes) != bytes.size() || !file.flush())
        return saveFailed(shown, file.errorString());
    file.close();
    if (file.error() != QFileDevice::NoError)
        return saveFailed(shown, file.errorString());
    return {};
}
