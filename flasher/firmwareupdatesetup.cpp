// The update thread's set-up before its run: the firmware file and the CAN
// line are opened before the thread starts.
#include "firmwareupdatethread.h"

#include "commandline.h"
#include "console.h"
#include "managecancommunication.h"
#include "stopsignal.h"
#include "updatesequence.h"

FirmwareUpdateThread::FirmwareUpdateThread(Console &console, QObject *parent)
    : QThread(parent)
    , console_(console)
{
    setObjectName(QStringLiteral("tarvUpdate"));
}

FirmwareUpdateThread::~FirmwareUpdateThread()
{
    wait();
    sequence_.reset();
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
    return startRun(interfaceName, bitRate, canLine, driver);
}

bool FirmwareUpdateThread::startRun(const char *interfaceName, int bitRate, int canLine,
                                    const CanDriverFunctions *driver)
{
    communication_ =
        driver ? new ManageCanCommunication(*driver, console_, this) : new ManageCanCommunication(console_, this);
    if (!communication_->initCanInterface(interfaceName, static_cast<uint16_t>(bitRate),
                                          static_cast<uint16_t>(canLine)))
        return false;
    UpdateSequence::Settings settings{fileName_, canIds_, static_cast<uint16_t>(canLine), scan_, closeAuto_};
    UpdateSequence::Hooks hooks{
        [this](const QString &peerName, const QString &info) { emit information(peerName, info); },
        [this](int percent) { emit progress(percent); }, [] { stopsignal::waitForEnter(); }};
    sequence_ = std::make_unique<UpdateSequence>(console_, *communication_, file_, settings, hooks);
    if (stopAfterModule_.load())
        sequence_->stopAfterModule();
    start();
    return true;
}
