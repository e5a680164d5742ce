#include "module.h"

#include <algorithm>
#include <climits>
#include <cstdio>

namespace modsim {

namespace {

// Frame layouts as the flasher decodes them:
//   log-on           D8 status class
//   device info      E0 s1 s2 s3 0m nn ch   (serial as packed decimal digits,
//                                            release m.nn, m and nn packed decimal)
//   release          12 01 00 m nn          (m and nn binary)
//   name             12 03 c0..c5
//   status           15 code
constexpr uint8_t kLogOnStatus = 0x03;
constexpr uint8_t kAccepted = 0x81;
constexpr uint8_t kFlashError = 0x91;
constexpr uint8_t kChecksumError = 0x92;
constexpr uint8_t kReupdateLogOn = 0x99;
constexpr size_t kMaxLine = 600; // longer than any S-record can be
constexpr size_t kMaxEvents = 4096;

uint8_t packedDecimal(unsigned twoDigits)
{
    return static_cast<uint8_t>(((twoDigits / 10) % 10) << 4 | (twoDigits % 10));
}

// "d.dd" as major and minor; digits that are not there count as 0, so a
// release that skipped validation cannot throw.
std::pair<unsigned, unsigned> releaseParts(const std::string &release)
{
    auto digit = [&](size_t i) {
        return i < release.size() && release[i] >= '0' && release[i] <= '9' ? unsigned(release[i] - '0') : 0u;
    };
    return {digit(0), digit(2) * 10 + digit(3)};
}

std::string hex3(uint16_t id)
{
    char text[8];
    std::snprintf(text, sizeof text, "%03x", id);
    return text;
}

std::string hex2(uint8_t byte)
{
    char text[4];
    std::snprintf(text, sizeof text, "%02X", byte);
    return text;
}

const char *phaseName(Module::Phase phase)
{
    switch (phase) {
    case Module::Phase::Idle: return "idle";
    case Module::Phase::Preparing: return "preparing";
    case Module::Phase::Update: return "update";
    case Module::Phase::Flash: return "flash";
    case Module::Phase::Compare: return "compare";
    case Module::Phase::Restarting: return "restarting";
    case Module::Phase::Dead: return "dead";
    }
    return "?";
}

} // namespace

Module::Module(ModuleConfig config)
    : cfg_(std::move(config))
    , release_(cfg_.release)
    , reupdate_(cfg_.reupdate)
{
    // One engine per kind of decision, so switching one fault on does not
    // change the draws of another.
    for (size_t i = 0; i < rng_.size(); ++i) {
        std::seed_seq seq{static_cast<uint32_t>(cfg_.seed), static_cast<uint32_t>(cfg_.seed >> 32),
                          static_cast<uint32_t>(i)};
        rng_[i].seed(seq);
    }
}

void Module::receive(const Frame &frame, int64_t nowUs)
{
    advance(nowUs);
    if (phase_ == Phase::Restarting || phase_ == Phase::Dead)
        return;
    const uint16_t id = frame.id & 0x7FF;
    const bool forUs = id == cfg_.id() || id == (cfg_.id() | 1) || id == kLogOnRequestId;
    if (forUs && chance(RxStream, cfg_.rxLossProb)) {
        note("missed a frame to " + hex3(id));
        return;
    }
    if (id == cfg_.id())
        handleOwnId(frame);
    else if (id == (cfg_.id() | 1))
        handleRequest(frame);
    else if (id == kLogOnRequestId && frame.len >= 2 && frame.data[0] == 0xD8 && frame.data[1] == 0x01)
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
    return std::exchange(events_, {});
}

bool Module::saveImage(std::string *error) const
{
    if (cfg_.imagePath.empty())
        return true;
    return saveS3File(image_, cfg_.imagePath, error);
}

void Module::handleOwnId(const Frame &frame)
{
    if (frame.len < 2)
        return;
    const uint8_t b0 = frame.data[0];
    const uint8_t b1 = frame.data[1];
    if (b0 == 0xD8 && b1 == 0x00) {
        // Log-off: whatever was under way (an update left by an aborted run
        // included) ends, so the next command 0 reports ready again.
        cancelPending();
        if (phase_ != Phase::Idle)
            note(std::string("logged off, leaving ") + phaseName(phase_) + " mode");
        else if (!loggedOff_)
            note("logged off");
        phase_ = Phase::Idle;
        loggedOff_ = true;
    } else if (b0 == 0xD8 && b1 == 0x01) {
        loggedOff_ = false;
        note("log-on noted");
    } else if (b0 == 0x12 && b1 == 0xA0) {
        note("log-on follow-up noted");
    } else if (b0 == 0x15) {
        handleUpdateCommand(b1);
    }
}

void Module::handleRequest(const Frame &frame)
{
    if (frame.len < 2)
        return;
    const uint8_t b0 = frame.data[0];
    const uint8_t b1 = frame.data[1];
    if (b0 == 0x15 && b1 == 0x00) {
        handleFlashData(frame);
        return;
    }
    if (b0 != 0x12)
        return;
    const auto [major, minor] = releaseParts(release_);
    if (b1 == 0x00) {
        const uint32_t s = cfg_.serial;
        answer({0xE0, packedDecimal(s / 10000), packedDecimal(s / 100), packedDecimal(s), static_cast<uint8_t>(major),
                packedDecimal(minor), cfg_.channels});
        note("device information requested");
    } else if (b1 == 0x01) {
        answer({0x12, 0x01, 0x00, static_cast<uint8_t>(major), static_cast<uint8_t>(minor)});
        note("firmware release requested: " + release_);
    } else if (b1 == 0x03) {
        Frame f = frameOf({0x12, 0x03});
        const std::string name = reupdate_ ? std::string() : cfg_.name;
        for (size_t i = 0; i < name.size() && i < 6; ++i)
            f.data[2 + i] = static_cast<uint8_t>(name[i]);
        f.len = static_cast<uint8_t>(2 + std::min<size_t>(name.size(), 6));
        schedule(nowUs_ + cfg_.answerDelayUs, ActionKind::Send, f);
        note("firmware name requested: \"" + name + "\"");
    }
}

void Module::handleLogOnRequest()
{
    if (logOnRequestsMissed_ < cfg_.missedLogOnRequests) {
        ++logOnRequestsMissed_;
        note("missed a log-on request");
        return;
    }
    const bool alreadyPending = std::any_of(pending_.begin(), pending_.end(), [](const auto &entry) {
        const Frame &f = entry.second.frame;
        return entry.second.kind == ActionKind::Send && f.len >= 2
               && (f.data[0] == 0xD8 || (f.data[0] == 0x15 && f.data[1] == kReupdateLogOn));
    });
    if (alreadyPending)
        return;
    if (reupdate_) {
        // Only the loader runs: it announces itself ready for an update at once.
        answer({0x15, kReupdateLogOn});
        note("log-on request: answered in re-update state");
        return;
    }
    std::uniform_int_distribution<int64_t> spread(0, int64_t(cfg_.logonDelayMs) * 1000);
    const int64_t delay = cfg_.logonDelayMs > 0 ? spread(rng_[LogOnStream]) : 0;
    schedule(nowUs_ + delay + cfg_.answerDelayUs, ActionKind::Send,
             frameOf({0xD8, kLogOnStatus, cfg_.deviceClass}));
    note("log-on request: answer in " + std::to_string(delay / 1000) + " ms");
}

void Module::handleUpdateCommand(uint8_t code)
{
    const bool inUpdate = phase_ == Phase::Update || phase_ == Phase::Flash || phase_ == Phase::Compare;
    switch (code) {
    case 0:
        if (phase_ != Phase::Idle) {
            // Only the entry reports ready: a second 15 81 would be read as the
            // answer to the next line.
            note("update command 0 repeated");
            return;
        }
        phase_ = Phase::Preparing;
        if (cfg_.neverReady) {
            note("update command 0: entering update mode, never ready");
            return;
        }
        schedule(nowUs_ + (reupdate_ ? 0 : int64_t(cfg_.readyDelayMs) * 1000) + cfg_.answerDelayUs,
                 ActionKind::Ready);
        note("update command 0: entering update mode");
        return;
    case 3:
        if (!inUpdate) {
            note("update command 3 ignored: not ready for an update");
            return;
        }
        phase_ = Phase::Flash;
        image_.clear();
        eraseUntilUs_ = nowUs_ + int64_t(cfg_.eraseDelayMs) * 1000;
        passLines_ = 0;
        lineBuf_.clear();
        lineOverflow_ = false;
        note("update command 3: erasing, flash pass");
        return;
    case 5:
        if (!inUpdate) {
            note("update command 5 ignored: not ready for an update");
            return;
        }
        phase_ = Phase::Compare;
        passLines_ = 0;
        lineBuf_.clear();
        lineOverflow_ = false;
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

void Module::restart()
{
    cancelPending();
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
    if (frame.len == 3 && frame.data[0] == 0xF4 && frame.data[1] == 0x15 && frame.data[2] == 0xE6)
        note("opening sequence noted");
    else if (frame.len == 1 && (frame.data[0] == 0xC8 || frame.data[0] == 0xCC || frame.data[0] == 0xC4))
        note("closing sequence " + hex2(frame.data[0]) + " noted");
}

void Module::handleFlashData(const Frame &frame)
{
    ++dataFrames_;
    const bool lost = cfg_.loseAckFrames.count(static_cast<int>(std::min<int64_t>(dataFrames_, INT_MAX)))
                      || chance(AckStream, cfg_.loseAckProb);
    if (lost) {
        note("flash data frame " + std::to_string(dataFrames_) + ": acknowledgement lost");
    } else if (cfg_.lateAckFrames.count(static_cast<int>(std::min<int64_t>(dataFrames_, INT_MAX)))) {
        note("flash data frame " + std::to_string(dataFrames_) + ": acknowledgement late");
        answer({0x15, 0x00}, nowUs_ + int64_t(cfg_.lateMs) * 1000);
    } else {
        answer({0x15, 0x00});
    }
    for (size_t i = 2; i < frame.len && i < frame.data.size(); ++i) {
        const uint8_t byte = frame.data[i];
        if (byte == '\n' && prevByte_ == '\r') {
            if (!lineBuf_.empty() && lineBuf_.back() == '\r')
                lineBuf_.pop_back();
            prevByte_ = 0;
            lineComplete();
            if (phase_ == Phase::Dead || phase_ == Phase::Restarting)
                return;
            continue;
        }
        if (lineBuf_.size() < kMaxLine)
            lineBuf_.push_back(static_cast<char>(byte));
        else
            lineOverflow_ = true;
        prevByte_ = byte;
    }
}

void Module::lineComplete()
{
    const std::string line = lineOverflow_ ? std::string() : lineBuf_;
    const bool overflow = lineOverflow_;
    lineBuf_.clear();
    lineOverflow_ = false;
    if (phase_ != Phase::Flash && phase_ != Phase::Compare) {
        note("line outside a pass ignored");
        return;
    }
    const int lineNo = ++passLines_;
    const bool flashing = phase_ == Phase::Flash;
    if (flashing && cfg_.dieAtLine > 0 && lineNo >= cfg_.dieAtLine) {
        cancelPending();
        phase_ = Phase::Dead;
        note("flash line " + std::to_string(lineNo) + ": dies");
        return;
    }
    uint8_t code = kChecksumError;
    if (overflow)
        note(std::string(flashing ? "flash" : "compare") + " line " + std::to_string(lineNo) + ": too long");
    else
        code = flashing ? flashLine(line, lineNo) : compareLine(line, lineNo);
    if (lineAnswerLost(lineNo)) {
        note("line " + std::to_string(lineNo) + ": answer " + hex2(code) + " lost");
        return;
    }
    int64_t notBeforeUs = eraseUntilUs_;
    if (phase_ == Phase::Flash && cfg_.lateAnswerLines.count(lineNo)) {
        note("line " + std::to_string(lineNo) + ": answer " + hex2(code) + " late");
        notBeforeUs = std::max(notBeforeUs, nowUs_ + int64_t(cfg_.lateMs) * 1000);
    }
    answer({0x15, code}, notBeforeUs);
}

// What both passes decide before their own checks: a blank line is accepted,
// a broken record is a checksum error, and a header carries the configured
// version error. None when the pass has to look at the record itself.
std::optional<uint8_t> Module::checkRecord(const std::string &line, const std::string &where, SRecord *record)
{
    if (line.empty()) {
        note(where + "blank line accepted");
        return kAccepted;
    }
    std::string why;
    if (!parseSRecord(line, record, &why)) {
        note(where + why);
        return kChecksumError;
    }
    if (record->type == 0 && cfg_.versionError != 0) {
        note(where + "header refused with " + hex2(static_cast<uint8_t>(cfg_.versionError)));
        return static_cast<uint8_t>(cfg_.versionError);
    }
    return std::nullopt;
}

uint8_t Module::flashLine(const std::string &line, int lineNo)
{
    const std::string where = "flash line " + std::to_string(lineNo) + ": ";
    if (cfg_.checksumErrorLines.count(lineNo) || chance(ChecksumStream, cfg_.checksumErrorProb)) {
        note(where + "checksum error (injected)");
        return kChecksumError;
    }
    SRecord record;
    if (const std::optional<uint8_t> verdict = checkRecord(line, where, &record))
        return *verdict;
    if (record.isData())
        image_.write(record.address, record.data);
    note(where + "S" + std::to_string(record.type) + " accepted");
    return kAccepted;
}

uint8_t Module::compareLine(const std::string &line, int lineNo)
{
    const std::string where = "compare line " + std::to_string(lineNo) + ": ";
    if (mismatches_ < cfg_.compareMismatchPasses && cfg_.compareMismatchLine == lineNo) {
        ++mismatches_;
        note(where + "mismatch (injected)");
        return kFlashError;
    }
    SRecord record;
    if (const std::optional<uint8_t> verdict = checkRecord(line, where, &record))
        return *verdict;
    if (record.isData() && !image_.matches(record.address, record.data)) {
        note(where + "differs from the image");
        return kFlashError;
    }
    note(where + "S" + std::to_string(record.type) + " matches");
    return kAccepted;
}

bool Module::lineAnswerLost(int lineNo)
{
    const bool listed = phase_ == Phase::Flash && cfg_.loseAnswerLines.count(lineNo);
    return listed || chance(AnswerStream, cfg_.loseAnswerProb);
}

void Module::schedule(int64_t dueUs, ActionKind kind, const Frame &frame)
{
    pending_.emplace(std::make_pair(dueUs, nextSeq_++), Action{kind, frame});
}

void Module::answer(std::initializer_list<uint8_t> bytes, int64_t notBeforeUs)
{
    schedule(std::max(nowUs_ + cfg_.answerDelayUs, notBeforeUs), ActionKind::Send, frameOf(bytes));
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
        transmit(frameOf({0x15, kAccepted}));
        note("ready for the update");
        return;
    case ActionKind::Boot:
        if (!cfg_.newRelease.empty())
            release_ = cfg_.newRelease;
        if (reupdate_ && !image_.empty())
            reupdate_ = false;
        loggedOff_ = false;
        if (cfg_.noLogonAfterRestart) {
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
        transmit(frameOf({0xD8, kLogOnStatus, cfg_.deviceClass}));
        note("restarted with release " + release_ + ", logged on");
        return;
    }
}

void Module::transmit(const Frame &frame)
{
    if (chance(TxStream, cfg_.txLossProb)) {
        note("frame " + hex2(frame.data[0]) + " lost on the way out");
        return;
    }
    outgoing_.push_back(frame);
}

bool Module::chance(Stream stream, double probability)
{
    if (probability <= 0.0)
        return false;
    // 53 random bits as a fraction: the same on every standard library.
    const double draw = static_cast<double>(rng_[stream]() >> 11) * 0x1.0p-53;
    return draw < probability;
}

void Module::note(const std::string &text)
{
    // A host that never takes the events must not make the module grow
    // without bound over a long bench run.
    if (events_.size() >= kMaxEvents)
        events_.erase(events_.begin(), events_.begin() + kMaxEvents / 2);
    events_.push_back("module " + hex3(cfg_.id()) + ": " + text);
}

Frame Module::frameOf(std::initializer_list<uint8_t> bytes) const
{
    Frame f;
    f.id = cfg_.sendId();
    f.len = static_cast<uint8_t>(std::min<size_t>(bytes.size(), 8));
    std::copy_n(bytes.begin(), f.len, f.data.begin());
    return f;
}

} // namespace modsim
