#include "firmwareupdatethread.h"

#include "commandline.h"
#include "console.h"
#include "debugline.h"
#include "firmwarecheck.h"
#include "linecheck.h"
#include "lineretry.h"
#include "linetext.h"
#include "managecancommunication.h"
#include "protocol.h"
#include "runlimits.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

#include <cstdio>

namespace {

constexpr uint16_t CommandAnnounce = 0;
constexpr uint16_t CommandFlash = 3;
constexpr uint16_t CommandCompare = 5;
constexpr uint16_t CommandRestart = 6;
constexpr uint16_t IdentifierBits = 0x7FF;

template <typename Duration>
unsigned long millis(Duration duration)
{
    return static_cast<unsigned long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(duration).count());
}

template <typename Duration>
QDeadlineTimer deadlineIn(Duration duration)
{
    return QDeadlineTimer(std::chrono::duration_cast<std::chrono::milliseconds>(duration),
                          Qt::PreciseTimer);
}

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
    if (firmwareFile_)
        firmwareFile_->close();
    delete communication_;
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
    if (!openFirmwareFile(fileName))
        return false;
    // Refused before any CAN activity: a module must never enter update mode
    // for a file that cannot be flashed.
    const firmwarecheck::FileCheck check = firmwarecheck::checkFile(*firmwareFile_, fileName);
    if (!check.ok) {
        console_.err(check.message);
        return false;
    }
    fileLines_ = check.lines;
    if (!rewindFirmwareFile()) {
        console_.err(tr("Error: Firmware file '%1' cannot be read").arg(fileName));
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

bool FirmwareUpdateThread::openFirmwareFile(const QString &fileName)
{
    if (firmwareFile_)
        return true;
    firmwareFile_ = std::make_unique<QFile>(fileName);
    // A pipe or a device would block the open or never end; a folder has no lines.
    const QFileInfo info(fileName);
    if ((info.exists() && !info.isFile()) || !firmwareFile_->open(QIODevice::ReadOnly)) {
        console_.err(QStringLiteral("Can not open file '") + fileName + u'\'');
        return false;
    }
    fileSize_ = firmwareFile_->size();
    return true;
}

bool FirmwareUpdateThread::rewindFirmwareFile()
{
    passLines_ = 0;
    return firmwareFile_->seek(0);
}

bool FirmwareUpdateThread::firmwareFileUnchanged(bool passFinished) const
{
    return firmwareFile_->size() == fileSize_ && (!passFinished || passLines_ == fileLines_);
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
    line.plain(hexId(communication_->currentModule())) << "not updated:";
    console_.debug(line.plain(reason));
    communication_->markFailed();
    state_ = next;
}

void FirmwareUpdateThread::waitLogOn()
{
    if (!firstModuleSeen_) {
        // Woken by the first log-on; the bus is looked at once a second meanwhile.
        while (!communication_->waitFor(ManageCanCommunication::Event::AnyModule,
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
    uint16_t id = 0;
    communication_->firstModule(id);
    communication_->setCurrentModule(id);
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
    const QString name = communication_->currentFirmwareName();
    if (communication_->isReupdateModule() || (!name.isEmpty() && fileName_.contains(name))) {
        state_ = UpdateState::CheckSelection;
        communication_->clearReady();
    } else if (!name.isEmpty() || !selected()) {
        state_ = UpdateState::NextModule;
        communication_->markSkipped();
    } else if (nameRequests_++ < runlimits::NameRequests) {
        communication_->requestFirmwareName();
        QThread::msleep(millis(runlimits::QueryPause));
    } else {
        failModule(tr("no firmware name after %1 requests").arg(runlimits::NameRequests + 1));
    }
}

bool FirmwareUpdateThread::selected() const
{
    const auto id = static_cast<uint16_t>(communication_->currentModule() & IdentifierBits);
    return canIds_.isEmpty() || canIds_.contains(id);
}

void FirmwareUpdateThread::checkSelection()
{
    if (selected()) {
        state_ = UpdateState::WaitReady;
    } else {
        state_ = UpdateState::NextModule;
        communication_->markSkipped();
    }
}

void FirmwareUpdateThread::waitReady()
{
    if (communication_->isReady()) {
        communication_->sendUpdateCommand(CommandAnnounce);
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
        communication_->sendUpdateCommand(CommandAnnounce);
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
    startPass(CommandFlash, UpdateState::Flashing, tr("Flashing %1 of %2"));
}

// Both passes send the file from its first line, after their update command
// and the pause the modules need to switch.
void FirmwareUpdateThread::startPass(uint16_t command, UpdateState pass, const QString &label)
{
    communication_->sendUpdateCommand(command);
    QThread::msleep(millis(runlimits::PhasePause));
    if (busLost())
        return;
    // Codes still queued cannot answer this pass's first line.
    communication_->clearErrors();
    retry_.reset();
    if (!firmwareFileUnchanged(false) || !rewindFirmwareFile()) {
        failChangedFile();
        return;
    }
    state_ = pass;
    sendNextLine();
    emit information(peerName_,
                     label.arg(communication_->currentModule()).arg(communication_->moduleCount()));
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
    startPass(CommandCompare, UpdateState::Comparing, tr("Comparing %1 of %2"));
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
                                    .arg(communication_->currentModule())
                                    .arg(communication_->moduleCount()));
    communication_->sendUpdateCommand(CommandRestart);
    console_.out(QStringLiteral("\nPostFlash "));
    for (int poll = 1;; ++poll) {
        QThread::msleep(millis(runlimits::PostFlashPoll));
        if (poll == 1)
            communication_->sendPatternFrame();
        if (communication_->isLoggedOn())
            break;
        if (poll >= runlimits::PostFlashPolls) {
            failModule(tr("no log-on within %1 seconds after the restart")
                           .arg(runlimits::PostFlashPolls * millis(runlimits::PostFlashPoll) / 1000));
            return;
        }
        if (busLostDue())
            return;
    }
    communication_->markDone();
    communication_->sendClosingSequence();
    nextModule();
}

void FirmwareUpdateThread::nextModule()
{
    if (stopAfterModule_.exchange(false)) {
        emit information(peerName_, tr("Stopped after %1 of %2.")
                                        .arg(communication_->currentModule())
                                        .arg(communication_->moduleCount()));
        state_ = UpdateState::Finish;
        return;
    }
    uint16_t id = communication_->currentModule();
    if (communication_->nextPendingModule(id)) {
        communication_->setCurrentModule(id);
        state_ = UpdateState::QueryModule;
        return;
    }
    const int count = communication_->moduleCount();
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

// Selected modules that never logged on were not updated either.
QList<uint16_t> FirmwareUpdateThread::selectedButAbsent() const
{
    QList<uint16_t> present;
    for (uint16_t id : communication_->moduleIds())
        present.append(id & IdentifierBits);
    QList<uint16_t> absent;
    for (uint16_t id : canIds_) {
        const auto onLine = static_cast<uint16_t>((canLine_ << 12) | id);
        if (!present.contains(id) && !absent.contains(onLine))
            absent.append(onLine);
    }
    return absent;
}

void FirmwareUpdateThread::reportOutcome()
{
    const QList<uint16_t> notUpdated = communication_->modulesNotUpdated() + selectedButAbsent();
    if (communication_->moduleCount() == 0) {
        console_.err(tr("Error: No module logged on, no module updated"));
    } else if (!notUpdated.isEmpty()) {
        QStringList ids;
        for (uint16_t id : notUpdated)
            ids.append(hexId(id));
        console_.err(tr("Error: Modules not updated: %1").arg(ids.join(u' ')));
    } else if (communication_->modulesDone() == 0) {
        console_.err(tr("Error: No module fits the file and the selection, no module updated"));
    } else {
        succeeded_ = !runFailed_;
    }
    if (!succeeded_ && notUpdated.isEmpty() && runFailed_ && communication_->modulesDone() > 0)
        console_.err(tr("Error: The run did not end normally"));
}

FirmwareUpdateThread::LineSend FirmwareUpdateThread::sendNextLine()
{
    if (!retry_.takeRepeat()) {
        if (firmwareFile_->atEnd()) {
            if (firmwareFileUnchanged(true))
                return LineSend::EndOfFile;
            failChangedFile();
            return LineSend::Failed;
        }
        if (!readNextLine())
            return LineSend::Failed;
    }
    if (busLostDue())
        return LineSend::Failed;
    // A frame that is not acknowledged counts as a line timeout: the line
    // goes again from its first frame, once per timeout reported.
    while (!transmitCurrentLine()) {
        if (!lineTimedOut())
            return LineSend::Failed;
    }
    const qint64 position = firmwareFile_->pos();
    emit progress(linetext::progressPercent(position, fileSize_));
    console_.out(linetext::progressLine(state_ == UpdateState::Flashing,
                                        communication_->currentModule(), position, fileSize_,
                                        currentLine_));
    lineAnswerDeadline_ = deadlineIn(runlimits::LineAnswer);
    return LineSend::Sent;
}

bool FirmwareUpdateThread::readNextLine()
{
    // The file passed the check at start; a line beyond the longest record
    // now means it changed underneath, which counts as a read error.
    const QByteArray raw = firmwareFile_->readLine(firmwarecheck::LongestRawLine + 1);
    const bool cut = !raw.endsWith('\n') && !firmwareFile_->atEnd();
    if (raw.isEmpty() || cut || firmwareFile_->error() != QFileDevice::NoError) {
        runFailed_ = true;
        failModule(tr("the firmware file cannot be read"), UpdateState::Finish);
        return false;
    }
    // Only the file's last line may lack its line end; any other line that
    // does is the cut end of a file that shrank, and must not be flashed.
    if (!raw.endsWith('\n') && (passLines_ + 1 != fileLines_ || !firmwareFileUnchanged(false))) {
        failChangedFile();
        return false;
    }
    ++passLines_;
    currentLine_ = linetext::normalise(raw);
    return true;
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
    communication_->clearErrors();
    return true;
}

bool FirmwareUpdateThread::checkLineResult()
{
    const auto takeCode = [this](uint8_t &code) { return communication_->takeError(code); };
    const QByteArray lineText = linetext::withoutLineEnd(currentLine_);
    for (;;) {
        const linecheck::Verdict verdict = linecheck::evaluate(takeCode, peerName_, lineText);
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
        if (!communication_->waitFor(ManageCanCommunication::Event::ErrorQueued,
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
    const auto takeCode = [this](uint8_t &code) { return communication_->takeError(code); };
    const linecheck::Verdict verdict =
        linecheck::evaluate(takeCode, peerName_, linetext::withoutLineEnd(currentLine_));
    for (const DebugLine &message : verdict.messages)
        console_.debug(message);
    // A module that refuses the update for its version must not be flashed.
    if (verdict.versionError != linecheck::VersionError::None) {
        runFailed_ = true;
        state_ = UpdateState::Finish;
    }
}
