// The update sequence's later states: the ready report, the flash and compare
// passes, the restart, and how the run closes and reports its outcome.
#include "updatesequence.h"

#include "buswatch.h"
#include "console.h"
#include "debugline.h"
#include "managecancommunication.h"
#include "modulelines.h"
#include "runlimits.h"
#include "runoutcome.h"

using runlimits::millis;

void UpdateSequence::waitReady()
{
    if (modules().currentRecord().updateReady) {
        communication_.sendUpdateCommand(protocol::Announce);
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
        communication_.sendUpdateCommand(protocol::Announce);
        updateStartSent_ = true;
    }
    if (pause(runlimits::ReadyPoll))
        busLostDue();
}

void UpdateSequence::startFlash()
{
    if (++flashStarts_ > runlimits::FlashRestarts + 1) {
        failModule(tr("flashing restarted %1 times").arg(runlimits::FlashRestarts));
        return;
    }
    startPass(protocol::Flash, PassLines::Pass::Flash, QT_TR_NOOP("Flashing %1 of %2"));
}

// Both passes send the file from its first line, after their update command
// and the pause the modules need to switch.
void UpdateSequence::startPass(protocol::UpdateCommand command, PassLines::Pass pass, const char *label)
{
    communication_.sendUpdateCommand(command);
    if (!pause(runlimits::PhasePause) || busLost())
        return;
    lines_->beginPass(pass);
    state_ = pass == PassLines::Pass::Flash ? UpdateState::Flashing : UpdateState::Comparing;
    sendLine();
    inform(label);
}

PassLines::Sent UpdateSequence::sendLine()
{
    const PassLines::Sent sent = lines_->send();
    if (sent == PassLines::Sent::Line)
        hooks_.progress(lines_->percent());
    else if (sent == PassLines::Sent::Stopped)
        stopFor(lines_->stop());
    return sent;
}

// True when the next line, or the same one again, may go out. A flash error
// takes effect after this pass of the state machine, so that the line after
// an accepted one still goes out first.
bool UpdateSequence::lineAnswered()
{
    const PassLines::Result result = lines_->check();
    if (result.flashError)
        state_ = UpdateState::StartFlash;
    stopFor(result.stop);
    return result.go;
}

void UpdateSequence::flashing()
{
    if (!lineAnswered() || stopNow_.load())
        return;
    switch (sendLine()) {
    case PassLines::Sent::Line:
        clock_.sleepUntil(clock_.in(runlimits::AfterFlashedLine));
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

void UpdateSequence::startCompare()
{
    startPass(protocol::Compare, PassLines::Pass::Compare, QT_TR_NOOP("Comparing %1 of %2"));
}

void UpdateSequence::comparing()
{
    if (lineAnswered() && !stopNow_.load() && sendLine() == PassLines::Sent::EndOfFile
        && state_ == UpdateState::Comparing)
        state_ = UpdateState::PostFlash;
}

void UpdateSequence::postFlash()
{
    if (busLost())
        return;
    inform(QT_TR_NOOP("Postflash %1 of %2"));
    communication_.sendUpdateCommand(protocol::Restart);
    console_.out(QStringLiteral("\nPostFlash "));
    for (int poll = 1;; ++poll) {
        const bool paused = pause(runlimits::PostFlashPoll);
        if (poll == 1)
            communication_.sendPatternFrame();
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
void UpdateSequence::moduleUpdated()
{
    mark(&ModuleRecord::done);
    communication_.sendClosingSequence();
}

void UpdateSequence::nextModule()
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
    if (settings_.scan) {
        state_ = UpdateState::Finish;
        return;
    }
    hooks_.information(peerName_, tr("%1 of %1 completed.").arg(count));
    console_.debug(DebugLine() << count << " of " << count << "completed.");
    state_ = UpdateState::Finish;
}

// The front end ends the program at the verdict's "Error:" line, so with
// CLOSE_AUTO the verdict follows the closing sequence; without, it comes
// before the prompt, so that whoever presses ENTER to close the window has
// read it.
void UpdateSequence::finish()
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
void UpdateSequence::waitEnter()
{
    hooks_.waitForEnter();
    closeRun();
}

void UpdateSequence::closeRun()
{
    communication_.sendClosingSequence();
    communication_.stopReceiving();
    runEnded_ = true;
}

// One result line per module, then the verdict, which the front end takes
// for the end of the run.
void UpdateSequence::reportOutcome()
{
    if (settings_.scan) {
        const int found = modules().count();
        succeeded_ = found > 0 && !stopped_;
        if (stopped_)
            console_.err(
                tr("Error: Scan stopped, %1 %2 found").arg(found).arg(found == 1 ? tr("module") : tr("modules")));
        else if (!succeeded_)
            console_.err(tr("Error: No module logged on"));
        return;
    }
    for (uint16_t id : modules().ids())
        console_.out(resultLine(id, modules().with(id, [](const ModuleRecord &record) { return record; })));
    const runoutcome::Outcome outcome =
        runoutcome::judge({modules().ids(), modules().notUpdated(), modules().doneCount(), settings_.canIds,
                           settings_.canLine, runFailed_, stopped_});
    for (const QString &error : outcome.errors)
        console_.err(error);
    succeeded_ = outcome.succeeded;
}
