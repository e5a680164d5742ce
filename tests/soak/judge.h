// The checks of one soak run: what tarvCanFlash reported against what the
// modules hold and what the injected faults allow.
#pragma once

#include "flasherrun.h"
#include "soakcase.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>

namespace soak {

using testkit::RunResult;

enum class ModuleOutcome {
    Updated,       // reported as updated, image equal to the file
    NotUpdated,    // named as not updated
    NeverLoggedOn, // its log-on never reached the bus, so the flasher cannot know it
    Wrong,         // reported as updated, but its image differs
};

// How the flasher reacted to the faults, counted from its diagnostic lines.
struct Reactions
{
    int lineTimeouts = 0;
    int answeredTimeouts = 0; // of those, with the answer on the bus in time (from the trace)
    int checksumRepeats = 0;
    int flashRestarts = 0;
    int modulesGivenUp = 0;
    int connectionsLost = 0;
};

struct Verdict
{
    QStringList violations; // empty: the run behaved
    std::array<ModuleOutcome, 2> modules{};
    Reactions reactions;
};

// Module ids (low 11 bits) named in "Error: Modules not updated: ..." lines;
// allNamed is set by an error line that says no module was updated.
QSet<uint16_t> modulesNamedNotUpdated(const QStringList &errLines, bool *allNamed);
// Whether the module with this id sent a log-on frame (D8) onto the bus.
bool loggedOnInTrace(const QByteArray &trace, uint16_t id);
Reactions countReactions(const QStringList &errLines);

Verdict judge(const SoakCase &c, const RunResult &r);

} // namespace soak
