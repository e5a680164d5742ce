#include "runrecord.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <algorithm>
#include <utility>

Q_LOGGING_CATEGORY(lcRecord, "tarv.gui.record")

namespace {

QString tr(const char *source)
{
    return QCoreApplication::translate("RunRecord", source);
}

// ISO 8601 with the offset written out, also for UTC, so records of
// different machines read alike.
QString isoWithOffset(const QDateTime &time)
{
    const int offset = time.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) + (offset < 0 ? u'-' : u'+')
           + QStringLiteral("%1:%2")
                 .arg(minutes / 60, 2, 10, QLatin1Char('0'))
                 .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

bool isRecordName(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^run-.*\\.log$"));
    return pattern.match(name).hasMatch();
}

} // namespace

RunRecord::RunRecord(const QString &folder, QObject *parent)
    : QObject(parent)
    , dir(folder.isEmpty()
              ? QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) + QStringLiteral("/runs")
              : folder)
{}

RunRecord::~RunRecord()
{
    end(tr("Ended: the window closed during the run"));
}

bool RunRecord::begin(const QDateTime &startTime, const QString &commandLine)
{
    end(tr("Ended: unknown, the next run began"));
    current.clear();
    failure.clear();
    if (!QDir().mkpath(dir)) {
        fail(dir, tr("cannot make the folder"));
        return false;
    }
    if (!createFile(startTime))
        return false;
    emit started(current);
    write(tr("Started: %1").arg(isoWithOffset(startTime)));
    write(tr("Command: %1").arg(commandLine));
    prune();
    return file.isOpen();
}

bool RunRecord::createFile(const QDateTime &startTime)
{
    for (int attempt = 1; attempt <= kept; ++attempt) {
        current = QDir(dir).filePath(recordFileName(startTime, attempt));
        file.setFileName(current);
        // NewOnly: whatever is at that name, a link above all, is never written through.
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Text))
            return true;
        const QFileInfo taken(current);
        if (!taken.exists() && !taken.isSymLink()) {
            const QString tried = std::exchange(current, QString());
            fail(tried, file.errorString());
            return false;
        }
    }
    current.clear();
    fail(dir, tr("every name is taken"));
    return false;
}

void RunRecord::append(const QString &line)
{
    write(line);
}

void RunRecord::end(const QString &how)
{
    if (!file.isOpen())
        return;
    write(how);
    if (!file.isOpen())
        return;
    file.close();
    if (file.error() != QFileDevice::NoError)
        fail(current, file.errorString());
}

void RunRecord::write(const QString &line)
{
    if (!file.isOpen())
        return;
    const QByteArray bytes = (line + u'\n').toUtf8();
    // Flushed line by line: the lines before a crash of the window are the ones asked for.
    if (file.write(bytes) != bytes.size() || !file.flush())
        fail(current, file.errorString());
}

void RunRecord::fail(const QString &where, const QString &reason)
{
    file.close();
    failure = tr("This run is not kept in %1: %2").arg(QDir::toNativeSeparators(where), reason);
    qCWarning(lcRecord).noquote() << failure;
    emit failed(failure);
}

void RunRecord::prune()
{
    const QDir folder(dir);
    const QStringList names = folder.entryList({QStringLiteral("run-*.log")}, QDir::Files | QDir::NoSymLinks);
    for (const QString &name : recordsToRemove(names, kept)) {
        if (!QFile::remove(folder.filePath(name)))
            qCWarning(lcRecord).noquote() << "cannot remove the old record" << folder.filePath(name);
    }
}

QString recordFileName(const QDateTime &startTime, int attempt)
{
    const QString stamp = startTime.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
    return attempt <= 1 ? QStringLiteral("run-%1.log").arg(stamp)
                        : QStringLiteral("run-%1-%2.log").arg(stamp).arg(attempt);
}

QStringList recordsToRemove(QStringList names, int keep)
{
    names.removeIf([](const QString &name) { return !isRecordName(name); });
    // The names begin with the start time, so their order is the runs' order.
    std::sort(names.begin(), names.end());
    return names.mid(0, std::max(qsizetype(0), names.size() - keep));
}

QString commandLineText(const QString &program, const QStringList &arguments)
{
    QStringList words;
    for (const QString &word : QStringList(program) + arguments) {
        static const QRegularExpression quoted(QStringLiteral("[\\s\"]"));
        const bool plain = !word.isEmpty() && !word.contains(quoted);
        words.append(plain ? word : u'"' + QString(word).replace(u'"', QStringLiteral("\\\"")) + u'"');
    }
    return words.join(u' ');
}

QString runEndText(const QProcess &process, bool endedByWindow)
{
    if (process.error() == QProcess::FailedToStart)
        return tr("Ended: could not start: %1").arg(process.errorString());
    if (process.exitStatus() == QProcess::CrashExit)
        return endedByWindow ? tr("Ended: killed by the window") : tr("Ended: crashed");
    return tr("Ended: exit code %1").arg(process.exitCode());
}
