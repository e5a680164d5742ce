#include "processcheck.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <algorithm>

const QStringList &conflictingPrograms()
{
    static const QStringList names{
        QStringLiteral("PcanView.exe"),       QStringLiteral("tarvBusSetup.exe"),
        QStringLiteral("tarvCanFlash.exe"),   QStringLiteral("tarvHvPanel.exe"),
        QStringLiteral("tarvDataServer.exe"),
    };
    return names;
}

bool isListedProgram(const QString &executable, const QString &listed)
{
    static const QString exe = QStringLiteral(".exe");
    if (executable == listed)
        return true;
    return listed.endsWith(exe) && executable == listed.chopped(exe.size());
}

QString shownProgramName(const QString &listed, bool windows)
{
    static const QString exe = QStringLiteral(".exe");
    return !windows && listed.endsWith(exe) ? listed.chopped(exe.size()) : listed;
}

QStringList findConflictingPrograms(const QStringList &runningExecutables)
{
    QStringList found;
    for (const QString &listed : conflictingPrograms()) {
        const bool running = std::any_of(runningExecutables.cbegin(), runningExecutables.cend(),
                                         [&](const QString &name) { return isListedProgram(name, listed); });
        if (running)
            found.append(listed);
    }
    return found;
}

QString executableFileName(const QString &path)
{
    const qsizetype cut = std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    return path.mid(cut + 1);
}

static QByteArray readSmallFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(4096);
}

static QStringList processNames(const QString &processDir)
{
    QStringList names;
    QString target = QFileInfo(processDir + QStringLiteral("/exe")).symLinkTarget();
    // The kernel marks the link of a replaced binary; the name is still the program's.
    target.remove(QStringLiteral(" (deleted)"));
    if (!target.isEmpty())
        names.append(executableFileName(target));

    const QByteArray cmdline = readSmallFile(processDir + QStringLiteral("/cmdline"));
    const QString argv0 = executableFileName(QString::fromLocal8Bit(cmdline.left(cmdline.indexOf('\0'))));
    if (!argv0.isEmpty() && !names.contains(argv0))
        names.append(argv0);

    if (names.isEmpty()) {
        const QString comm =
            QString::fromLocal8Bit(readSmallFile(processDir + QStringLiteral("/comm"))).trimmed();
        if (!comm.isEmpty())
            names.append(comm);
    }
    return names;
}

std::optional<QStringList> readProcExecutables(const QString &procRoot, QDeadlineTimer deadline)
{
    const QDir root(procRoot);
    if (!root.exists())
        return std::nullopt;
    QStringList executables;
    for (const QString &entry : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (deadline.hasExpired())
            return std::nullopt;
        bool isPid = false;
        entry.toUInt(&isPid);
        if (isPid)
            executables.append(processNames(root.filePath(entry)));
    }
    return executables;
}

#ifdef Q_OS_WIN
// "tasklist /NH /FO CSV" gives one quoted image name at the start of every
// line; the CSV form keeps names with blanks whole.
static std::optional<QStringList> tasklistExecutables(QDeadlineTimer deadline)
{
    QProcess tasklist;
    tasklist.start(QStringLiteral("tasklist"),
                   {QStringLiteral("/NH"), QStringLiteral("/FO"), QStringLiteral("CSV")});
    if (!tasklist.waitForFinished(int(deadline.remainingTime())) || tasklist.exitStatus() != QProcess::NormalExit)
        return std::nullopt;
    QStringList executables;
    const QString output = QString::fromLatin1(tasklist.readAllStandardOutput());
    for (const QString &line : output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (line.startsWith(QLatin1Char('"')))
            executables.append(line.mid(1, line.indexOf(QLatin1Char('"'), 1) - 1));
    }
    return executables;
}
#endif

std::optional<QStringList> systemProcessList(QDeadlineTimer deadline)
{
#ifdef Q_OS_WIN
    return tasklistExecutables(deadline);
#else
    return readProcExecutables(QStringLiteral("/proc"), deadline);
#endif
}
