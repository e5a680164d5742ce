#include "runplaces.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

namespace canapi {

namespace {

// More runs than this in one second mean something loops; it gets an error.
constexpr int kMaxRunsPerSecond = 1000;

const QString kKnown = QStringLiteral("%t (the run's start), %u (the user) or %% (a percent sign)");

QString userName()
{
    if (const passwd *pw = getpwuid(geteuid()); pw != nullptr && pw->pw_name != nullptr)
        return QString::fromLocal8Bit(pw->pw_name);
    const QString fromEnvironment = qEnvironmentVariable("USER");
    return fromEnvironment.isEmpty() ? QString::number(geteuid()) : fromEnvironment;
}

} // namespace

RunStamp RunStamp::now()
{
    return RunStamp{QDateTime::currentDateTime(), fileNameOfUser(userName())};
}

QString fileNameOfUser(const QString &user)
{
    QString out;
    for (const QChar c : user) {
        const bool plain = (c.isLetterOrNumber() && c.unicode() < 128) || c == u'.' || c == u'_' || c == u'-';
        out += plain ? c : QChar(u'_');
    }
    // "." and ".." would lead out of the folder the place names.
    if (out.count(QLatin1Char('.')) == out.size())
        out.fill(QLatin1Char('_'), qMax<qsizetype>(out.size(), 1));
    return out;
}

QString expandPlace(const QString &place, const RunStamp &stamp, int sequence, QString *problem)
{
    QString out;
    for (qsizetype i = 0; i < place.size(); ++i) {
        if (place.at(i) != u'%') {
            out += place.at(i);
            continue;
        }
        const QChar next = i + 1 < place.size() ? place.at(i + 1) : QChar();
        ++i;
        if (next == u'%') {
            out += QLatin1Char('%');
        } else if (next == u'u') {
            out += stamp.user;
        } else if (next == u't') {
            out += stamp.start.toString(QStringLiteral("yyyyMMdd-HHmmss"));
            if (sequence > 1)
                out += QStringLiteral("-%1").arg(sequence);
        } else {
            if (problem)
                *problem = QStringLiteral("unknown placeholder %") + (next.isNull() ? QString() : QString(next))
                           + QStringLiteral(": use ") + kKnown;
            return QString();
        }
    }
    return out;
}

QString placeholderProblem(const QString &place)
{
    QString problem;
    expandPlace(place, RunStamp{QDateTime::currentDateTime(), QStringLiteral("u")}, 1, &problem);
    return problem;
}

RunPlaces::RunPlaces(RunStamp stamp)
    : stamp_(std::move(stamp))
{}

QString RunPlaces::resolve(const QString &place, QString *problem)
{
    if (const auto it = resolved_.constFind(place); it != resolved_.constEnd())
        return it.value();
    QString path;
    // Only a place naming the time differs between the runs of one second.
    if (expandPlace(place, stamp_, 2, nullptr) == expandPlace(place, stamp_, 1, nullptr))
        path = expandPlace(place, stamp_, 1, problem);
    else
        path = createNew(place, problem);
    if (!path.isEmpty())
        resolved_.insert(place, path);
    return path;
}

// Created exclusively: neither a file of an earlier run nor a link planted
// at the place is ever opened for writing.
QString RunPlaces::createNew(const QString &place, QString *problem) const
{
    QString path;
    for (int sequence = 1; sequence <= kMaxRunsPerSecond; ++sequence) {
        path = expandPlace(place, stamp_, sequence, problem);
        if (path.isEmpty())
            return path;
        const int fd = ::open(QFile::encodeName(path).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            return path;
        }
        if (errno != EEXIST)
            break;
    }
    if (problem)
        *problem =
            QStringLiteral("%1: cannot be written: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    return QString();
}

} // namespace canapi
