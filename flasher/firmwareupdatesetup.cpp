// The update thread's set-up before its run and its outcome after it: the
// firmware file and the CAN line are opened before the thread starts, and the
// module table at the end decides whether the run succeeded.
#include "firmwareupdatethread.h"

#include "buswatch.h"
#include "commandline.h"
#include "console.h"
#include "managecancommunication.h"
#include "modulelines.h"
#include "passlines.h"
#include "runlimits.h"
#include "runoutcome.h"

FirmwareUpdateThread::FirmwareUpdateThread(Console &console, QObject *parent)
    : QThread(parent), console_(console), logOnWindowCount_(runlimits::LogOnWindowPasses)
{
    setObjectName(QStringLiteral("tarvUpdate"));
}

FirmwareUpdateThread::~FirmwareUpdateThread()
{
    wait();
    lines_.reset();
    bus_.reset();
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
    // Refused before any CAN activity: a module must never enter update mode
    // for a file that cannot be flashed.
    if (const QString problem = file_.open(fileName); !problem.isEmpty()) {
        console_.err(problem);
        return false;
    }
    return startRun(interfaceName, bitRate, canLine, driver);
}

bool FirmwareUpdateThread::startScan(const char *interfaceName, int bitRate, int canLine,
                                     const CanDriverFunctions *driver)
{
    scan_ = true;
    closeAuto_.store(true);
    return startRun(interfaceName, bitRate, canLine, driver);
}

bool FirmwareUpdateThread::startRun(const char *interfaceName, int bitRate, int canLine,
                                    const CanDriverFunctions *driver)
{
    canLine_ = static_cast<uint16_t>(canLine);
    communication_ = driver ? new ManageCanCommunication(*driver, console_, this)
                            : new ManageCanCommunication(console_, this);
    if (!communication_->initCanInterface(interfaceName, static_cast<uint16_t>(bitRate),
                                          static_cast<uint16_t>(canLine)))
        return false;
    bus_ = std::make_unique<BusWatch>(*communication_);
    lines_ = std::make_unique<PassLines>(*communication_, file_, *bus_, console_, peerName_);
    state_ = UpdateState::WaitLogOn;
    firstLogOnDeadline_ = runlimits::deadlineIn(runlimits::FirstLogOn);
    // The line's set-up has just sent the first request.
    nextLogOnRequest_ = runlimits::deadlineIn(runlimits::LogOnRequestEvery);
    start();
    return true;
}

// One result line per module, then the verdict, which the front end takes
// for the end of the run.
void FirmwareUpdateThread::reportOutcome()
{
    if (scan_) {
        const int found = modules().count();
        succeeded_ = found > 0 && !stopped_;
        if (stopped_)
            console_.err(tr("Error: Scan stopped, %1 %2 found")
                             .arg(found)
                             .arg(found == 1 ? tr("module") : tr("modules")));
        else if (!succeeded_)
            console_.err(tr("Error: No module logged on"));
        return;
    }
    for (uint16_t id : modules().ids())
        console_.out(resultLine(id, modules().with(id, [](const ModuleRecord &record) { return record; })));
    const runoutcome::Outcome outcome = runoutcome::judge(
        {modules().ids(), modules().notUpdated(), modules().doneCount(), canIds_, canLine_,
         runFailed_, stopped_});
    for (const QString &error : outcome.errors)
        console_.err(error);
    succeeded_ = outcome.succeeded;
}
