// The update sequence as a state machine, one function per state, and the
// ways a module or the run ends. The passes and the close are in
// updatesequencepasses.cpp.
#include "updatesequence.h"

#include "buswatch.h"
#include "console.h"
#include "debugline.h"
#include "firmwarefile.h"
#include "managecancommunication.h"
#include "modulelines.h"
#include "runlimits.h"

using runlimits::millis;

UpdateSequence::UpdateSequence(Console &console, ManageCanCommunication &communication, FirmwareFile &file,
                               Settings settings, Hooks hooks)
    : console_(console)
    , communication_(communication)
    , clock_(communication.clock())
    , file_(file)
    , settings_(std::move(settings))
    , hooks_(std::move(hooks))
    , logOnWindowCount_(runlimits::LogOnWindowPasses)
    , firstLogOnDeadline_(clock_.in(runlimits::FirstLogOn))
    , nextLogOnRequest_(clock_.in(runlimits::LogOnRequestEvery))
    , bus_(std::make_unique<BusWatch>(communication))
    , lines_(std::make_unique<PassLines>(communication, file, *bus_, console, peerName_))
{
    closeAuto_.store(settings_.closeAuto || settings_.scan);
}

UpdateSequence::~UpdateSequence() = default;

ModuleTable &UpdateSequence::modules() const
{
    return communication_.modules();
}

uint16_t UpdateSequence::currentModule() const
{
    return modules().current();
}

void UpdateSequence::run()
{
    while (!runEnded_) {
        if (!stoppedNow())
            step();
    }
}

void UpdateSequence::step()
{
    // A switch, not a table of handlers: the compiler names a state left out.
    // clang-format off
    switch (state_) {
    case UpdateState::WaitLogOn:         return waitLogOn();
    case UpdateState::Announce:          return announce();
    case UpdateState::QueryModule:       return queryModule();
    case UpdateState::CheckFirmwareName: return checkFirmwareName();
    case UpdateState::CheckSelection:    return checkSelection();
    case UpdateState::WaitReady:         return waitReady();
    case UpdateState::StartFlash:        return startFlash();
    case UpdateState::Flashing:          return flashing();
    case UpdateState::StartCompare:      return startCompare();
    case UpdateState::Comparing:         return comparing();
    case UpdateState::PostFlash:         return postFlash();
    case UpdateState::NextModule:        return nextModule();
    case UpdateState::Finish:            return finish();
    case UpdateState::WaitEnter:         return waitEnter();
    }
    // clang-format on
}

bool UpdateSequence::busLostDue()
{
    if (!bus_->lostDue())
        return false;
    stopFor(PassLines::Stop::BusLost);
    return true;
}

bool UpdateSequence::busLost()
{
    if (!bus_->lost())
        return false;
    stopFor(PassLines::Stop::BusLost);
    return true;
}

void UpdateSequence::stopFor(PassLines::Stop stop)
{
    switch (stop) {
    case PassLines::Stop::None:
        return;
    case PassLines::Stop::BusLost:
        console_.err(QStringLiteral("Error: CAN-Connection lost ")
                     + QString::fromLatin1(communication_.canStatusText()));
        noteReason(tr("the CAN connection was lost"));
        break;
    case PassLines::Stop::GivenUp:
        failModule(lines_->giveUpReason());
        return;
    case PassLines::Stop::VersionError:
        noteReason(tr("the module refused the firmware's version"));
        break;
    case PassLines::Stop::Stopped:
        stoppedNow();
        return;
    }
    runFailed_ = true;
    state_ = UpdateState::Finish;
}

void UpdateSequence::stopNow()
{
    stopNow_.store(true);
    clock_.cutWaitsShort();
}

// No new line after a stop: the line in flight is left to itself, the module
// in work is given up and named, unless it logged on again with its new
// release; one that got no update command yet is not reached, as the modules
// after it. A stop that left nothing undone fails nothing. The run closes
// without waiting for ENTER.
bool UpdateSequence::stoppedNow()
{
    if (!stopNow_.load() || state_ == UpdateState::Finish || state_ == UpdateState::WaitEnter)
        return false;
    if (state_ == UpdateState::PostFlash && modules().currentRecord().loggedOn)
        moduleUpdated();
    else if (updateBegun() && !settings_.scan)
        failModule(tr("the run was stopped"));
    stopped_ = true;
    closeAuto_.store(true);
    state_ = UpdateState::Finish;
    return true;
}

bool UpdateSequence::updateBegun() const
{
    switch (state_) {
    case UpdateState::WaitReady:
        return updateStartSent_;
    case UpdateState::StartFlash:
    case UpdateState::Flashing:
    case UpdateState::StartCompare:
    case UpdateState::Comparing:
    case UpdateState::PostFlash:
        return true;
    default:
        return false;
    }
}

bool UpdateSequence::pause(std::chrono::milliseconds duration)
{
    return clock_.pauseUntil(clock_.in(duration));
}

bool UpdateSequence::moduleInWork() const
{
    return state_ != UpdateState::WaitLogOn && state_ != UpdateState::Announce
           && state_ != UpdateState::NextModule && state_ != UpdateState::Finish
           && state_ != UpdateState::WaitEnter;
}

// Why the module in work ends without its update, for its result line.
void UpdateSequence::noteReason(const QString &reason)
{
    if (moduleInWork())
        modules().withCurrent([&reason](ModuleRecord &record) { record.reason = reason; });
}

