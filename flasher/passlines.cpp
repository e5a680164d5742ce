// The update thread's steps for the lines of a pass: reading and sending a
// line, and judging the module's answers to it by the line check and the
// retry rules.
#include "firmwareupdatethread.h"

#include "console.h"
#include "debugline.h"
#include "linecheck.h"
#include "linetext.h"
#include "managecancommunication.h"
#include "progressline.h"
#include "runlimits.h"

using runlimits::deadlineIn;
using runlimits::millis;

std::function<bool(uint8_t &)> FirmwareUpdateThread::codes()
{
    return [this](uint8_t &code) {
        return modules().withCurrent([&code](ModuleRecord &record) { return record.takeError(code); });
    };
}

FirmwareUpdateThread::LineSend FirmwareUpdateThread::sendNextLine()
{
    if (!retry_.takeRepeat()) {
        if (const LineSend read = readNextLine(); read != LineSend::Sent)
            return read;
    }
    if (busLostDue())
        return LineSend::Failed;
    // A frame that is not acknowledged counts as a line timeout: the line
    // goes again from its first frame, once per timeout reported.
    while (!transmitCurrentLine()) {
        if (!lineTimedOut())
            return LineSend::Failed;
    }
    const qint64 position = file_.position();
    emit progress(progressline::percent(position, file_.size()));
    console_.out(progressline::line(state_ == UpdateState::Flashing, currentModule(), position,
                                    file_.size(), currentLine_));
    lineAnswerDeadline_ = deadlineIn(runlimits::LineAnswer);
    return LineSend::Sent;
}

// Sent: a new line is in currentLine_, not sent yet.
FirmwareUpdateThread::LineSend FirmwareUpdateThread::readNextLine()
{
    switch (file_.next(currentLine_)) {
    case FirmwareFile::Read::Line: return LineSend::Sent;
    case FirmwareFile::Read::End: return LineSend::EndOfFile;
    case FirmwareFile::Read::Changed: failChangedFile(); break;
    case FirmwareFile::Read::Unreadable:
        runFailed_ = true;
        failModule(tr("the firmware file cannot be read"), UpdateState::Finish);
        break;
    }
    return LineSend::Failed;
}

bool FirmwareUpdateThread::transmitCurrentLine()
{
    communication_->startLineTransfer(currentLine_);
    return communication_->waitLineTransferred(
        std::chrono::duration_cast<std::chrono::milliseconds>(runlimits::FrameAck));
}

bool FirmwareUpdateThread::lineTimedOut()
{
    console_.debug(linecheck::timeoutMessage(peerName_, linetext::withoutLineEnd(currentLine_)));
    if (busLost())
        return false;
    if (!retry_.refused()) {
        failModule(tr("line refused %1 times in a row").arg(runlimits::RefusalsInARow));
        return false;
    }
    QThread::msleep(millis(runlimits::TimeoutPause));
    if (busLost())
        return false;
    // An answer to the timed-out transfer that came late must not pass for
    // the answer to its repeat, nor to the line after it.
    modules().withCurrent([](ModuleRecord &record) { record.errors.clear(); });
    return true;
}

bool FirmwareUpdateThread::checkLineResult()
{
    const QByteArray lineText = linetext::withoutLineEnd(currentLine_);
    for (;;) {
        const linecheck::Verdict verdict = linecheck::evaluate(codes(), peerName_, lineText);
        for (const DebugLine &message : verdict.messages)
            console_.debug(message);
        if (verdict.versionError != linecheck::VersionError::None) {
            runFailed_ = true;
            state_ = UpdateState::Finish;
            return false;
        }
        if (verdict.flashError)
            state_ = UpdateState::StartFlash;
        if (verdict.answered)
            return lineAnswered(verdict);
        if (verdict.flashError)
            return false;
        if (!modules().waitFor(ModuleTable::Event::ErrorQueued,
                                     lineAnswerDeadline_)) {
            if (!lineTimedOut())
                return false;
            retry_.requestRepeat();
            return true;
        }
    }
}

bool FirmwareUpdateThread::lineAnswered(const linecheck::Verdict &verdict)
{
    if (!verdict.repeatLine) {
        retry_.accepted();
        return true;
    }
    if (!retry_.refused(verdict.refusals)) {
        failModule(tr("line refused %1 times in a row").arg(runlimits::RefusalsInARow));
        return false;
    }
    retry_.requestRepeat();
    return true;
}

void FirmwareUpdateThread::processQueuedCodes()
{
    const linecheck::Verdict verdict =
        linecheck::evaluate(codes(), peerName_, linetext::withoutLineEnd(currentLine_));
    for (const DebugLine &message : verdict.messages)
        console_.debug(message);
    // A module that refuses the update for its version must not be flashed.
    if (verdict.versionError != linecheck::VersionError::None) {
        runFailed_ = true;
        state_ = UpdateState::Finish;
    }
}
