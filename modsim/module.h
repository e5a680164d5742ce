// A simulated high-voltage module: the modules' side of the flash protocol as a
// pure state machine. No threads, no clocks of its own: the host hands it every
// frame seen on its bus and calls advance() at the deadlines it names.
#pragma once

#include "eventlog.h"
#include "faultplan.h"
#include "image.h"
#include "linereassembly.h"
#include "moduleconfig.h"
#include "moduleframes.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace modsim {

class Module
{
public:
    explicit Module(ModuleConfig config);

    // A frame on the bus (never one of the module's own), at host time nowUs.
    void receive(const Frame &frame, int64_t nowUs);
    // Runs the timers due at nowUs.
    void advance(int64_t nowUs);
    // Next host time at which advance() has work; INT64_MAX when none.
    int64_t nextDeadlineUs() const;
    // Frames to put on the bus, oldest first; the host sends them in this order.
    std::vector<Frame> takeOutgoing();
    // One line per protocol event, for the standalone program's log. Only the
    // newest few thousand are kept until taken.
    std::vector<std::string> takeEvents();

    const ModuleConfig &config() const { return cfg_; }
    const Image &image() const { return image_; }
    // Starts the module from config().imagePath when a file is there
    // (modsim/imagefile.h). False with "PATH: reason" when that file cannot be
    // read: the module then stays silent and never writes over the file.
    // Hosts call it once, before the first frame.
    bool restoreImage(std::string *error);
    // Writes the image to config().imagePath (no-op when empty). Called by the
    // module itself at every restart; the host calls it when the bench ends.
    bool saveImage(std::string *error) const;
    // Why the image could not be written at the last restart (empty when it
    // was); such a module does not log on again.
    const std::string &imageProblem() const { return imageProblem_; }

    // Identifiers the module listens on.
    static constexpr uint16_t kLogOnRequestId = 0x7FF;
    static constexpr uint16_t kSequenceId = 0x004;

    enum class Phase {
        Idle,       // running its firmware (or its loader)
        Preparing,  // update command 0 seen, ready report not yet sent
        Update,     // update mode, no pass open
        Flash,      // flash pass: lines written to the image
        Compare,    // compare pass: lines checked against the image
        Restarting, // deaf and silent until it boots
        Dead,       // silent for good
    };
    Phase phase() const { return phase_; }
    const std::string &currentRelease() const { return release_; }
    bool inReupdateState() const { return reupdate_; }

private:
    enum class ActionKind { Send, Ready, Boot };
    struct Action
    {
        ActionKind kind = ActionKind::Send;
        Frame frame;
    };

    void handleOwnId(const Frame &frame);
    void handleLogOff();
    void handleRequest(const Frame &frame);
    void handleUpdateCommand(uint8_t code);
    void enterUpdateMode();
    void openPass(Phase pass);
    void handleFlashData(const Frame &frame);
    void acknowledgeFlashData();
    void handleSequence(const Frame &frame);
    void handleLogOnRequest();
    void lineComplete(const ReceivedLine &line);
    uint8_t flashLine(const std::string &line, int lineNo);
    uint8_t compareLine(const std::string &line, int lineNo);

    void schedule(int64_t dueUs, ActionKind kind, const Frame &frame = {});
    void answer(const Frame &frame, int64_t notBeforeUs = 0);
    void cancelPending();
    void run(const Action &action);
    void boot();
    void transmit(const Frame &frame);
    void note(const std::string &text);
    void restart();

    ModuleConfig cfg_;
    Image image_;
    FaultPlan faults_;
    EventLog events_;
    LineReassembly lines_;

    Phase phase_ = Phase::Idle;
    std::string release_;
    bool reupdate_ = false;
    bool loggedOff_ = false;
    std::string imageProblem_;
    std::string restoreProblem_;
    int64_t nowUs_ = 0;
    int64_t eraseUntilUs_ = 0;
    std::map<std::pair<int64_t, uint64_t>, Action> pending_;
    uint64_t nextSeq_ = 0;
    std::vector<Frame> outgoing_;

    int passLines_ = 0;      // complete lines since the command that opened the pass
    int64_t dataFrames_ = 0; // flash data frames over the module's life
};

} // namespace modsim
