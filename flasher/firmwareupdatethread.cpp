// The update sequence as a state machine, one function per state, and the
// ways a module or the run ends.
#include "firmwareupdatethread.h"

#include "buswatch.h"
#include "console.h"
#include "debugline.h"
#include "managecancommunication.h"
#include "modulelines.h"
#include "passlines.h"
#include "runlimits.h"
#include "stopsignal.h"

#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

using runlimits::deadlineIn;
using runlimits::millis;

void FirmwareUpdateThread::run()
{
#ifdef Q_OS_LINUX
    // The pause after each flashed line is 1 ms; the default timer slack
    // would stretch every one of them by up to 50 us.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
    while (!runEnded_) {
        if (stoppedNow())
            continue;
        switch (state_) {
        case UpdateState::WaitLogOn: waitLogOn(); break;
        case UpdateState::Announce: announce(); break;
        case UpdateState::QueryModule: queryModule(); break;
        case UpdateState::CheckFirmwareName: checkFirmwareName(); break;
        case UpdateState::CheckSelection: checkSelection(); break;
        case UpdateState::WaitReady: waitReady(); break;
        case UpdateState::StartFlash: startFlash(); break;
        case UpdateState::Flashing: flashing(); break;
        case UpdateState::StartCompare: startCompare(); break;
        case UpdateState::Comparing: comparing(); break;
        case UpdateState::PostFlash: postFlash(); break;
        case UpdateState::NextModule: nextModule(); break;
        case UpdateState::Finish: finish(); break;
        case UpdateState::WaitEnter: waitEnter(); break;
        }
    }
}

bool FirmwareUpdateThread::busLostDue()
{
    if (!bus_->lostDue())
        return false;
    stopFor(PassLines::Stop::BusLost);
    return true;
}

bool FirmwareUpdateThread::busLost()
{
    if (!bus_->lost())
        return false;
    stopFor(PassLines::Stop::BusLost);
    return true;
}

