// The statistics file of a simulated bus (adapter key "stats"): module phase
// changes with the bus totals at each, and the totals at the end. From it the
// benchmark takes the flash and compare phases of every module.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace bench {

struct BusTotals
{
    uint64_t frames = 0;
    uint64_t bits = 0;
    uint64_t busyNs = 0;
    uint64_t sumLatenessNs = 0;
    uint64_t maxLatenessNs = 0; // at a phase mark: since the mark before it
};

struct PhaseMark
{
    int64_t atNs = 0;
    int module = 0;
    QString phase;
    BusTotals totals;
};

struct BusStatsFile
{
    std::vector<PhaseMark> marks; // in the order the bus wrote them
    int64_t endNs = 0;
    BusTotals end;
    int64_t threadCpuNs = 0;
    bool realtime = false; // the bus thread ran with real-time scheduling
};

// False with a message naming the line when the text is not a complete file.
std::optional<BusStatsFile> parseBusStats(const QByteArray &text, QString *error);

enum class PassKind { Flash, Compare };

// One flash or compare pass of a module on the bus: from the frame that
// opened it to the frame that ended it (the module's next phase change).
struct Pass
{
    int module = 0;
    PassKind kind = PassKind::Flash;
    int64_t startNs = 0;
    int64_t endNs = 0;
    uint64_t busyNs = 0; // bus time of every frame on the bus in between
    uint64_t frames = 0;
    uint64_t sumLatenessNs = 0;
    uint64_t maxLatenessNs = 0;

    int64_t wallNs() const { return endNs - startNs; }
};

// The passes that ended before the file did, in the order they began. A
// module that flashed again (after a compare error) has more than one.
std::vector<Pass> passesOf(const BusStatsFile &stats);

} // namespace bench
