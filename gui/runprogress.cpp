#include "runprogress.h"

#include <QCoreApplication>
#include <QStringList>

#include <algorithm>

static QString text(const char *source)
{
    return QCoreApplication::translate("RunProgress", source);
}

static QString duration(qint64 ms)
{
    const qint64 seconds = ms / 1000;
    const bool hours = seconds >= 3600;
    const QString minutes = QStringLiteral("%1:%2")
                                .arg(seconds / 60 % 60, hours ? 2 : 1, 10, QLatin1Char('0'))
                                .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return hours ? QString::number(seconds / 3600) + u':' + minutes : minutes;
}

QString overallProgressText(const OverallProgress &progress)
{
    QStringList parts;
    if (progress.module > 0)
        parts.append(text("module %1 of %2").arg(progress.module).arg(progress.modules));
    else if (progress.modules == 1)
        parts.append(text("1 module"));
    else if (progress.modules > 1)
        parts.append(text("%1 modules").arg(progress.modules));
    parts.append(text("%1 elapsed").arg(duration(progress.elapsedMs)));
    // The lines are all sent, but the last module's restart is still to come:
    // "about 0:00 left" would be a promise the run cannot keep.
    if (progress.leftMs && *progress.leftMs < 500)
        parts.append(text("finishing"));
    else if (progress.leftMs)
        parts.append(text("about %1 left").arg(duration(*progress.leftMs + 500)));
    return parts.join(QStringLiteral(", "));
}

void RunProgress::start(qint64 nowMs)
{
    *this = RunProgress();
    startMs = nowMs;
}

void RunProgress::finishCurrent()
{
    finishedUnits += flashPercent + comparePercent;
    flashPercent = comparePercent = 0;
    current.reset();
}

void RunProgress::apply(const ModuleEvent &event, qint64 nowMs)
{
    switch (event.kind) {
    case ModuleEventKind::Identity:
        if (event.id == lastNamed)
            return;
        if (lastNamed && !lastNamedSent)
            ++passedOver;
        ++named;
        lastNamed = event.id;
        lastNamedSent = false;
        return;
    case ModuleEventKind::Progress:
        if (current != event.id) {
            if (current)
                finishCurrent();
            current = event.id;
            ++worked;
        }
        if (lastNamed == event.id)
            lastNamedSent = true;
        if (!firstLineMs)
            firstLineMs = nowMs;
        (event.phase == RunPhase::Flashing ? flashPercent : comparePercent) = event.percent;
        return;
    case ModuleEventKind::Updated:
    case ModuleEventKind::NotUpdated:
    case ModuleEventKind::Skipped:
        if (current == event.id)
            finishCurrent();
        return;
    case ModuleEventKind::Restart:
    case ModuleEventKind::Repeat:
        return;
    }
}

OverallProgress RunProgress::at(qint64 nowMs) const
{
    OverallProgress progress;
    progress.elapsedMs = nowMs - startMs;
    progress.modules = std::max(named - passedOver, worked);
    if (!current)
        return progress;
    progress.module = worked;
    const int finishedModules = worked - 1;
    const qint64 done = finishedUnits + flashPercent + comparePercent;
    const qint64 due = finishedUnits + 200LL * (progress.modules - finishedModules);
    if (done > 0)
        progress.leftMs = (nowMs - *firstLineMs) * (due - done) / done;
    return progress;
}
