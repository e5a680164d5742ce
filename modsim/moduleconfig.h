// What a simulated module is: identity, timing and the faults it shows. Filled
// key by key from a [module.*] section or a --module option.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace modsim {

struct ModuleConfig
{
    // Identity
    int address = 1;              // 0..63; id = 0x200 + 8 * address
    std::string name = "K3B7";    // firmware name, at most 6 characters
    uint32_t serial = 123456;     // at most 6 decimal digits
    std::string release = "4.20"; // d.dd
    std::string newRelease;       // release after a restart; empty = unchanged
    uint8_t deviceClass = 0x11;
    uint8_t channels = 1;
    int sendOffset = 5; // 4 or 5
    uint64_t seed = 1;
    std::string imagePath; // empty = the image is not written

    // Timing
    int logonDelayMs = 20;  // upper bound of the random delay before a log-on answer
    int readyDelayMs = 50;  // update command 0 until 15 81
    int eraseDelayMs = 100; // update command 3 until flash data is accepted
    int restartMs = 500;    // silence after update command 6
    int answerDelayUs = 0;  // delay of every answer; 0 = at once

    // Faults. Line numbers count the complete lines a pass has received,
    // repeated lines included, from 1 after the command that opened the pass.
    std::set<int> checksumErrorLines; // flash pass: answer 15 92
    double checksumErrorProb = 0.0;
    int compareMismatchLine = 0;   // compare pass: answer 15 91; 0 = none
    int compareMismatchPasses = 1; // the first this many compare passes of the module's life
    std::set<int> loseAckFrames;   // flash data frames (counted over the module's life) left unacknowledged
    std::set<int> lateAckFrames;   // flash data frames, counted as above, acknowledged lateMs late
    std::set<int> lateAnswerLines; // lines of the flash pass answered lateMs late
    int lateMs = 500;              // past the flasher's answer bound, inside its pause after a timeout
    double loseAckProb = 0.0;
    std::set<int> loseAnswerLines; // lines of either pass left without status answer
    double loseAnswerProb = 0.0;
    double rxLossProb = 0.0;     // frames to the module that it misses
    int missedLogOnRequests = 0; // the first this many log-on requests to 7ff go unheard
    double txLossProb = 0.0;     // frames from the module that never reach the bus
    bool neverReady = false;
    bool noLogonAfterRestart = false;
    int dieAtLine = 0;     // silent for good from this flash-pass line on; 0 = never
    int versionError = 0;  // 0x97 or 0x98 answers the S0 header line; 0 = none
    bool reupdate = false; // loader only: log-on answered with 15 99, no name

    bool operator==(const ModuleConfig &) const = default;

    uint16_t id() const { return static_cast<uint16_t>(0x200 + 8 * address); }
    uint16_t sendId() const { return static_cast<uint16_t>(id() + sendOffset); }
};

// Sets one key of a module section. Relative paths are taken relative to
// baseDir. False with a message for an unknown key or a bad value.
bool applyModuleKey(ModuleConfig &config, const std::string &key, const std::string &value,
                    const std::string &baseDir, std::string *error);

// Every key that applyModuleKey knows, sorted.
std::vector<std::string> moduleKeys();

// Checks the combination of keys (e.g. the address range). False with a message.
bool validateModule(const ModuleConfig &config, std::string *error);

} // namespace modsim