void FirmwareUpdateThread::stopFor(PassLines::Stop stop)
{
    switch (stop) {
    case PassLines::Stop::None: return;
    case PassLines::Stop::BusLost:
        console_.err(QStringLiteral("Error: CAN-Connection lost ")
                     + QString::fromLatin1(communication_->canStatusText()));
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

void FirmwareUpdateThread::stopNow()
{
    stopNow_.store(true);
    modules().cutWaitsShort();
}

// No new line after a stop: the line in flight is left to itself, the module
// in work is given up and named, unless it logged on again with its new
// release; one that got no update command yet is not reached, as the modules
// after it. A stop that left nothing undone fails nothing. The run closes
// without waiting for ENTER.
bool FirmwareUpdateThread::stoppedNow()
{
    if (!stopNow_.load() || state_ == UpdateState::Finish || state_ == UpdateState::WaitEnter)
        return false;
    if (state_ == UpdateState::PostFlash && modules().currentRecord().loggedOn)
        moduleUpdated();
    else if (updateBegun() && !scan_)
        failModule(tr("the run was stopped"));
    stopped_ = true;
    closeAuto_.store(true);
    state_ = UpdateState::Finish;
    return true;
}

bool FirmwareUpdateThread::updateBegun() const
{
    switch (state_) {
    case UpdateState::WaitReady: return updateStartSent_;
    case UpdateState::StartFlash:
    case UpdateState::Flashing:
    case UpdateState::StartCompare:
    case UpdateState::Comparing:
    case UpdateState::PostFlash: return true;
    default: return false;
    }
}

bool FirmwareUpdateThread::pause(std::chrono::milliseconds duration)
{
    return modules().pause(deadlineIn(duration));
}

bool FirmwareUpdateThread::moduleInWork() const
{
    return state_ != UpdateState::WaitLogOn && state_ != UpdateState::Announce
           && state_ != UpdateState::NextModule && state_ != UpdateState::Finish
           && state_ != UpdateState::WaitEnter;
}

// Why the module in work ends without its update, for its result line.
void FirmwareUpdateThread::noteReason(const QString &reason)
{
    if (moduleInWork())
        modules().withCurrent([&reason](ModuleRecord &record) { record.reason = reason; });
}

void FirmwareUpdateThread::failSilentModule(const QString &reason)
{
    if (!busLost())
        failModule(reason);
}

void FirmwareUpdateThread::failModule(const QString &reason)
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

void FirmwareUpdateThread::mark(bool ModuleRecord::*flag, bool value)
{
    modules().withCurrent([flag, value](ModuleRecord &record) { record.*flag = value; });
}

void FirmwareUpdateThread::skip(const QString &reason)
{
    state_ = UpdateState::NextModule;
    modules().withCurrent([&reason](ModuleRecord &record) {
        record.skipped = true;
        record.reason = reason;
    });
}

// The information texts name the current module and how many there are.
void FirmwareUpdateThread::inform(const char *text)
{
    emit information(peerName_, tr(text).arg(currentModule()).arg(modules().count()));
}

// A module that missed a log-on request (busy, a frame lost) answers a later
// one: the request goes again once a second for as long as the window is
// open, and the window stays open until no new module has answered for its
// 300 passes. Modules already in the table answer again; that changes nothing.
void FirmwareUpdateThread::waitLogOn()
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
    if (--logOnWindowCount_ <= 0 || logOnWindowEnd_.hasExpired()) {
        state_ = UpdateState::Announce;
        return;
    }
    askForLogOnsDue();
}

// Woken by the first log-on; the bus is looked at once a second meanwhile.
bool FirmwareUpdateThread::waitFirstLogOn()
{
    while (!modules().waitFor(ModuleTable::Event::AnyModule,
                              std::min(firstLogOnDeadline_, nextLogOnRequest_))) {
        if (busLost() || stopNow_.load())
            return false;
        if (firstLogOnDeadline_.hasExpired()) {
            console_.debug(DebugLine() << "No module logged on within"
                                       << static_cast<int>(runlimits::FirstLogOn.count())
                                       << "seconds.");
            state_ = UpdateState::Finish;
            return false;
        }
        askForLogOnsDue();
    }
    firstModuleSeen_ = true;
    modulesKnown_ = modules().count();
    logOnWindowEnd_ = deadlineIn(runlimits::LongestLogOnWindow);
    return true;
}

void FirmwareUpdateThread::askForLogOnsDue()
{
    if (stopNow_.load() || !nextLogOnRequest_.hasExpired())
        return;
    communication_->sendLogOn(protocol::BroadcastLogOnId);
    nextLogOnRequest_ = deadlineIn(runlimits::LogOnRequestEvery);
}

void FirmwareUpdateThread::announce()
{
    communication_->sendOpeningSequence();
    pause(runlimits::QueryPause);
    state_ = UpdateState::QueryModule;
}

void FirmwareUpdateThread::queryModule()
{
    lines_->resetRetry();
    flashStarts_ = 0;
    readyPolls_ = 0;
    nameRequests_ = 0;
    updateStartSent_ = false;
    communication_->sendRequest1200();
    communication_->requestFirmwareRelease();
    communication_->requestFirmwareName();
    pause(runlimits::QueryPause);
    state_ = UpdateState::CheckFirmwareName;
}

// An empty name is contained in every file name, so it decides nothing: it
// may only not have arrived yet. A module that never names itself is not
// flashed (the loader of a module in re-update state has no name).
void FirmwareUpdateThread::checkFirmwareName()
{
    const ModuleRecord module = modules().currentRecord();
    const QString &name = module.firmwareName;
    const bool asking = !module.reupdate && name.isEmpty() && (selected() || scan_)
                        && nameRequests_ < runlimits::NameRequests;
    if (!asking)
        console_.out(identityLine(currentModule(), module));
    if (scan_ && !asking) {
        skip(tr("scanned"));
    } else if (module.reupdate || (!name.isEmpty() && firmwareFits(fileName_, name))) {
        state_ = UpdateState::CheckSelection;
        mark(&ModuleRecord::updateReady, false);
    } else if (!name.isEmpty()) {
        skip(tr("firmware name %1 does not fit the file").arg(name));
    } else if (!selected()) {
        skip(tr("not selected"));
    } else if (asking) {
        ++nameRequests_;
        communication_->requestFirmwareName();
        pause(runlimits::QueryPause);
    } else {
        failSilentModule(tr("no firmware name after %1 requests").arg(runlimits::NameRequests + 1));
    }
}

bool FirmwareUpdateThread::selected() const
{
    const auto id = protocol::identifierOf(currentModule());
    return canIds_.isEmpty() || canIds_.contains(id);
}

void FirmwareUpdateThread::checkSelection()
{
    if (selected())
        state_ = UpdateState::WaitReady;
    else
        skip(tr("not selected"));
}

void FirmwareUpdateThread::waitReady()
{
    if (modules().currentRecord().updateReady) {
        communication_->sendUpdateCommand(protocol::Announce);
        // A module that refuses the update for its version must not be flashed.
        stopFor(lines_->takeQueuedCodes());
        if (state_ != UpdateState::Finish)
            state_ = UpdateState::StartFlash;
        updateStartSent_ = false;
        return;
    }
    if (readyPolls_++ >= runlimits::ReadyPolls) {
        failSilentModule(tr("no ready report within %1 seconds")
                       .arg(runlimits::ReadyPolls * millis(runlimits::ReadyPoll) / 1000));
        return;
    }
    if (!updateStartSent_) {
        communication_->sendUpdateCommand(protocol::Announce);
        updateStartSent_ = true;
    }
    if (pause(runlimits::ReadyPoll))
        busLostDue();
}

void FirmwareUpdateThread::startFlash()
{
    if (++flashStarts_ > runlimits::FlashRestarts + 1) {
        failModule(tr("flashing restarted %1 times").arg(runlimits::FlashRestarts));
        return;
    }
    startPass(protocol::Flash, PassLines::Pass::Flash, QT_TR_NOOP("Flashing %1 of %2"));
}

// Both passes send the file from its first line, after their update command
// and the pause the modules need to switch.
void FirmwareUpdateThread::startPass(protocol::UpdateCommand command, PassLines::Pass pass,
                                     const char *label)
{
    communication_->sendUpdateCommand(command);
    if (!pause(runlimits::PhasePause) || busLost())
        return;
    lines_->beginPass(pass);
    state_ = pass == PassLines::Pass::Flash ? UpdateState::Flashing : UpdateState::Comparing;
    sendLine();
    inform(label);
}

PassLines::Sent FirmwareUpdateThread::sendLine()
{
    const PassLines::Sent sent = lines_->send();
    if (sent == PassLines::Sent::Line)
        emit progress(lines_->percent());
    else if (sent == PassLines::Sent::Stopped)
        stopFor(lines_->stop());
    return sent;
}

// True when the next line, or the same one again, may go out. A flash error
// takes effect after this pass of the state machine, so that the line after
// an accepted one still goes out first.
bool FirmwareUpdateThread::lineAnswered()
{
    const PassLines::Result result = lines_->check();
    if (result.flashError)
        state_ = UpdateState::StartFlash;
    stopFor(result.stop);
    return result.go;
}

void FirmwareUpdateThread::flashing()
{
    if (!lineAnswered() || stopNow_.load())
        return;
    switch (sendLine()) {
    case PassLines::Sent::Line:
        QThread::msleep(millis(runlimits::AfterFlashedLine));
        break;
    case PassLines::Sent::EndOfFile:
        // A flash error that came with the last line's acceptance still wins.
        if (state_ == UpdateState::Flashing)
            state_ = UpdateState::StartCompare;
        break;
    case PassLines::Sent::Stopped:
        break;
    }
}

void FirmwareUpdateThread::startCompare()
{
    startPass(protocol::Compare, PassLines::Pass::Compare, QT_TR_NOOP("Comparing %1 of %2"));
}

void FirmwareUpdateThread::comparing()
{
    if (lineAnswered() && !stopNow_.load() && sendLine() == PassLines::Sent::EndOfFile
        && state_ == UpdateState::Comparing)
        state_ = UpdateState::PostFlash;
}

void FirmwareUpdateThread::postFlash()
{
    if (busLost())
        return;
    inform(QT_TR_NOOP("Postflash %1 of %2"));
    communication_->sendUpdateCommand(protocol::Restart);
    console_.out(QStringLiteral("\nPostFlash "));
    for (int poll = 1;; ++poll) {
        const bool paused = pause(runlimits::PostFlashPoll);
        if (poll == 1)
            communication_->sendPatternFrame();
        if (modules().currentRecord().loggedOn)
            break;
        if (poll >= runlimits::PostFlashPolls) {
            failSilentModule(tr("no log-on within %1 seconds after the restart")
                           .arg(runlimits::PostFlashPolls * millis(runlimits::PostFlashPoll) / 1000));
            return;
        }
        if (!paused || busLostDue())
            return;
    }
    moduleUpdated();
    nextModule();
}

// Its log-on after the restart shows the new release runs: the module is
// updated, and its closing sequence goes out as after every post-flash.
void FirmwareUpdateThread::moduleUpdated()
{
    mark(&ModuleRecord::done);
    communication_->sendClosingSequence();
}

void FirmwareUpdateThread::nextModule()
{
    if (stopAfterModule_.exchange(false)) {
        inform(QT_TR_NOOP("Stopped after %1 of %2."));
        state_ = UpdateState::Finish;
        return;
    }
    if (const auto id = modules().nextPending()) {
        modules().setCurrent(*id);
        state_ = UpdateState::QueryModule;
        return;
    }
    const int count = modules().count();
    if (scan_) {
        state_ = UpdateState::Finish;
        return;
    }
    emit information(peerName_, tr("%1 of %1 completed.").arg(count));
    console_.debug(DebugLine() << count << " of " << count << "completed.");
    state_ = UpdateState::Finish;
}

// The front end ends the program at the verdict's "Error:" line, so with
// CLOSE_AUTO the verdict follows the closing sequence; without, it comes
// before the prompt, so that whoever presses ENTER to close the window has
// read it.
void FirmwareUpdateThread::finish()
{
    if (closeAuto_.load()) {
        closeRun();
        reportOutcome();
        return;
    }
    reportOutcome();
    console_.debug(DebugLine() << "Push <ENTER> key to close terminal window");
    state_ = UpdateState::WaitEnter;
}

// A stop signal counts as ENTER: the verdict is out, only the closing
// sequence is left.
void FirmwareUpdateThread::waitEnter()
{
    stopsignal::waitForEnter();
    closeRun();
}

void FirmwareUpdateThread::closeRun()
{
    communication_->sendClosingSequence();
    communication_->stopReceiving();
    runEnded_ = true;
}

