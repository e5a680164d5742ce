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

// "2  of  2 completed. ": the counts stand between two blanks each.
static bool completedLine(const QByteArray &line)
{
    QByteArray text = line;
    while (text.endsWith('\n') || text.endsWith('\r'))
        text.chop(1);
    const qsizetype of = text.indexOf("  of  ");
    const qsizetype end = text.indexOf(" completed.", of);
    if (of < 0 || end < 0 || !text.mid(end + 11).trimmed().isEmpty())
        return false;
    const std::optional<int> done = parseDecimal(text.left(of));
    const std::optional<int> all = parseDecimal(text.mid(of + 6, end - of - 6));
    return done && all && *done >= 0 && *all >= 0;
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
    } else if (completedLine(line)) {
        parsed.kind = LineKind::Completed;
    }
    return parsed;
}

static QByteArray withoutLineEnd(QByteArray text)
{
    while (text.endsWith('\n') || text.endsWith('\r'))
        text.chop(1);
    return text;
}

// The console program writes ids with QString::number(id, 16): lower-case
// digits only, no prefix, at most four of them.
static std::optional<uint> parseModuleId(const QByteArray &text)
{
    if (text.isEmpty() || text.size() > 4)
        return std::nullopt;
    uint id = 0;
    for (const char c : text) {
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0)
            return std::nullopt;
        id = id * 16 + uint(digit);
    }
    return id;
}

static bool takeReason(const QByteArray &rest, const char *opening, QString &reason)
{
    if (!rest.startsWith(opening))
        return false;
    reason = QString::fromUtf8(rest.mid(qstrlen(opening))).trimmed();
    return true;
}

// "208: name K3B7, serial ..." and the result lines, after "Module ".
static std::optional<ModuleEvent> moduleLine(const QByteArray &text)
{
    const qsizetype colon = text.indexOf(": ");
    const std::optional<uint> id = colon < 0 ? std::nullopt : parseModuleId(text.left(colon));
    if (!id)
        return std::nullopt;
    ModuleEvent event;
    event.id = *id;
    const QByteArray rest = text.mid(colon + 2);
    if (rest == "updated") {
        event.kind = ModuleEventKind::Updated;
    } else if (takeReason(rest, "not updated: ", event.reason)) {
        event.kind = ModuleEventKind::NotUpdated;
    } else if (takeReason(rest, "skipped: ", event.reason)) {
        event.kind = ModuleEventKind::Skipped;
    } else if (rest.startsWith("name ")) {
        // Searched from the end: only the firmware name is free text.
        const qsizetype channel = rest.lastIndexOf(", channel ");
        const qsizetype release = channel < 0 ? -1 : rest.lastIndexOf(", release ", channel);
        const qsizetype serial = release < 0 ? -1 : rest.lastIndexOf(", serial ", release);
        if (serial < 5)
            return std::nullopt;
        event.kind = ModuleEventKind::Identity;
        event.name = QString::fromUtf8(rest.mid(5, serial - 5));
        event.serial = QString::fromUtf8(rest.mid(serial + 9, release - serial - 9));
        event.release = QString::fromUtf8(rest.mid(release + 10, channel - release - 10));
        event.reupdate = rest.endsWith(", in re-update state: takes any firmware file");
    } else {
        return std::nullopt;
    }
    return event;
}

// A notice after the quoted peer name.
static std::optional<ModuleEvent> noticeLine(const QByteArray &text)
{
    ModuleEvent event;
    if (text.startsWith("Module ")) {
        const qsizetype blank = text.indexOf(' ', 7);
        const std::optional<uint> id = blank < 0 ? std::nullopt : parseModuleId(text.mid(7, blank - 7));
        if (!id || !takeReason(text.mid(blank + 1), "not updated: ", event.reason))
            return std::nullopt;
        event.kind = ModuleEventKind::NotUpdated;
        event.id = *id;
        return event;
    }
    // The line given up reads "giving up line:" and is no repeat.
    const qsizetype quote = text.indexOf('"');
    if (text.startsWith("Flash error, restarting")
        || (quote >= 0 && text.left(quote).endsWith(", repeating line: "))) {
        event.kind = ModuleEventKind::Repeat;
        return event;
    }
    return std::nullopt;
}

std::optional<ModuleEvent> parseModuleEvent(const QByteArray &line)
{
    const QByteArray text = withoutLineEnd(line);
    if (text.startsWith("Module "))
        return moduleLine(text.mid(7));
    if (text.startsWith('"')) {
        const qsizetype peerEnd = text.indexOf("\" ", 1);
        return peerEnd < 0 ? std::nullopt : noticeLine(text.mid(peerEnd + 2));
    }
    const ParsedLine parsed = parseLine(text);
    if (parsed.kind == LineKind::PostFlash) {
        ModuleEvent event;
        event.kind = ModuleEventKind::Restart;
        return event;
    }
    if (parsed.kind != LineKind::Progress || !parsed.percent)
        return std::nullopt;
    const QList<QByteArray> fields = text.split(' ');
    const std::optional<uint> id = parseModuleId(fields.at(2));
    if (!id)
        return std::nullopt;
    ModuleEvent event;
    event.kind = ModuleEventKind::Progress;
    event.id = *id;
    event.phase = parsed.phase;
    event.percent = *parsed.percent;
    return event;
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

std::optional<StatusChange> RunMonitor::progressStatus(RunPhase phase)
{
    if (phase == RunPhase::Comparing && announceComparing) {
        announceComparing = false;
        announceFlashing = true;
        return StatusChange{phaseText("comparing..."), StatusColour::Green, true};
    }
    if (phase == RunPhase::Flashing && announceFlashing) {
        announceFlashing = false;
        announceComparing = true;
        return StatusChange{phaseText("flashing..."), StatusColour::Green, true};
    }
    return std::nullopt;
}

StatusChange RunMonitor::readyWait(uint id)
{
    // The next module's flash pass is news even if the last one ended flashing.
    announceFlashing = true;
    announceComparing = true;
    return {phaseText("module %1: waiting for its ready report...").arg(id, 0, 16), StatusColour::Black, true};
}

LineReaction RunMonitor::onLine(const QByteArray &line)
{
    const ParsedLine parsed = parseLine(line);
    LineReaction reaction;
    reaction.module = parseModuleEvent(line);
    switch (parsed.kind) {
    case LineKind::Progress:
        if (!parsed.percent)
            break;
        reaction.status = progressStatus(parsed.phase);
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
    case LineKind::Completed:
        reaction.status = StatusChange{phaseText("waiting for the restarted modules to log on again..."),
                                       StatusColour::Black, true};
        break;
    case LineKind::Other:
        if (reaction.module && reaction.module->kind == ModuleEventKind::Identity)
            reaction.status = readyWait(reaction.module->id);
        break;
    }
    return reaction;
}
