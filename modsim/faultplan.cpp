#include "faultplan.h"

#include <algorithm>
#include <climits>
#include <utility>

namespace modsim {

namespace {

int frameNumber(int64_t dataFrame)
{
    return static_cast<int>(std::min<int64_t>(dataFrame, INT_MAX));
}

} // namespace

FaultPlan::FaultPlan(ModuleConfig config)
    : cfg_(std::move(config))
{
    // One engine per kind of decision, so switching one fault on does not
    // change the draws of another.
    for (size_t i = 0; i < rng_.size(); ++i) {
        std::seed_seq seq{static_cast<uint32_t>(cfg_.seed), static_cast<uint32_t>(cfg_.seed >> 32),
                          static_cast<uint32_t>(i)};
        rng_[i].seed(seq);
    }
}

bool FaultPlan::missesFrame()
{
    return chance(RxStream, cfg_.rxLossProb);
}

bool FaultPlan::missesLogOnRequest()
{
    if (logOnRequestsMissed_ >= cfg_.missedLogOnRequests)
        return false;
    ++logOnRequestsMissed_;
    return true;
}

int64_t FaultPlan::logOnDelayUs()
{
    if (cfg_.logonDelayMs <= 0)
        return 0;
    std::uniform_int_distribution<int64_t> spread(0, int64_t(cfg_.logonDelayMs) * 1000);
    return spread(rng_[LogOnStream]);
}

bool FaultPlan::losesAcknowledgement(int64_t dataFrame)
{
    return cfg_.loseAckFrames.count(frameNumber(dataFrame)) || chance(AckStream, cfg_.loseAckProb);
}

bool FaultPlan::acknowledgesLate(int64_t dataFrame) const
{
    return cfg_.lateAckFrames.count(frameNumber(dataFrame));
}

bool FaultPlan::diesAt(int flashLine) const
{
    return cfg_.dieAtLine > 0 && flashLine >= cfg_.dieAtLine;
}

bool FaultPlan::injectsChecksumError(int flashLine)
{
    return cfg_.checksumErrorLines.count(flashLine) || chance(ChecksumStream, cfg_.checksumErrorProb);
}

bool FaultPlan::injectsMismatch(int compareLine)
{
    if (mismatches_ >= cfg_.compareMismatchPasses || cfg_.compareMismatchLine != compareLine)
        return false;
    ++mismatches_;
    return true;
}

std::optional<uint8_t> FaultPlan::headerRefusal() const
{
    if (cfg_.versionError == 0)
        return std::nullopt;
    return static_cast<uint8_t>(cfg_.versionError);
}

bool FaultPlan::losesLineAnswer(bool flashPass, int line)
{
    const bool listed = flashPass && cfg_.loseAnswerLines.count(line);
    return listed || chance(AnswerStream, cfg_.loseAnswerProb);
}

bool FaultPlan::answersLineLate(bool flashPass, int line) const
{
    return flashPass && cfg_.lateAnswerLines.count(line);
}

bool FaultPlan::losesOutgoing()
{
    return chance(TxStream, cfg_.txLossProb);
}

bool FaultPlan::chance(Stream stream, double probability)
{
    if (probability <= 0.0)
        return false;
    // 53 random bits as a fraction: the same on every standard library.
    const double draw = static_cast<double>(rng_[stream]() >> 11) * 0x1.0p-53;
    return draw < probability;
}

} // namespace modsim
