#include "firmwareupdatethread.h"

#include "commandline.h"
#include "console.h"
#include "debugline.h"
#include "managecancommunication.h"
#include "runoutcome.h"
#include "runlimits.h"

#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

#include <cstdio>

using runlimits::deadlineIn;
using runlimits::millis;

namespace {

QString hexId(uint16_t id)
{
    return QString::number(id, 16);
}

} // namespace

FirmwareUpdateThread::FirmwareUpdateThread(Console &console, QObject *parent)
    : QThread(parent), console_(console), logOnWindowCount_(runlimits::LogOnWindowPasses)
{
    setObjectName(QStringLiteral("tarvUpdate"));
}

FirmwareUpdateThread::~FirmwareUpdateThread()
{
    wait();
    delete communication_;
}

ModuleTable &FirmwareUpdateThread::modules() const
{
    return communication_->modules();
}

uint16_t FirmwareUpdateThread::currentModule() const
{
    return modules().current();
}

void FirmwareUpdateThread::setCanIds(const QString &list)
{
    canIds_ = parseCanIds(list).value_or(QList<uint16_t>());
}

bool FirmwareUpdateThread::startUpdate(const char *interfaceName, int bitRate, int canLine,
                                       const QString &fileName, const CanDriverFunctions *driver)
{
    fileName_ = fileName;
    canLine_ = static_cast<uint16_t>(canLine);
    // Refused before any CAN activity: a module must never enter update mode
    // for a file that cannot be flashed.
    if (const QString problem = file_.open(fileName); !problem.isEmpty()) {
        console_.err(problem);
        return false;
    }
    communication_ = driver ? new ManageCanCommunication(*driver, console_, this)
                            : new ManageCanCommunication(console_, this);
    if (!communication_->initCanInterface(interfaceName, static_cast<uint16_t>(bitRate),
                                          static_cast<uint16_t>(canLine)))
        return false;
    state_ = UpdateState::WaitLogOn;
    firstLogOnDeadline_ = deadlineIn(runlimits::FirstLogOn);
    start();
    return true;
}

void FirmwareUpdateThread::failChangedFile()
{
    runFailed_ = true;
    failModule(tr("the firmware file changed during the run"), UpdateState::Finish);
}

