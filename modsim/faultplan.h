// The faults a module shows and the random draws behind them, decided from its
// configuration and its seed. The state machine asks; it never draws itself.
#pragma once

#include "moduleconfig.h"

#include <array>
#include <cstdint>
#include <optional>
#include <random>

namespace modsim {

class FaultPlan
{
public:
    explicit FaultPlan(ModuleConfig config);

    // A frame to the module that it does not hear.
    bool missesFrame();
    // The first few log-on requests go unheard; counts this one.
    bool missesLogOnRequest();
    // Random spread before a log-on answer, in microseconds.
    int64_t logOnDelayUs();
    // dataFrame counts the flash data frames of the module's life, from 1.
    bool losesAcknowledgement(int64_t dataFrame);
    bool acknowledgesLate(int64_t dataFrame) const;
    // Line numbers count the lines of the current pass, from 1.
    bool diesAt(int flashLine) const;
    bool injectsChecksumError(int flashLine);
    // True once per compare pass it applies to; counts that pass.
    bool injectsMismatch(int compareLine);
    // The status code the S0 header line is refused with; none when accepted.
    std::optional<uint8_t> headerRefusal() const;
    bool losesLineAnswer(bool flashPass, int line);
    bool answersLineLate(bool flashPass, int line) const;
    // A frame from the module that never reaches the bus.
    bool losesOutgoing();
    bool neverReady() const { return cfg_.neverReady; }
    bool silentAfterRestart() const { return cfg_.noLogonAfterRestart; }
    int64_t lateUs() const { return int64_t(cfg_.lateMs) * 1000; }

private:
    enum Stream { LogOnStream, ChecksumStream, AckStream, AnswerStream, RxStream, TxStream, StreamCount };

    bool chance(Stream stream, double probability);

    ModuleConfig cfg_;
    std::array<std::mt19937_64, StreamCount> rng_;
    int mismatches_ = 0; // compare passes that showed the injected mismatch
    int logOnRequestsMissed_ = 0;
};

} // namespace modsim
