#include "fakeflasher.h"

#include <QDir>
#include <QFile>

#include <signal.h>

FakeFlasher::FakeFlasher(const QString &folder)
    : dir(folder)
{}

QString FakeFlasher::program() const
{
    return QDir(dir).filePath(QStringLiteral("tarvCanFlash"));
}

void FakeFlasher::setBody(const QByteArray &body)
{
    QFile script(program());
    if (!script.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(program()));
    const QByteArray quotedDir = "'" + dir.toLocal8Bit() + "'";
    script.write("#!/bin/sh\n"
                 "D="
                 + quotedDir
                 + "\n"
                   "printf '%s\\n' \"$@\" > \"$D/args\"\n"
                   "echo start >> \"$D/starts\"\n"
                   "echo $$ > \"$D/pid\"\n"
                   "gate() { while [ ! -e \"$D/gate$1\" ]; do sleep 0.02; done; }\n"
                   // The record of a stop request; a body may trap TERM anew, calling term.
                   "term() { echo TERM >> \"$D/signals\"; }\n"
                   "trap 'term; exit 143' TERM\n"
                 + body + "\n");
    script.close();
    script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

void FakeFlasher::openGate(int gate) const
{
    QFile file(QDir(dir).filePath(QStringLiteral("gate%1").arg(gate)));
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot open gate %d", gate);
}

QByteArray FakeFlasher::readFile(const QString &name) const
{
    QFile file(QDir(dir).filePath(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList FakeFlasher::arguments() const
{
    QStringList args = QString::fromLocal8Bit(readFile(QStringLiteral("args"))).split(QLatin1Char('\n'));
    if (!args.isEmpty() && args.last().isEmpty())
        args.removeLast();
    return args;
}

int FakeFlasher::startCount() const
{
    return int(readFile(QStringLiteral("starts")).count('\n'));
}

QStringList FakeFlasher::signalsReceived() const
{
    return QString::fromLatin1(readFile(QStringLiteral("signals"))).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

qint64 FakeFlasher::pid() const
{
    return readFile(QStringLiteral("pid")).trimmed().toLongLong();
}

bool processAlive(qint64 pid)
{
    if (pid <= 0 || ::kill(pid_t(pid), 0) != 0)
        return false;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    // Field 3, after the parenthesised command name, is the state; Z is a zombie.
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    return close < 0 || text.mid(close + 2, 1) != "Z";
}
