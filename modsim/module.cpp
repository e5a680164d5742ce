#include "module.h"

#include "recordverdict.h"

#include <algorithm>
#include <utility>

namespace modsim {

namespace {

const char *phaseName(Module::Phase phase)
{
    switch (phase) {
    case Module::Phase::Idle:
        return "idle";
    case Module::Phase::Preparing:
        return "preparing";
    case Module::Phase::Update:
        return "update";
    case Module::Phase::Flash:
        return "flash";
    case Module::Phase::Compare:
        return "compare";
    case Module::Phase::Restarting:
        return "restarting";
    case Module::Phase::Dead:
        return "dead";
    }
    return "?";
}

} // namespace

Module::Module(ModuleConfig config)
    : cfg_(std::move(config))
    , faults_(cfg_)
    , events_("module " + hexId(cfg_.id()) + ": ")
    , release_(cfg_.release)
    , reupdate_(cfg_.reupdate)
{}

void Module::receive(const Frame &frame, int64_t nowUs)
{
    advance(nowUs);
    if (phase_ == Phase::Restarting || phase_ == Phase::Dead)
        return;
    const uint16_t id = frame.id & 0x7FF;
    const bool forUs = id == cfg_.id() || id == (cfg_.id() | 1) || id == kLogOnRequestId;
    if (forUs && faults_.missesFrame()) {
        note("missed a frame to " + hexId(id));
        return;
    }
    if (id == cfg_.id())
        handleOwnId(frame);
    else if (id == (cfg_.id() | 1))
        handleRequest(frame);
    else if (id == kLogOnRequestId && isLogOnRequest(frame))
        handleLogOnRequest();
    else if (id == kSequenceId)
        handleSequence(frame);
    advance(nowUs);
}

void Module::advance(int64_t nowUs)
{
    nowUs_ = std::max(nowUs_, nowUs);
    while (!pending_.empty() && pending_.begin()->first.first <= nowUs_) {
        const Action action = pending_.begin()->second;
        pending_.erase(pending_.begin());
        run(action);
    }
}

int64_t Module::nextDeadlineUs() const
{
    return pending_.empty() ? INT64_MAX : pending_.begin()->first.first;
}

std::vector<Frame> Module::takeOutgoing()
{
    return std::exchange(outgoing_, {});
}

std::vector<std::string> Module::takeEvents()
{
    return events_.take();
}

void Module::handleOwnId(const Frame &frame)
{
    const OwnFrame own = decodeOwnFrame(frame);
    if (own.command == OwnCommand::LogOff) {
        handleLogOff();
    } else if (own.command == OwnCommand::LogOn) {
        loggedOff_ = false;
        note("log-on noted");
    } else if (own.command == OwnCommand::LogOnFollowUp) {
        note("log-on follow-up noted");
    } else if (own.command == OwnCommand::Update) {
        handleUpdateCommand(own.updateCode);
    }
}

void Module::handleLogOff()
{
    // Whatever was under way (an update left by an aborted run included) ends,
    // so the next command 0 reports ready again.
    cancelPending();
    if (phase_ != Phase::Idle)
        note(std::string("logged off, leaving ") + phaseName(phase_) + " mode");
    else if (!loggedOff_)
        note("logged off");
    phase_ = Phase::Idle;
    loggedOff_ = true;
}

void Module::handleRequest(const Frame &frame)
{
    switch (decodeRequest(frame)) {
    case Request::None:
        return;
    case Request::FlashData:
        handleFlashData(frame);
        return;
    case Request::DeviceInfo:
        answer(deviceInfoFrame(cfg_.sendId(), cfg_.serial, release_, cfg_.channels));
        note("device information requested");
        return;
    case Request::Release:
        answer(releaseFrame(cfg_.sendId(), release_));
        note("firmware release requested: " + release_);
        return;
    case Request::Name: {
        const std::string name = reupdate_ ? std::string() : cfg_.name;
        schedule(nowUs_ + cfg_.answerDelayUs, ActionKind::Send, nameFrame(cfg_.sendId(), name));
        note("firmware name requested: \"" + name + "\"");
        return;
    }
    }
}

void Module::handleLogOnRequest()
{
    if (faults_.missesLogOnRequest()) {
        note("missed a log-on request");
        return;
    }
    const bool alreadyPending = std::any_of(pending_.begin(), pending_.end(), [](const auto &entry) {
        return entry.second.kind == ActionKind::Send && isLogOnAnswer(entry.second.frame);
    });
    if (alreadyPending)
        return;
    if (reupdate_) {
        // Only the loader runs: it announces itself ready for an update at once.
        answer(statusFrame(cfg_.sendId(), kReupdateLogOn));
        note("log-on request: answered in re-update state");
        return;
    }
    const int64_t delay = faults_.logOnDelayUs();
    schedule(nowUs_ + delay + cfg_.answerDelayUs, ActionKind::Send, logOnFrame(cfg_.sendId(), cfg_.deviceClass));
    note("log-on request: answer in " + std::to_string(delay / 1000) + " ms");
}

void Module::handleUpdateCommand(uint8_t code)
{
    const bool inUpdate = phase_ == Phase::Update || phase_ == Phase::Flash || phase_ == Phase::Compare;
    if ((code == 3 || code == 5) && !inUpdate) {
        note("update command " + std::to_string(code) + " ignored: not ready for an update");
        return;
    }
    switch (code) {
    case 0:
        enterUpdateMode();
        return;
    case 3:
        image_.clear();
        eraseUntilUs_ = nowUs_ + int64_t(cfg_.eraseDelayMs) * 1000;
        openPass(Phase::Flash);
        note("update command 3: erasing, flash pass");
        return;
    case 5:
        openPass(Phase::Compare);
        note("update command 5: compare pass");
        return;
    case 6:
        restart();
        return;
    default:
        note("update command " + std::to_string(code) + " ignored");
        return;
    }
}

void Module::enterUpdateMode()
{
    if (phase_ != Phase::Idle) {
        // Only the entry reports ready: a second 15 81 would be read as the
        // answer to the next line.
        note("update command 0 repeated");
        return;
    }
    phase_ = Phase::Preparing;
    if (faults_.neverReady()) {
        note("update command 0: entering update mode, never ready");
        return;
    }
    schedule(nowUs_ + (reupdate_ ? 0 : int64_t(cfg_.readyDelayMs) * 1000) + cfg_.answerDelayUs,
             ActionKind::Ready);
    note("update command 0: entering update mode");
}

void Module::openPass(Phase pass)
{
    phase_ = pass;
    passLines_ = 0;
    lines_.discardPartialLine();
}

void Module::restart()
{
    cancelPending();
    // The image written now records what the module boots with.
    if (!cfg_.newRelease.empty())
        release_ = cfg_.newRelease;
    if (reupdate_ && !image_.empty())
        reupdate_ = false;
    std::string error;
    imageProblem_ = saveImage(&error) ? std::string() : error;
    if (!imageProblem_.empty())
        note("image not written: " + error);
    else if (!cfg_.imagePath.empty())
        note("image written to " + cfg_.imagePath);
    phase_ = Phase::Restarting;
    schedule(nowUs_ + int64_t(cfg_.restartMs) * 1000, ActionKind::Boot);
    note("update command 6: restarting");
}

void Module::handleSequence(const Frame &frame)
{
    if (isOpeningSequence(frame))
        note("opening sequence noted");
    else if (const std::optional<uint8_t> closing = closingSequence(frame))
        note("closing sequence " + hexByte(*closing) + " noted");
}

void Module::handleFlashData(const Frame &frame)
{
    ++dataFrames_;
    acknowledgeFlashData();
    for (const uint8_t byte : flashDataText(frame)) {
        if (const std::optional<ReceivedLine> line = lines_.push(byte)) {
            lineComplete(*line);
            if (phase_ == Phase::Dead || phase_ == Phase::Restarting)
                return;
        }
    }
}

void Module::acknowledgeFlashData()
{
    const Frame ack = statusFrame(cfg_.sendId(), 0x00);
    if (faults_.losesAcknowledgement(dataFrames_)) {
        note("flash data frame " + std::to_string(dataFrames_) + ": acknowledgement lost");
    } else if (faults_.acknowledgesLate(dataFrames_)) {
        note("flash data frame " + std::to_string(dataFrames_) + ": acknowledgement late");
        answer(ack, nowUs_ + faults_.lateUs());
    } else {
        answer(ack);
    }
}

void Module::lineComplete(const ReceivedLine &line)
{
    if (phase_ != Phase::Flash && phase_ != Phase::Compare) {
        note("line outside a pass ignored");
        return;
    }
    const int lineNo = ++passLines_;
    const bool flashing = phase_ == Phase::Flash;
    if (flashing && faults_.diesAt(lineNo)) {
        cancelPending();
        phase_ = Phase::Dead;
        note("flash line " + std::to_string(lineNo) + ": dies");
        return;
    }
    uint8_t code = kChecksumError;
    if (line.tooLong)
        note(std::string(flashing ? "flash" : "compare") + " line " + std::to_string(lineNo) + ": too long");
    else
        code = flashing ? flashLine(line.text, lineNo) : compareLine(line.text, lineNo);
    if (faults_.losesLineAnswer(flashing, lineNo)) {
        note("line " + std::to_string(lineNo) + ": answer " + hexByte(code) + " lost");
        return;
    }
    int64_t notBeforeUs = eraseUntilUs_;
    if (faults_.answersLineLate(flashing, lineNo)) {
        note("line " + std::to_string(lineNo) + ": answer " + hexByte(code) + " late");
        notBeforeUs = std::max(notBeforeUs, nowUs_ + faults_.lateUs());
    }
    answer(statusFrame(cfg_.sendId(), code), notBeforeUs);
}

uint8_t Module::flashLine(const std::string &line, int lineNo)
{
    const std::string where = "flash line " + std::to_string(lineNo) + ": ";
    if (faults_.injectsChecksumError(lineNo)) {
        note(where + "checksum error (injected)");
        return kChecksumError;
    }
    const RecordVerdict verdict = flashVerdict(line, faults_.headerRefusal(), &image_);
    note(where + verdict.why);
    return verdict.code;
}

uint8_t Module::compareLine(const std::string &line, int lineNo)
{
    const std::string where = "compare line " + std::to_string(lineNo) + ": ";
    if (faults_.injectsMismatch(lineNo)) {
        note(where + "mismatch (injected)");
        return kFlashError;
    }
    const RecordVerdict verdict = compareVerdict(line, faults_.headerRefusal(), image_);
    note(where + verdict.why);
    return verdict.code;
}

void Module::schedule(int64_t dueUs, ActionKind kind, const Frame &frame)
{
    pending_.emplace(std::make_pair(dueUs, nextSeq_++), Action{kind, frame});
}

void Module::answer(const Frame &frame, int64_t notBeforeUs)
{
    schedule(std::max(nowUs_ + cfg_.answerDelayUs, notBeforeUs), ActionKind::Send, frame);
}

void Module::cancelPending()
{
    pending_.clear();
}

void Module::run(const Action &action)
{
    switch (action.kind) {
    case ActionKind::Send:
        transmit(action.frame);
        return;
    case ActionKind::Ready:
        if (phase_ != Phase::Preparing)
            return;
        phase_ = Phase::Update;
        transmit(statusFrame(cfg_.sendId(), kAccepted));
        note("ready for the update");
        return;
    case ActionKind::Boot:
        boot();
        return;
    }
}

void Module::boot()
{
    loggedOff_ = false;
    if (faults_.silentAfterRestart()) {
        phase_ = Phase::Dead;
        note("restarted, stays silent");
        return;
    }
    // Its flash did not survive the restart: the module never comes
    // back, so the update counts as failed rather than done.
    if (!imageProblem_.empty()) {
        phase_ = Phase::Dead;
        note("restarted without its image, stays silent");
        return;
    }
    phase_ = Phase::Idle;
    transmit(logOnFrame(cfg_.sendId(), cfg_.deviceClass));
    note("restarted with release " + release_ + ", logged on");
}

void Module::transmit(const Frame &frame)
{
    if (faults_.losesOutgoing()) {
        note("frame " + hexByte(frame.data[0]) + " lost on the way out");
        return;
    }
    outgoing_.push_back(frame);
}

void Module::note(const std::string &text)
{
    events_.add(text);
}

} // namespace modsim
