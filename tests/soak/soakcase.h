// One run of the fault soak, drawn from a seed: the firmware file, the two
// simulated modules with the faults they inject, what each module may or must
// end as, and the time the run may take.
#pragma once

#include "benchini.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>

namespace soak {

enum class FaultKind {
    FrameLoss1, // 1 % of the frames lost in both directions
    FrameLoss5, // 5 % of the frames lost in both directions
    ChecksumErrors,
    CompareMismatch,
    SlowAnswers,
    DiesMidFlash,
    NoLogOnAfterRestart,
    BusOff, // the adapter goes bus off in the middle of the run, for a
            // moment (the driver's reset brings it back) or for good
    Mixed,  // several of the recoverable faults at once
};
constexpr int FaultKindCount = 9;
QString faultKindName(FaultKind kind);

enum class Expect { Updated, NotUpdated, Either };

using testkit::Keys;

struct ModulePlan
{
    int address = 0;
    Keys keys; // module keys beyond address, name and image
    Expect expect = Expect::Updated;
    double rxLoss = 0.0; // what the keys inject, for the time bound
    double txLoss = 0.0;
    int answerDelayUs = 0;
    int extraPasses = 0;       // flash or compare passes beyond the two
    double extraSeconds = 0.0; // waits that run into one of the flasher's bounds

    uint16_t id() const { return static_cast<uint16_t>(0x200 + 8 * address); }
};

struct SoakCase
{
    uint64_t seed = 0;
    int index = 0;
    FaultKind kind = FaultKind::FrameLoss1;
    QString fileName;     // carries the modules' firmware name
    QStringList firmware; // the file's lines, without line ends
    std::array<ModulePlan, 2> modules;
    int busOffAfterFrames = 0;  // 0: the bus stays on
    bool busOffForGood = false; // a broken bus, not a passing disturbance
    double boundSeconds = 0.0;  // the run must have ended by then
};

// The index-th run of the soak seeded with seed; the same pair gives the same case.
SoakCase makeCase(uint64_t seed, int index);

// The bench configuration of the case: one adapter with the two modules.
testkit::BenchIni benchIni(const SoakCase &c);

// CAN frames that carry one line of the file (six text bytes each, CR LF added).
int framesPerLine(const QString &line);
// Probability that one transfer of the line (its frames, their acknowledgements
// and the status answer) loses a frame.
double lineLossProbability(const QString &line, double rxLoss, double txLoss);
// The longest the run may take: start-up and per-module pauses, every line
// of every pass, and the timeouts and waits that the injected faults cause.
double runBoundSeconds(const SoakCase &c);

} // namespace soak
