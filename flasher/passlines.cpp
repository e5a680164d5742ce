#include "passlines.h"

#include "buswatch.h"
#include "console.h"
#include "firmwarefile.h"
#include "linecheck.h"
#include "linetext.h"
#include "managecancommunication.h"
#include "progressline.h"
#include "runlimits.h"

PassLines::PassLines(ManageCanCommunication &communication, FirmwareFile &file, BusWatch &bus, Console &console,
                     const QString &peerName)
    : communication_(communication)
    , clock_(communication.clock())
    , file_(file)
    , bus_(bus)
    , console_(console)
    , peerName_(peerName)
{}

std::function<bool(uint8_t &)> PassLines::codes()
{
    return [this](uint8_t &code) {
        return communication_.modules().withCurrent(
            [&code](ModuleRecord &record) { return record.takeError(code); });
    };
}

void PassLines::beginPass(Pass pass)
{
    communication_.modules().withCurrent([](ModuleRecord &record) { record.errors.clear(); });
    retry_.reset();
    file_.rewind();
    pass_ = pass;
}

QString PassLines::giveUpReason() const
{
    return linecheck::giveUpReason(retry_.refusals(), retry_.timeouts());
}

PassLines::Sent PassLines::stopped(Stop stop)
{
    stop_ = stop;
    return Sent::Stopped;
}

PassLines::Sent PassLines::send()
{
    if (!retry_.takeRepeat() && !file_.next(firmwareLine_))
        return Sent::EndOfFile;
    if (bus_.lostDue())
        return stopped(Stop::BusLost);
    // A frame that is not acknowledged counts as a line timeout: the line
    // goes again from its first frame, once per timeout reported.
    while (!transmit()) {
        if (const Stop stop = timedOut(); stop != Stop::None)
            return stopped(stop);
    }
    console_.out(progressline::line(pass_ == Pass::Flash, communication_.modules().current(), file_.position(),
                                    file_.size(), firmwareLine_));
    answerDeadline_ = clock_.in(runlimits::LineAnswer);
    return Sent::Line;
}

int PassLines::percent() const
{
    return progressline::percent(file_.position(), file_.size());
}

bool PassLines::transmit()
{
    communication_.startLineTransfer(firmwareLine_);
    return communication_.waitLineTransferred(
        std::chrono::duration_cast<std::chrono::milliseconds>(runlimits::FrameAck));
}

// The timeout notice is written only once it is settled what follows: a
// repeat after the pause, the module given up, or (without a notice of its
// own) the lost bus, which the run reports.
PassLines::Stop PassLines::timedOut()
{
    const QByteArray lineText = linetext::withoutLineEnd(firmwareLine_);
    if (bus_.lost())
        return Stop::BusLost;
    if (!retry_.timedOut()) {
        console_.debug(linecheck::timeoutMessage(peerName_, lineText, false));
        return Stop::GivenUp;
    }
    if (!clock_.pauseUntil(clock_.in(runlimits::TimeoutPause)))
        return Stop::Stopped;
    if (bus_.lost())
        return Stop::BusLost;
    console_.debug(linecheck::timeoutMessage(peerName_, lineText, true));
    // An answer to the timed-out transfer that came late must not pass for
    // the answer to its repeat, nor to the line after it.
    communication_.modules().withCurrent([](ModuleRecord &record) { record.errors.clear(); });
    return Stop::None;
}

void PassLines::report(const linecheck::Verdict &verdict)
{
    for (const DebugLine &message : verdict.messages)
        console_.debug(message);
}

PassLines::Result PassLines::check()
{
    const QByteArray lineText = linetext::withoutLineEnd(firmwareLine_);
    Result result;
    for (;;) {
        const linecheck::Verdict verdict = linecheck::evaluate(codes(), peerName_, lineText, retry_.left());
        report(verdict);
        if (verdict.versionError != linecheck::VersionError::None) {
            result.stop = Stop::VersionError;
            return result;
        }
        // A flash error wins over an acceptance that came with it, but the
        // line after the accepted one still goes out first.
        result.flashError = verdict.flashError;
        if (verdict.answered)
            return answered(verdict, result);
        if (verdict.flashError)
            return result;
        if (!clock_.waitFor(ModuleTable::Event::ErrorQueued, answerDeadline_)) {
            result.stop = timedOut();
            result.go = result.stop == Stop::None;
            if (result.go)
                retry_.requestRepeat();
            return result;
        }
    }
}

PassLines::Result PassLines::answered(const linecheck::Verdict &verdict, Result result)
{
    if (!verdict.repeatLine) {
        retry_.accepted();
        result.go = true;
    } else if (!retry_.refused(verdict.refusals)) {
        result.stop = Stop::GivenUp;
    } else {
        retry_.requestRepeat();
        result.go = true;
    }
    return result;
}

PassLines::Stop PassLines::takeQueuedCodes()
{
    const linecheck::Verdict verdict =
        linecheck::evaluate(codes(), peerName_, linetext::withoutLineEnd(firmwareLine_), retry_.left());
    report(verdict);
    return verdict.versionError != linecheck::VersionError::None ? Stop::VersionError : Stop::None;
}