void UpdateSequence::failSilentModule(const QString &reason)
{
    if (!busLost())
        failModule(reason);
}

void UpdateSequence::failModule(const QString &reason)
{
    DebugLine line;
    line.quoted(peerName_) << "Module";
    line.plain(QString::number(currentModule(), 16)) << "not updated:";
    console_.debug(line.plain(reason));
    modules().withCurrent([&reason](ModuleRecord &record) {
        record.failed = true;
        record.reason = reason;
    });
    state_ = UpdateState::NextModule;
}

void UpdateSequence::mark(bool ModuleRecord::*flag, bool value)
{
    modules().withCurrent([flag, value](ModuleRecord &record) { record.*flag = value; });
}

void UpdateSequence::skip(const QString &reason)
{
    state_ = UpdateState::NextModule;
    modules().withCurrent([&reason](ModuleRecord &record) {
        record.skipped = true;
        record.reason = reason;
    });
}

// The information texts name the current module and how many there are.
void UpdateSequence::inform(const char *text)
{
    hooks_.information(peerName_, tr(text).arg(currentModule()).arg(modules().count()));
}

// A module that missed a log-on request (busy, a frame lost) answers a later
// one: the request goes again once a second for as long as the window is
// open, and the window stays open until no new module has answered for its
// 300 passes. Modules already in the table answer again; that changes nothing.
void UpdateSequence::waitLogOn()
{
    if (!firstModuleSeen_ && !waitFirstLogOn())
        return;
    modules().setCurrent(modules().first().value_or(0));
    if (!pause(runlimits::LogOnWindowPass) || busLostDue())
        return;
    if (const int known = modules().count(); known > modulesKnown_) {
        modulesKnown_ = known;
        logOnWindowCount_ = runlimits::LogOnWindowPasses;
    }
    if (--logOnWindowCount_ <= 0 || clock_.now() >= logOnWindowEnd_) {
        state_ = UpdateState::Announce;
        return;
    }
    askForLogOnsDue();
}

// Woken by the first log-on; the bus is looked at once a second meanwhile.
bool UpdateSequence::waitFirstLogOn()
{
    while (!clock_.waitFor(ModuleTable::Event::AnyModule, std::min(firstLogOnDeadline_, nextLogOnRequest_))) {
        if (busLost() || stopNow_.load())
            return false;
        if (clock_.now() >= firstLogOnDeadline_) {
            console_.debug(DebugLine() << "No module logged on within"
                                       << static_cast<int>(runlimits::FirstLogOn.count()) << "seconds.");
            state_ = UpdateState::Finish;
            return false;
        }
        askForLogOnsDue();
    }
    firstModuleSeen_ = true;
    modulesKnown_ = modules().count();
    logOnWindowEnd_ = clock_.in(runlimits::LongestLogOnWindow);
    return true;
}

void UpdateSequence::askForLogOnsDue()
{
    if (stopNow_.load() || clock_.now() < nextLogOnRequest_)
        return;
    communication_.sendLogOn(protocol::BroadcastLogOnId);
    nextLogOnRequest_ = clock_.in(runlimits::LogOnRequestEvery);
}

void UpdateSequence::announce()
{
    communication_.sendOpeningSequence();
    pause(runlimits::QueryPause);
    state_ = UpdateState::QueryModule;
}

void UpdateSequence::queryModule()
{
    lines_->resetRetry();
    flashStarts_ = 0;
    readyPolls_ = 0;
    nameRequests_ = 0;
    updateStartSent_ = false;
    communication_.sendRequest1200();
    communication_.requestFirmwareRelease();
    communication_.requestFirmwareName();
    pause(runlimits::QueryPause);
    state_ = UpdateState::CheckFirmwareName;
}

// An empty name is contained in every file name, so it decides nothing: it
// may only not have arrived yet. A module that never names itself is not
// flashed (the loader of a module in re-update state has no name).
void UpdateSequence::checkFirmwareName()
{
    const ModuleRecord module = modules().currentRecord();
    const QString &name = module.firmwareName;
    const bool asking = !module.reupdate && name.isEmpty() && (selected() || settings_.scan)
                        && nameRequests_ < runlimits::NameRequests;
    if (!asking)
        console_.out(identityLine(currentModule(), module));
    if (settings_.scan && !asking) {
        skip(tr("scanned"));
    } else if (module.reupdate || (!name.isEmpty() && firmwareFits(settings_.fileName, name))) {
        state_ = UpdateState::CheckSelection;
        mark(&ModuleRecord::updateReady, false);
    } else if (!name.isEmpty()) {
        skip(tr("firmware name %1 does not fit the file").arg(name));
    } else if (!selected()) {
        skip(tr("not selected"));
    } else if (asking) {
        ++nameRequests_;
        communication_.requestFirmwareName();
        pause(runlimits::QueryPause);
    } else {
        failSilentModule(tr("no firmware name after %1 requests").arg(runlimits::NameRequests + 1));
    }
}

bool UpdateSequence::selected() const
{
    const auto id = protocol::identifierOf(currentModule());
    return settings_.canIds.isEmpty() || settings_.canIds.contains(id);
}

void UpdateSequence::checkSelection()
{
    if (selected())
        state_ = UpdateState::WaitReady;
    else
        skip(tr("not selected"));
}
