#include "soakcase.h"

#include "srecord.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <set>

namespace soak {

namespace {

// What a run costs, from the pauses that pace the modules, with room for a
// machine that is busy with other runs.
constexpr double StartUpSeconds = 8.0;   // opening the line, log-on window, opening and closing sequences
constexpr double PerModuleSeconds = 8.0; // identity, ready report, phase pauses, restart, closing sequence
constexpr double PerLineSeconds = 0.05;
constexpr double TimeoutSeconds = 2.6; // a line without an answer, then the pause before it goes again
constexpr int RefusalsInARow = 10;     // the flasher gives a module up after so many
constexpr double ReadyWaitSeconds = 10.0;
constexpr double PostFlashWaitSeconds = 20.0;
constexpr double Margin = 1.5;
constexpr double SlackSeconds = 30.0;

// Frames on the bus before the first module is worked on: pattern frame, two
// log-off sweeps, log-on and the modules' answers.
constexpr int StartUpFrames = 140;

uint64_t mix(uint64_t seed, int index)
{
    uint64_t z = seed * 0x9E3779B97F4A7C15ull + static_cast<uint64_t>(index) + 0x632BE59BD9B4E019ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

int pick(std::mt19937_64 &random, int low, int high)
{
    return std::uniform_int_distribution<int>(low, high)(random);
}

QString number(double value)
{
    return QString::number(value, 'g', 6);
}

void addLoss(ModulePlan &m, double rate)
{
    m.rxLoss = m.txLoss = rate;
    m.keys += {{"rx_loss_prob", number(rate)}, {"tx_loss_prob", number(rate)}};
    m.expect = Expect::Either;
}

void addChecksumErrors(ModulePlan &m, std::mt19937_64 &random, int lines)
{
    std::set<int> refused;
    const int count = pick(random, 1, 4);
    while (static_cast<int>(refused.size()) < count)
        refused.insert(pick(random, 1, lines + count));
    QStringList list;
    for (int line : refused)
        list.append(QString::number(line));
    const double prob = pick(random, 0, 2) * 0.05;
    m.keys += {{"checksum_error_lines", list.join(u',')}, {"checksum_error_prob", number(prob)}};
    m.extraPasses += 1;
}

void addCompareMismatch(ModulePlan &m, std::mt19937_64 &random, int lines)
{
    m.keys += {{"compare_mismatch_line", QString::number(pick(random, 1, lines))}};
    m.extraPasses += 2;
}

void addSlowAnswers(ModulePlan &m, std::mt19937_64 &random, int maxDelayUs)
{
    m.answerDelayUs = pick(random, 1000, maxDelayUs);
    m.keys += {{"answer_delay_us", QString::number(m.answerDelayUs)}};
}

void addMixed(ModulePlan &m, std::mt19937_64 &random, int lines)
{
    addLoss(m, 0.01);
    if (pick(random, 0, 1) == 1)
        addChecksumErrors(m, random, lines);
    if (pick(random, 0, 1) == 1)
        addCompareMismatch(m, random, lines);
    if (pick(random, 0, 1) == 1)
        addSlowAnswers(m, random, 20000);
}

// Frames of both passes of one module, for placing the bus off inside a transfer.
int transferFrames(const QStringList &firmware)
{
    int frames = 0;
    for (const QString &line : firmware)
        frames += 2 * framesPerLine(line) + 1;
    return 2 * frames;
}

void injectFaults(SoakCase &c, std::mt19937_64 &random)
{
    const int lines = static_cast<int>(c.firmware.size());
    ModulePlan &victim = c.modules[static_cast<size_t>(pick(random, 0, 1))];
    switch (c.kind) {
    case FaultKind::FrameLoss1:
    case FaultKind::FrameLoss5:
        for (ModulePlan &m : c.modules)
            addLoss(m, c.kind == FaultKind::FrameLoss1 ? 0.01 : 0.05);
        break;
    case FaultKind::ChecksumErrors:
        addChecksumErrors(victim, random, lines);
        break;
    case FaultKind::CompareMismatch:
        addCompareMismatch(victim, random, lines);
        break;
    case FaultKind::SlowAnswers:
        for (ModulePlan &m : c.modules)
            addSlowAnswers(m, random, 40000);
        break;
    case FaultKind::DiesMidFlash:
        victim.keys += {{"die_at_line", QString::number(pick(random, 2, lines))}};
        victim.expect = Expect::NotUpdated;
        victim.extraSeconds = RefusalsInARow * TimeoutSeconds;
        break;
    case FaultKind::NoLogOnAfterRestart:
        victim.keys += {{"no_logon_after_restart", "true"}};
        victim.expect = Expect::NotUpdated;
        victim.extraSeconds = PostFlashWaitSeconds;
        break;
    case FaultKind::BusOff: {
        const int transfer = transferFrames(c.firmware);
        c.busOffAfterFrames = StartUpFrames + pick(random, 20, transfer * 8 / 5);
        c.busOffForGood = pick(random, 0, 1) == 1;
        for (ModulePlan &m : c.modules)
            m.expect = Expect::Either;
        break;
    }
    case FaultKind::Mixed:
        for (ModulePlan &m : c.modules)
            addMixed(m, random, lines);
        break;
    }
}

} // namespace

QString faultKindName(FaultKind kind)
{
    switch (kind) {
    case FaultKind::FrameLoss1:
        return QStringLiteral("frame loss 1 %");
    case FaultKind::FrameLoss5:
        return QStringLiteral("frame loss 5 %");
    case FaultKind::ChecksumErrors:
        return QStringLiteral("checksum errors");
    case FaultKind::CompareMismatch:
        return QStringLiteral("compare mismatch");
    case FaultKind::SlowAnswers:
        return QStringLiteral("slow answers");
    case FaultKind::DiesMidFlash:
        return QStringLiteral("module dies mid-flash");
    case FaultKind::NoLogOnAfterRestart:
        return QStringLiteral("no log-on after restart");
    case FaultKind::BusOff:
        return QStringLiteral("bus off mid-run");
    case FaultKind::Mixed:
        return QStringLiteral("mixed");
    }
    return QString();
}

SoakCase makeCase(uint64_t seed, int index)
{
    SoakCase c;
    c.seed = seed;
    c.index = index;
    std::mt19937_64 random(mix(seed, index));
    // Every kind in turn, so that a short soak already meets each of them.
    c.kind = static_cast<FaultKind>((index + static_cast<int>(seed % FaultKindCount)) % FaultKindCount);
    const bool heavyLoss = c.kind == FaultKind::FrameLoss5;
    const int lines = heavyLoss ? pick(random, 5, 12) : pick(random, 6, 30);
    const int dataBytes = heavyLoss ? 8 : 8 * pick(random, 1, 4);
    testkit::FirmwareShape shape{.title = "K3B7 soak",
                                 .dataBytes = (lines - 2) * dataBytes,
                                 .bytesPerRecord = dataBytes,
                                 .addressBytes = pick(random, 2, 4),
                                 .base = 0x1000u * static_cast<uint32_t>(pick(random, 0, 7)),
                                 .seed = random()};
    for (const QByteArray &record : testkit::firmwareRecords(shape))
        c.firmware.append(QString::fromLatin1(record));
    c.fileName = QStringLiteral("K3B7_%1.hex").arg(pick(random, 100, 999));
    c.modules[0].address = pick(random, 0, 63);
    do {
        c.modules[1].address = pick(random, 0, 63);
    } while (c.modules[1].address == c.modules[0].address);
    for (ModulePlan &m : c.modules)
        m.keys += {{"seed", QString::number(random() % 1000000000 + 1)}};
    injectFaults(c, random);
    c.boundSeconds = runBoundSeconds(c);
    return c;
}

testkit::BenchIni benchIni(const SoakCase &c)
{
    testkit::BenchIni ini;
    if (c.busOffAfterFrames > 0)
        ini.addAdapter(0, {{"bus_off_after_frames", QString::number(c.busOffAfterFrames)},
                           {"bus_off_for_good", c.busOffForGood ? "true" : "false"}});
    else
        ini.addAdapter(0);
    for (const ModulePlan &m : c.modules)
        ini.addModule(m.address, m.keys);
    return ini;
}

int framesPerLine(const QString &line)
{
    return static_cast<int>((line.simplified().size() + 2 + 5) / 6);
}

double lineLossProbability(const QString &line, double rxLoss, double txLoss)
{
    const int frames = framesPerLine(line);
    return 1.0 - std::pow(1.0 - rxLoss, frames) * std::pow(1.0 - txLoss, frames + 1);
}

double runBoundSeconds(const SoakCase &c)
{
    double seconds = StartUpSeconds;
    for (const ModulePlan &m : c.modules) {
        const int passes = 2 + m.extraPasses;
        double timeouts = 0.0;
        double lineSeconds = 0.0;
        for (const QString &line : c.firmware) {
            // A line that lost a frame times out and goes again, and that
            // transfer meets the rest of the first one in the module and is
            // refused as well: q / (1 - q)^2 timeouts per line.
            const double q = lineLossProbability(line, m.rxLoss, m.txLoss);
            timeouts += passes * q / ((1.0 - q) * (1.0 - q));
            lineSeconds += PerLineSeconds + (framesPerLine(line) + 1) * m.answerDelayUs / 1e6;
        }
        // Three times the expected timeouts and a few more: over hundreds of
        // runs some will lose far more frames than the average.
        const double timeoutAllowance = timeouts > 0.0 ? 3.0 * timeouts + 5.0 : 0.0;
        seconds += PerModuleSeconds + passes * lineSeconds + timeoutAllowance * TimeoutSeconds + m.extraSeconds;
        // Lost frames outside the lines can leave a module waiting in one of
        // the flasher's bounded waits.
        if (m.rxLoss > 0.0 || m.txLoss > 0.0)
            seconds += ReadyWaitSeconds + PostFlashWaitSeconds;
    }
    return Margin * seconds + SlackSeconds;
}

} // namespace soak
