#include "outputparser.h"

#include <QCoreApplication>

#include <limits>

QList<QByteArray> LineSplitter::feed(const QByteArray &bytes)
{
    pending.append(bytes);
    QList<QByteArray> lines;
    qsizetype start = 0;
    for (qsizetype end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n', start)) {
        lines.append(pending.mid(start, end + 1 - start));
        start = end + 1;
    }
    pending.remove(0, start);
    return lines;
}

QByteArray LineSplitter::takePending()
{
    QByteArray rest;
    rest.swap(pending);
    return rest;
}

std::optional<int> parseDecimal(const QByteArray &text)
{
    qsizetype pos = 0;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    if (pos == text.size())
        return std::nullopt;
    qint64 value = 0;
    for (; pos < text.size(); ++pos) {
        const char c = text[pos];
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > std::numeric_limits<int>::max())
            return std::nullopt;
    }
    return static_cast<int>(negative ? -value : value);
}

// Status texts belong to the main window's translation context.
static QString phaseText(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}

static std::optional<int> progressPercent(const QByteArray &line)
{
    // Split at every blank: two blanks in a row give an empty field, which
    // shifts the percentage out of the fourth place on purpose.
    const QList<QByteArray> fields = line.split(' ');
    if (fields.size() < 4)
        return std::nullopt;
    const QByteArray &field = fields.at(3);
    const qsizetype dot = field.indexOf('.');
    return parseDecimal(dot < 0 ? field : field.left(dot));
}

ParsedLine parseLine(const QByteArray &line)
{
    ParsedLine parsed;
    if (line.startsWith("Compare") || line.startsWith("Flash")) {
        parsed.kind = LineKind::Progress;
        parsed.phase = line.startsWith("Compare") ? RunPhase::Comparing : RunPhase::Flashing;
        parsed.percent = progressPercent(line);
    } else if (line.startsWith("Error:") || line.startsWith("Cannot")) {
        parsed.kind = LineKind::Error;
    } else if (line.startsWith("Finish:")) {
        parsed.kind = LineKind::Final;
    } else if (line.startsWith("PostFlash")) {
        parsed.kind = LineKind::PostFlash;
    }
    return parsed;
}

QString styleSheetFor(StatusColour colour)
{
    switch (colour) {
    case StatusColour::Green:
        return QStringLiteral("color: green");
    case StatusColour::Red:
        return QStringLiteral("color: red");
    case StatusColour::Black:
        break;
    }
    return QStringLiteral("color: black");
}

QString statusText(const QByteArray &line)
{
    QByteArray text = line;
    while (text.endsWith('\n') || text.endsWith('\r'))
        text.chop(1);
    return QString::fromUtf8(text);
}

void RunMonitor::startRun()
{
    announceFlashing = true;
    announceComparing = true;
}

LineReaction RunMonitor::onLine(const QByteArray &line)
{
    const ParsedLine parsed = parseLine(line);
    LineReaction reaction;
    switch (parsed.kind) {
    case LineKind::Progress:
        if (!parsed.percent)
            break;
        if (parsed.phase == RunPhase::Comparing && announceComparing) {
            reaction.status = StatusChange{phaseText("comparing..."), StatusColour::Green, true};
            announceComparing = false;
            announceFlashing = true;
        } else if (parsed.phase == RunPhase::Flashing && announceFlashing) {
            reaction.status = StatusChange{phaseText("flashing..."), StatusColour::Green, true};
            announceFlashing = false;
            announceComparing = true;
        }
        reaction.progress = parsed.percent;
        break;
    case LineKind::Error:
        reaction.status = StatusChange{statusText(line), StatusColour::Red, false};
        reaction.end = RunEnd::Error;
        break;
    case LineKind::Final:
        reaction.status = StatusChange{statusText(line), StatusColour::Green, false};
        reaction.end = RunEnd::Final;
        break;
    case LineKind::PostFlash:
        reaction.status = StatusChange{phaseText("postflashing..."), StatusColour::Green, true};
        break;
    case LineKind::Other:
        break;
    }
    return reaction;
}