void FirmwareUpdateThread::run()
{
#ifdef Q_OS_LINUX
    // The pause after each flashed line is 1 ms; the default timer slack
    // would stretch every one of them by up to 50 us.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
    while (!runEnded_) {
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
    reportOutcome();
}

bool FirmwareUpdateThread::busLostDue()
{
    if (sinceBusCheck_.isValid()
        && std::chrono::milliseconds(sinceBusCheck_.elapsed()) < runlimits::BusStatusEvery)
        return false;
    return busLost();
}

bool FirmwareUpdateThread::busLost()
{
    sinceBusCheck_.start();
    if (!communication_->connectionLost())
        return false;
    console_.err(QStringLiteral("Error: CAN-Connection lost ")
                 + QString::fromLatin1(communication_->canStatusText()));
    runFailed_ = true;
    state_ = UpdateState::Finish;
    return true;
}

void FirmwareUpdateThread::failModule(const QString &reason, UpdateState next)
{
    DebugLine line;
    line.quoted(peerName_) << "Module";
    line.plain(hexId(currentModule())) << "not updated:";
    console_.debug(line.plain(reason));
    modules().withCurrent([](ModuleRecord &record) { record.failed = true; });
    state_ = next;
}

void FirmwareUpdateThread::waitLogOn()
{
    if (!firstModuleSeen_) {
        // Woken by the first log-on; the bus is looked at once a second meanwhile.
        while (!modules().waitFor(ModuleTable::Event::AnyModule,
                                        std::min(firstLogOnDeadline_,
                                                 deadlineIn(runlimits::BusStatusEvery)))) {
            if (busLost())
                return;
            if (firstLogOnDeadline_.hasExpired()) {
                console_.debug(DebugLine() << "No module logged on within"
                                           << static_cast<int>(runlimits::FirstLogOn.count())
                                           << "seconds.");
                state_ = UpdateState::Finish;
                return;
            }
        }
        firstModuleSeen_ = true;
    }
    modules().setCurrent(modules().first().value_or(0));
    QThread::msleep(millis(runlimits::LogOnWindowPass));
    if (busLostDue())
        return;
    if (--logOnWindowCount_ <= 0)
        state_ = UpdateState::Announce;
}

void FirmwareUpdateThread::announce()
{
    communication_->sendOpeningSequence();
    QThread::msleep(millis(runlimits::QueryPause));
    state_ = UpdateState::QueryModule;
}

void FirmwareUpdateThread::queryModule()
{
    retry_.reset();
    flashStarts_ = 0;
    readyPolls_ = 0;
    nameRequests_ = 0;
    updateStartSent_ = false;
    communication_->sendRequest1200();
    communication_->requestFirmwareRelease();
    communication_->requestFirmwareName();
    QThread::msleep(millis(runlimits::QueryPause));
    state_ = UpdateState::CheckFirmwareName;
}

// An empty name is contained in every file name, so it decides nothing: it
// may only not have arrived yet. A module that never names itself is not
// flashed (the loader of a module in re-update state has no name).
void FirmwareUpdateThread::checkFirmwareName()
{
    const ModuleRecord module = modules().currentRecord();
    const QString &name = module.firmwareName;
    if (module.reupdate || (!name.isEmpty() && fileName_.contains(name))) {
        state_ = UpdateState::CheckSelection;
        modules().withCurrent([](ModuleRecord &record) { record.updateReady = false; });
    } else if (!name.isEmpty() || !selected()) {
        state_ = UpdateState::NextModule;
        modules().withCurrent([](ModuleRecord &record) { record.skipped = true; });
    } else if (nameRequests_++ < runlimits::NameRequests) {
        communication_->requestFirmwareName();
        QThread::msleep(millis(runlimits::QueryPause));
    } else {
        failModule(tr("no firmware name after %1 requests").arg(runlimits::NameRequests + 1));
    }
}

bool FirmwareUpdateThread::selected() const
{
    const auto id = protocol::identifierOf(currentModule());
    return canIds_.isEmpty() || canIds_.contains(id);
}

void FirmwareUpdateThread::checkSelection()
{
    if (selected()) {
        state_ = UpdateState::WaitReady;
    } else {
        state_ = UpdateState::NextModule;
        modules().withCurrent([](ModuleRecord &record) { record.skipped = true; });
    }
}

void FirmwareUpdateThread::waitReady()
{
    if (modules().currentRecord().updateReady) {
        communication_->sendUpdateCommand(protocol::Announce);
        processQueuedCodes();
        if (state_ != UpdateState::Finish)
            state_ = UpdateState::StartFlash;
        updateStartSent_ = false;
        return;
    }
    if (readyPolls_++ >= runlimits::ReadyPolls) {
        failModule(tr("no ready report within %1 seconds")
                       .arg(runlimits::ReadyPolls * millis(runlimits::ReadyPoll) / 1000));
        return;
    }
    if (!updateStartSent_) {
        communication_->sendUpdateCommand(protocol::Announce);
        updateStartSent_ = true;
    }
    QThread::msleep(millis(runlimits::ReadyPoll));
    busLostDue();
}

void FirmwareUpdateThread::startFlash()
{
    if (++flashStarts_ > runlimits::FlashRestarts + 1) {
        failModule(tr("flashing restarted %1 times").arg(runlimits::FlashRestarts));
        return;
    }
    startPass(protocol::Flash, UpdateState::Flashing, tr("Flashing %1 of %2"));
}

// Both passes send the file from its first line, after their update command
// and the pause the modules need to switch.
void FirmwareUpdateThread::startPass(protocol::UpdateCommand command, UpdateState pass,
                                     const QString &label)
{
    communication_->sendUpdateCommand(command);
    QThread::msleep(millis(runlimits::PhasePause));
    if (busLost())
        return;
    // Codes still queued cannot answer this pass's first line.
    modules().withCurrent([](ModuleRecord &record) { record.errors.clear(); });
    retry_.reset();
    if (!file_.rewind()) {
        failChangedFile();
        return;
    }
    state_ = pass;
    sendNextLine();
    emit information(peerName_,
                     label.arg(currentModule()).arg(modules().count()));
}

void FirmwareUpdateThread::flashing()
{
    if (!checkLineResult())
        return;
    switch (sendNextLine()) {
    case LineSend::Sent:
        QThread::msleep(millis(runlimits::AfterFlashedLine));
        break;
    case LineSend::EndOfFile:
        // A flash error that came with the last line's acceptance still wins.
        if (state_ == UpdateState::Flashing)
            state_ = UpdateState::StartCompare;
        break;
    case LineSend::Failed:
        break;
    }
}

void FirmwareUpdateThread::startCompare()
{
    startPass(protocol::Compare, UpdateState::Comparing, tr("Comparing %1 of %2"));
}

void FirmwareUpdateThread::comparing()
{
    if (checkLineResult() && sendNextLine() == LineSend::EndOfFile
        && state_ == UpdateState::Comparing)
        state_ = UpdateState::PostFlash;
}

void FirmwareUpdateThread::postFlash()
{
    if (busLost())
        return;
    emit information(peerName_, tr("Postflash %1 of %2")
                                    .arg(currentModule())
                                    .arg(modules().count()));
    communication_->sendUpdateCommand(protocol::Restart);
    console_.out(QStringLiteral("\nPostFlash "));
    for (int poll = 1;; ++poll) {
        QThread::msleep(millis(runlimits::PostFlashPoll));
        if (poll == 1)
            communication_->sendPatternFrame();
        if (modules().currentRecord().loggedOn)
            break;
        if (poll >= runlimits::PostFlashPolls) {
            failModule(tr("no log-on within %1 seconds after the restart")
                           .arg(runlimits::PostFlashPolls * millis(runlimits::PostFlashPoll) / 1000));
            return;
        }
        if (busLostDue())
            return;
    }
    modules().withCurrent([](ModuleRecord &record) { record.done = true; });
    communication_->sendClosingSequence();
    nextModule();
}

void FirmwareUpdateThread::nextModule()
{
    if (stopAfterModule_.exchange(false)) {
        emit information(peerName_, tr("Stopped after %1 of %2.")
                                        .arg(currentModule())
                                        .arg(modules().count()));
        state_ = UpdateState::Finish;
        return;
    }
    if (const auto id = modules().nextPending()) {
        modules().setCurrent(*id);
        state_ = UpdateState::QueryModule;
        return;
    }
    const int count = modules().count();
    emit information(peerName_, tr("%1 of %1 completed.").arg(count));
    console_.debug(DebugLine() << count << " of " << count << "completed.");
    state_ = UpdateState::Finish;
}

void FirmwareUpdateThread::finish()
{
    if (closeAuto_.load()) {
        closeRun();
        return;
    }
    console_.debug(DebugLine() << "Push <ENTER> key to close terminal window");
    state_ = UpdateState::WaitEnter;
}

void FirmwareUpdateThread::waitEnter()
{
    // The end of standard input counts as ENTER: nobody is left to press it.
    const int c = std::fgetc(stdin);
    if (c == '\n' || c == EOF)
        closeRun();
}

void FirmwareUpdateThread::closeRun()
{
    communication_->sendClosingSequence();
    communication_->stopReceiving();
    runEnded_ = true;
}

void FirmwareUpdateThread::reportOutcome()
{
    const runoutcome::Outcome outcome = runoutcome::judge(
        {modules().ids(), modules().notUpdated(), modules().doneCount(), canIds_, canLine_,
         runFailed_});
    for (const QString &error : outcome.errors)
        console_.err(error);
    succeeded_ = outcome.succeeded;
}
