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
    if (progress.module > 0 && progress.modulesKnown)
        parts.append(text("module %1 of %2").arg(progress.module).arg(progress.modules));
    else if (progress.module > 0)
        parts.append(text("module %1").arg(progress.module));
    else if (!progress.anyNamed)
        parts.append(text("waiting for the modules to log on"));
    else if (progress.modules == 1)
        parts.append(text("1 module"));
    else
        parts.append(text("%1 modules").arg(progress.modules));
    parts.append(text("%1 elapsed").arg(duration(progress.elapsedMs)));
    // All lines sent, the last module's restart is still to come: no time
    // can be promised for it, and "about 0:00 left" would promise none.
    if (progress.leftMs && *progress.leftMs == 0)
        parts.append(text("finishing"));
    else if (progress.leftMs)
        parts.append(text("about %1 left").arg(duration(std::max<qint64>(*progress.leftMs + 500, 1000))));
    return parts.join(QStringLiteral(", "));
}

RunVerdict runVerdict(bool finalLine, int updated, int notUpdated)
{
    if (notUpdated > 0)
        return {false, text("%1 of %2 not updated").arg(notUpdated).arg(updated + notUpdated)};
    if (!finalLine)
        return {false, text("run failed")};
    if (updated == 0)
        return {false, text("no module updated")};
    return {true, text("all %1 updated").arg(updated)};
}

void RunProgress::start(qint64 nowMs, std::optional<QList<uint>> due)
{
    *this = RunProgress();
    startMs = nowMs;
    if (due)
        chosen = QSet<uint>(due->cbegin(), due->cend());
}

void RunProgress::finishCurrent()
{
    finishedUnits += flashPercent + comparePercent;
    flashPercent = comparePercent = 0;
    ++finishedModules;
    current.reset();
}

void RunProgress::name(uint id)
{
    // The console program went on to another module without a line for
    // the one named before: that one is passed over.
    if (lastNamed && *lastNamed != id && !sent.contains(*lastNamed))
        dropped.insert(*lastNamed);
    named.insert(id);
    lastNamed = id;
}

void RunProgress::send(const ModuleEvent &event, qint64 nowMs)
{
    if (current != event.id) {
        if (current)
            finishCurrent();
        current = event.id;
        ++worked;
    }
    named.insert(event.id);
    sent.insert(event.id);
    dropped.remove(event.id);
    if (!firstLineMs)
        firstLineMs = nowMs;
    (event.phase == RunPhase::Flashing ? flashPercent : comparePercent) = event.percent;
}

void RunProgress::apply(const ModuleEvent &event, qint64 nowMs)
{
    switch (event.kind) {
    case ModuleEventKind::Identity:
        name(event.id);
        return;
    case ModuleEventKind::Progress:
        send(event, nowMs);
        return;
    case ModuleEventKind::Updated:
    case ModuleEventKind::NotUpdated:
    case ModuleEventKind::Skipped:
        if (!sent.contains(event.id))
            dropped.insert(event.id);
        if (current == event.id)
            finishCurrent();
        return;
    case ModuleEventKind::Restart:
    case ModuleEventKind::Repeat:
        return;
    }
}

bool RunProgress::waitingForReady() const
{
    return lastNamed && !sent.contains(*lastNamed) && !dropped.contains(*lastNamed);
}

int RunProgress::modulesDue() const
{
    const QSet<uint> base = (chosen ? *chosen : named) | sent;
    return int(base.size() - (base & dropped).size());
}

qint64 RunProgress::unitsDone() const
{
    return finishedUnits + flashPercent + comparePercent;
}

qint64 RunProgress::unitsDue() const
{
    return finishedUnits + 200LL * std::max(modulesDue() - finishedModules, current ? 1 : 0);
}

std::optional<int> RunProgress::percentOfRun() const
{
    const qint64 due = unitsDue();
    if (due <= 0)
        return std::nullopt;
    return int(std::min<qint64>(unitsDone() * 100 / due, 100));
}

OverallProgress RunProgress::at(qint64 nowMs) const
{
    OverallProgress progress;
    progress.elapsedMs = nowMs - startMs;
    progress.modulesKnown = chosen.has_value();
    progress.anyNamed = !named.isEmpty();
    progress.module = waitingForReady() ? worked + 1 : current ? worked : 0;
    progress.modules = std::max(modulesDue(), progress.module);
    const qint64 done = unitsDone();
    if (!chosen || progress.module == 0 || done == 0)
        return progress;
    const qint64 left = unitsDue() - done;
    progress.leftMs = left <= 0 ? 0 : std::max<qint64>((nowMs - *firstLineMs) * left / done, 1000);
    return progress;
}
