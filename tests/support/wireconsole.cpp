#include "wireconsole.h"

namespace testkit {

namespace {

// Debug lines quote texts as the debug stream does; they are compared trimmed.
QString quoted(const QByteArray &text)
{
    QString escaped = QString::fromLatin1(text);
    escaped.replace(u'\\', QLatin1String("\\\\"));
    escaped.replace(u'"', QLatin1String("\\\""));
    return u'"' + escaped + u'"';
}

QStringList trimmedLines(const QByteArray &text)
{
    QStringList lines;
    for (const QByteArray &line : text.split('\n'))
        lines.append(QString::fromUtf8(line).trimmed());
    return lines;
}

// Equal lines in a row compare as one run: whether the console shows a line
// that may or may not be due is only known as a count.
struct LineRun
{
    QString text;
    int min = 0;
    int max = 0;
    int frame = -1;
};

QList<LineRun> runsOf(const QList<DueLine> &due)
{
    QList<LineRun> runs;
    for (const DueLine &line : due) {
        if (runs.isEmpty() || runs.last().text != line.text)
            runs.append({line.text, 0, 0, line.frame});
        LineRun &run = runs.last();
        // A missing line is reported at the first one that had to show.
        if (line.required && run.min++ == 0)
            run.frame = line.frame;
        ++run.max;
    }
    return runs;
}

QList<LineRun> runsOf(const QStringList &shown)
{
    QList<LineRun> runs;
    for (const QString &line : shown) {
        if (runs.isEmpty() || runs.last().text != line)
            runs.append({line, 0, 0, -1});
        ++runs.last().max;
    }
    return runs;
}

} // namespace

QString progressText(bool flash, unsigned moduleId, qint64 position, qint64 size, const QByteArray &line)
{
    const double share = double(position) * 100.0 / double(size) + 0.05;
    return QStringLiteral("%1 ID %2 %3% %4")
        .arg(flash ? "Flash" : "Compare")
        .arg(moduleId, 0, 16)
        .arg(QString::asprintf("%.1f", share), QString::fromLatin1(line.left(30)))
        .trimmed();
}

QStringList codeNotices(uint8_t code, const QByteArray &line, bool repeating)
{
    const QString what = repeating ? QStringLiteral(", repeating line: ") : QStringLiteral(", giving up line: ");
    if (code == 0x92)
        return {QStringLiteral("\"\" Checksum error") + what + quoted(line)};
    if (code == 0x91 || code == 0x93)
        return {QStringLiteral("\"\" Flash error, restarting writing from the beginning.")};
    // A version error ends the run, and its notice says so.
    const bool versionError = code == 0x97 || code == 0x98;
    const QString runEnds = QStringLiteral(", the run ends: the module refused the firmware's version, line: ");
    QStringList notices{QStringLiteral("\"\" Other error: 0x %1 ").arg(code, 0, 16)
                        + (versionError ? runEnds : what) + quoted(line)};
    if (code == 0x97)
        notices.append(QStringLiteral("Error: GeneralProjectVersion"));
    if (code == 0x98)
        notices.append(QStringLiteral("Error: UpdateVersionToHigh"));
    return notices;
}

QString timeoutNotice(const QByteArray &line, bool repeating)
{
    return (repeating ? QStringLiteral("\"\" Timeout, repeating line: ")
                      : QStringLiteral("\"\" Timeout, giving up line: "))
           + quoted(line);
}

QString moduleNotice(unsigned moduleId)
{
    return QStringLiteral("\"\" Module %1 not updated:").arg(moduleId, 0, 16);
}

QStringList progressLinesOf(const QByteArray &out)
{
    QStringList lines;
    for (const QString &line : trimmedLines(out)) {
        if (line.startsWith(QLatin1String("Flash ID ")) || line.startsWith(QLatin1String("Compare ID ")))
            lines.append(line);
    }
    return lines;
}

QStringList noticesOf(const QByteArray &err)
{
    static const QLatin1String notUpdated(" not updated:");
    QStringList notices;
    for (const QString &line : trimmedLines(err)) {
        const qsizetype reason = line.indexOf(notUpdated);
        if (line.startsWith(QLatin1String("\"\" Module ")) && reason > 0)
            notices.append(line.left(reason + notUpdated.size()));
        else if (line.contains(QLatin1String(", repeating line: "))
                 || line.contains(QLatin1String(", giving up line: "))
                 || line.contains(QLatin1String(", the run ends: "))
                 || line.contains(QLatin1String("Flash error, restarting"))
                 || line.startsWith(QLatin1String("Error: GeneralProjectVersion"))
                 || line.startsWith(QLatin1String("Error: UpdateVersionToHigh")))
            notices.append(line);
    }
    return notices;
}

WireVerdict compareLines(const QList<DueLine> &due, const QStringList &shown, bool complete, const QString &rule,
                         const QString &stream)
{
    const QList<LineRun> dueRuns = runsOf(due);
    const QList<LineRun> shownRuns = runsOf(shown);
    qsizetype s = 0;
    for (qsizetype d = 0; d < dueRuns.size(); ++d) {
        const LineRun &run = dueRuns[d];
        // A judgement cut short may have stopped inside the last run.
        const bool open = !complete && d == dueRuns.size() - 1;
        if (s < shownRuns.size() && shownRuns[s].text == run.text) {
            const int count = shownRuns[s++].max;
            if (count < run.min || (count > run.max && !open))
                return {run.frame, rule,
                        QStringLiteral("%1 shows %2 × \"%3\", due %4 to %5")
                            .arg(stream)
                            .arg(count)
                            .arg(run.text)
                            .arg(run.min)
                            .arg(run.max)};
        } else if (run.min > 0) {
            const QString instead =
                s < shownRuns.size() ? u'"' + shownRuns[s].text + u'"' : QStringLiteral("nothing");
            return {run.frame, rule,
                    QStringLiteral("%1 shows %2 where \"%3\" was due").arg(stream, instead, run.text)};
        }
    }
    if (complete && s < shownRuns.size())
        return {-1, rule,
                QStringLiteral("%1 shows \"%2\", which nothing on the wire called for")
                    .arg(stream, shownRuns[s].text)};
    return {};
}

} // namespace testkit
