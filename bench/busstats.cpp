#include "busstats.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QList>

#include <algorithm>

namespace bench {

namespace {

bool readCount(const QJsonObject &object, const char *key, uint64_t *value)
{
    const qint64 v = object.value(QLatin1String(key)).toInteger(-1);
    if (v < 0)
        return false;
    *value = static_cast<uint64_t>(v);
    return true;
}

bool readTotals(const QJsonObject &object, BusTotals *totals)
{
    return readCount(object, "frames", &totals->frames) && readCount(object, "bits", &totals->bits)
           && readCount(object, "busyNs", &totals->busyNs)
           && readCount(object, "sumLatenessNs", &totals->sumLatenessNs)
           && readCount(object, "maxLatenessNs", &totals->maxLatenessNs);
}

bool readTime(const QJsonObject &object, const char *key, int64_t *value)
{
    uint64_t count = 0;
    if (!readCount(object, key, &count))
        return false;
    *value = static_cast<int64_t>(count);
    return true;
}

std::optional<PassKind> passKind(const QString &phase)
{
    if (phase == QLatin1String("flash"))
        return PassKind::Flash;
    if (phase == QLatin1String("compare"))
        return PassKind::Compare;
    return std::nullopt;
}

} // namespace

std::optional<BusStatsFile> parseBusStats(const QByteArray &text, QString *error)
{
    BusStatsFile stats;
    bool ended = false;
    int number = 0;
    for (const QByteArray &line : text.split('\n')) {
        ++number;
        if (line.trimmed().isEmpty())
            continue;
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        const QString event = object.value(QLatin1String("event")).toString();
        bool ok = !ended;
        if (ok && event == QLatin1String("phase")) {
            PhaseMark mark;
            uint64_t module = 0;
            ok = readTime(object, "atNs", &mark.atNs) && readCount(object, "module", &module)
                 && readTotals(object, &mark.totals);
            mark.module = static_cast<int>(module);
            mark.phase = object.value(QLatin1String("phase")).toString();
            stats.marks.push_back(mark);
        } else if (ok && event == QLatin1String("end")) {
            const QJsonValue realtime = object.value(QLatin1String("realtime"));
            ok = readTime(object, "atNs", &stats.endNs) && readTotals(object, &stats.end)
                 && readTime(object, "threadCpuNs", &stats.threadCpuNs) && realtime.isBool();
            stats.realtime = realtime.toBool();
            ended = true;
        } else {
            ok = false;
        }
        if (!ok) {
            *error = QStringLiteral("line %1 of the bus statistics is not understood").arg(number);
            return std::nullopt;
        }
    }
    if (!ended) {
        *error = QStringLiteral("the bus statistics have no end line");
        return std::nullopt;
    }
    return stats;
}

std::vector<Pass> passesOf(const BusStatsFile &stats)
{
    std::vector<Pass> passes;
    const std::vector<PhaseMark> &marks = stats.marks;
    for (size_t i = 0; i < marks.size(); ++i) {
        const std::optional<PassKind> kind = passKind(marks[i].phase);
        if (!kind)
            continue;
        uint64_t maxLateness = 0;
        for (size_t j = i + 1; j < marks.size(); ++j) {
            maxLateness = std::max(maxLateness, marks[j].totals.maxLatenessNs);
            if (marks[j].module != marks[i].module)
                continue;
            const BusTotals &from = marks[i].totals;
            const BusTotals &to = marks[j].totals;
            passes.push_back(Pass{marks[i].module, *kind, marks[i].atNs, marks[j].atNs, to.busyNs - from.busyNs,
                                  to.frames - from.frames, to.sumLatenessNs - from.sumLatenessNs, maxLateness});
            break;
        }
    }
    return passes;
}

} // namespace bench
