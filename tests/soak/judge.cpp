#include "judge.h"

#include <QRegularExpression>

#include <algorithm>

namespace soak {

namespace {

bool anyStartsWith(const QStringList &lines, const QString &prefix)
{
    return std::any_of(lines.begin(), lines.end(), [&](const QString &line) { return line.startsWith(prefix); });
}

int countContaining(const QStringList &lines, const QString &text)
{
    return static_cast<int>(
        std::count_if(lines.begin(), lines.end(), [&](const QString &line) { return line.contains(text); }));
}

QString hex(uint16_t id)
{
    return QString::number(id, 16);
}

// The process as a whole: it ended by itself, with a defined exit code that
// agrees with its error lines, in time.
void judgeProcess(const SoakCase &c, const RunResult &r, QStringList &violations)
{
    if (r.crashed)
        violations << QStringLiteral("crashed");
    else if (r.exitCode != 0 && r.exitCode != 2)
        violations << QStringLiteral("exit code %1").arg(r.exitCode);
    if (r.seconds > c.boundSeconds)
        violations
            << QStringLiteral("took %1 s, bound %2 s").arg(r.seconds, 0, 'f', 1).arg(c.boundSeconds, 0, 'f', 1);
    const bool errorLine = anyStartsWith(r.errLines, "Error:") || anyStartsWith(r.outLines, "Error:");
    if (r.exitCode == 0 && errorLine)
        violations << QStringLiteral("exit code 0 with an Error: line");
    if (r.exitCode == 2 && !errorLine)
        violations << QStringLiteral("exit code 2 without an Error: line");
    if (!anyStartsWith(r.outLines, "Finish: Update Process needed "))
        violations << QStringLiteral("no Finish: line");
    // A passing bus off may end either way; a broken bus must end the run.
    const bool lost = anyStartsWith(r.errLines, "Error: CAN-Connection lost ");
    if (c.busOffForGood && (r.exitCode != 2 || !lost))
        violations << QStringLiteral(
                          "bus broken after %1 frames not reported as a lost connection with exit code 2")
                          .arg(c.busOffAfterFrames);
}

void judgeModule(const ModulePlan &m, ModuleOutcome outcome, bool imageEqual, QStringList &violations)
{
    const QString name = QStringLiteral("module %1").arg(hex(m.id()));
    if (outcome == ModuleOutcome::Wrong)
        violations << name + QStringLiteral(" reported as updated, but its image differs from the file");
    if (outcome == ModuleOutcome::NeverLoggedOn && imageEqual)
        violations << name + QStringLiteral(" holds the file although it never logged on");
    if (m.expect == Expect::NotUpdated && outcome == ModuleOutcome::Updated)
        violations << name + QStringLiteral(" reported as updated although its fault forbids it");
    if (m.expect == Expect::Updated && outcome != ModuleOutcome::Updated)
        violations << name + QStringLiteral(" not updated although its faults are recoverable");
}

} // namespace

QSet<uint16_t> modulesNamedNotUpdated(const QStringList &errLines, bool *allNamed)
{
    static const QString listed = QStringLiteral("Error: Modules not updated: ");
    QSet<uint16_t> ids;
    *allNamed = false;
    for (const QString &line : errLines) {
        if (line.startsWith("Error: No module logged on") || line.startsWith("Error: No module fits"))
            *allNamed = true;
        if (!line.startsWith(listed))
            continue;
        for (const QString &word : line.mid(listed.size()).split(u' ', Qt::SkipEmptyParts)) {
            bool ok = false;
            const uint id = word.toUInt(&ok, 16);
            if (ok)
                ids.insert(static_cast<uint16_t>(id & 0x7FF));
        }
    }
    return ids;
}

bool loggedOnInTrace(const QByteArray &trace, uint16_t id)
{
    // "(seconds) can0 20D#D80111": the module sends from its id + 4 or + 5;
    // the flasher's log-on and log-off frames go to the id itself.
    static const QRegularExpression frame(QStringLiteral("^\\(\\S+\\) \\S+ ([0-9A-F]{3})#D8"),
                                          QRegularExpression::MultilineOption);
    for (auto it = frame.globalMatch(QString::fromLatin1(trace)); it.hasNext();) {
        const uint sender = it.next().captured(1).toUInt(nullptr, 16);
        if ((sender & 0x7FAu) == id && (sender & 0x4u) != 0)
            return true;
    }
    return false;
}

Reactions countReactions(const QStringList &errLines)
{
    Reactions n;
    n.lineTimeouts = countContaining(errLines, "Timeout, repeating line:");
    n.checksumRepeats = countContaining(errLines, "Checksum error, repeating line:");
    n.flashRestarts = countContaining(errLines, "Flash error, restarting writing from the beginning.");
    static const QRegularExpression givenUp(QStringLiteral("\" Module [0-9a-f]+ not updated: "));
    n.modulesGivenUp = static_cast<int>(std::count_if(
        errLines.begin(), errLines.end(), [](const QString &line) { return givenUp.match(line).hasMatch(); }));
    n.connectionsLost = countContaining(errLines, "Error: CAN-Connection lost ");
    return n;
}

Verdict judge(const SoakCase &c, const RunResult &r)
{
    Verdict v;
    v.reactions = countReactions(r.errLines);
    v.reactions.answeredTimeouts = r.wire ? r.wire->answeredTimeouts : 0;
    if (!r.ended) {
        v.violations << QStringLiteral("did not end; killed after %1 s").arg(r.seconds, 0, 'f', 1);
        return v;
    }
    judgeProcess(c, r, v.violations);
    if (!r.wireOk())
        v.violations << QStringLiteral("wire: ") + r.wire->describe();
    bool allNamed = false;
    const QSet<uint16_t> named = modulesNamedNotUpdated(r.errLines, &allNamed);
    for (size_t i = 0; i < c.modules.size(); ++i) {
        const ModulePlan &m = c.modules[i];
        ModuleOutcome outcome = ModuleOutcome::NotUpdated;
        if (!loggedOnInTrace(r.trace, m.id()))
            outcome = ModuleOutcome::NeverLoggedOn;
        else if (!allNamed && !named.contains(m.id()))
            outcome = r.imageEqual(m.address) ? ModuleOutcome::Updated : ModuleOutcome::Wrong;
        v.modules[i] = outcome;
        judgeModule(m, outcome, r.imageEqual(m.address), v.violations);
    }
    return v;
}

} // namespace soak
