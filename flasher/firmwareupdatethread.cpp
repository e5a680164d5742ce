// The update thread runs the sequence; the pacing of the console program is
// the steady clock's.
#include "firmwareupdatethread.h"

#include "stopsignal.h"
#include "updatesequence.h"

#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

void FirmwareUpdateThread::run()
{
#ifdef Q_OS_LINUX
    // The pause after each flashed line is 1 ms; the default timer slack
    // would stretch every one of them by up to 50 us.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
    sequence_->run();
}

bool FirmwareUpdateThread::runSucceeded() const
{
    return sequence_ && sequence_->succeeded();
}

void FirmwareUpdateThread::setCloseAuto(bool closeAuto)
{
    closeAuto_ = closeAuto;
    if (sequence_)
        sequence_->setCloseAuto(closeAuto);
}

void FirmwareUpdateThread::stop()
{
    stopAfterModule_.store(true);
    if (sequence_)
        sequence_->stopAfterModule();
}

void FirmwareUpdateThread::stopNow()
{
    if (sequence_)
        sequence_->stopNow();
}
