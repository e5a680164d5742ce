#include "managecancommunication.h"

#include "console.h"
#include "debugline.h"
#include "protocol.h"
#include "receivethread.h"
#include "runlimits.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <QVariant>

#include <array>
#include <cstring>
#include <thread>

namespace {

void sleepUntil(const QDeadlineTimer &deadline)
{
    while (!deadline.hasExpired())
        std::this_thread::sleep_for(std::chrono::nanoseconds(deadline.remainingTimeNSecs()));
}

} // namespace

ManageCanCommunication::ManageCanCommunication(Console &console, QObject *parent)
    : QObject(parent), console_(console)
{
    driverBound_ = bindDriverLibrary(driver_, driverLibraryPath(), console_);
    reportVersion();
}

ManageCanCommunication::ManageCanCommunication(const CanDriverFunctions &driver, Console &console,
                                               QObject *parent)
    : QObject(parent), console_(console), driver_(driver), driverBound_(driver.complete())
{
    reportVersion();
}

ManageCanCommunication::~ManageCanCommunication()
{
    stopReceiving();
}

void ManageCanCommunication::reportVersion()
{
    if (!driver_.GetDLLVer)
        return;
    std::array<char, 12> version{};
    if (const char *text = driver_.GetDLLVer())
        std::strncpy(version.data(), text, version.size() - 1);
    console_.debug(DebugLine() << "tarvpcan3.dll version" << version.data());
}

// The one line the front end shows of a failed set-up: without an adapter it
// says what to do, after the words scripts look for. Where a bench file
// describes the adapters, the interface stand-in leaves the place in it that
// explains the failure on the application object; that place is then named
// instead of the advice to name a bench file.
void ManageCanCommunication::reportFailedSetUp(const char *interfaceName, const char *libraryText)
{
    DebugLine line;
    line << "Error: failed to initialize CAN-Interface" << interfaceName;
    const QString bench = qApp ? qApp->property("tarvcanapi.bench").toString() : QString();
    const bool noAdapter = std::strcmp(libraryText, "Error while registering hardware !") == 0;
    if (!bench.isEmpty()) {
        line.plain(noAdapter ? tr("- no adapter serves CAN line %1: %2").arg(canLine_).arg(bench)
                             : QStringLiteral("- ") + bench);
    } else if (noAdapter) {
#ifdef Q_OS_WIN
        line.plain(tr("- no adapter serves CAN line %1: connect it and install its driver").arg(canLine_));
#else
        line.plain(tr("- no adapter serves CAN line %1: set one up for SocketCAN as the README says, "
                      "or name one in a bench file (TARVCAN_CONFIG)")
                       .arg(canLine_));
#endif
    }
    console_.debug(line);
}

int ManageCanCommunication::statusCode(const QByteArray &text)
{
    static const std::array<std::pair<const char *, int>, 6> codes{{{"OK", StatusOk},
                                                                     {"BUSHEAVY", StatusBusHeavy},
                                                                     {"BUSLIGHT", StatusBusLight},
                                                                     {"BUSOFF", StatusBusOff},
                                                                     {"OVERRUN", StatusOverrun},
                                                                     {"NOCLIENT", StatusNoClient}}};
    for (const auto &[name, code] : codes) {
        if (text == name)
            return code;
    }
    return StatusOther;
}

bool ManageCanCommunication::initCanInterface(const char *interfaceName, uint16_t bitRate,
                                              uint16_t canLine)
{
    canLine_ = canLine;
    bitRate_ = bitRate;
    if (!driverBound_) {
        console_.debug(DebugLine() << "Error: failed to initialize CAN-Interface" << interfaceName);
        return false;
    }
    std::array<char, 64> clientName{};
    std::strcpy(clientName.data(), "tarvCanFLash");
    driver_.ConnectCANHw2Driver(std::strcmp(interfaceName, "PCAN_USB") == 0 ? TARVPCAN3_KIND_USB
                                                                             : TARVPCAN3_KIND_PCI);
    driver_.ReInitCanSystem(canLine_);
    if (!driver_.ExtendedInitCan(canLine_, bitRate_, 0, 0, clientName.data())) {
        // Whatever the failed set-up left registered goes with the line.
        driver_.ReInitCanSystem(canLine_);
        reportFailedSetUp(interfaceName, clientName.data());
        return false;
    }
    canLineOpen_ = true;
    sendPatternFrame();
    sendLogOffAll();

    QEventLoop settle;
    QTimer::singleShot(runlimits::StartupSettle, &settle, &QEventLoop::quit);
    settle.exec();

    evalCanStatus();
    if (canStatus_ != StatusOk) {
        console_.err(tr("Error: CAN-Bus not OK: %1").arg(QString::fromLatin1(canStatusText_)));
        closeLine();
        return false;
    }
    startReceiving();
    return true;
}

// The slots run on the receive thread, in arrival order: the update thread
// waits for them, and a hop through the main thread's event loop would slow
// every frame of a flash down.
void ManageCanCommunication::startReceiving()
{
    using R = ReceiveThread;
    using M = ManageCanCommunication;
    auto *thread = new ReceiveThread(this, &driver_, canLine_);
    const auto direct = Qt::DirectConnection;
    connect(thread, &R::receivedDeviceInformation, this, &M::onReceivedDeviceInformation, direct);
    connect(thread, &R::receivedFirmwareRelease, this, &M::onReceivedFirmwareRelease, direct);
    connect(thread, &R::receivedFirmwareName, this, &M::onReceivedFirmwareName, direct);
    connect(thread, &R::receivedLogOn, this, &M::onReceivedLogOn, direct);
    connect(thread, &R::receivedFlashFrame, this, &M::onReceivedFlashFrame, direct);
    connect(thread, &R::receivedFirmwareUpdateStatusReady, this,
            &M::onReceivedFirmwareUpdateStatusReady, direct);
    connect(thread, &R::receivedFirmwareUpdateStatusError, this,
            &M::onReceivedFirmwareUpdateStatusError, direct);
    connect(thread, &R::receivedLogOnReupdate, this, &M::onReceivedLogOnReupdate, direct);
    receiveThread_ = thread;
    receiveThread_->start(QThread::currentThread()->priority());
}

QByteArray ManageCanCommunication::readCanStatus()
{
    std::array<char, 128> text{};
    driver_.GetCanStatus(static_cast<uint8_t>(canLine_), text.data());
    text.back() = '\0';
    return QByteArray(text.data());
}

void ManageCanCommunication::evalCanStatus()
{
    canStatusText_ = readCanStatus();
    const int code = statusCode(canStatusText_);
    if (code != canStatus_ && code == StatusOk)
        sendLogOffAll();
    canStatus_ = code;
    sendLogOn(protocol::BroadcastLogOnId);
}

bool ManageCanCommunication::connectionLost()
{
    if (!canLineOpen_)
        return false;
    canStatusText_ = readCanStatus();
    const int code = statusCode(canStatusText_);
    const bool lost = canStatus_ == StatusOk && code != StatusOk;
    canStatus_ = code;
    return lost;
}

bool ManageCanCommunication::stopReceiving()
{
    if (receiveThread_) {
        receiveThread_->requestStop();
        receiveThread_->wait();
        receiveThread_->deleteLater();
        receiveThread_ = nullptr;
    }
    closeLine();
    return true;
}

void ManageCanCommunication::closeLine()
{
    if (canLineOpen_) {
        driver_.ReInitCanSystem(canLine_);
        canLineOpen_ = false;
    }
}

void ManageCanCommunication::sendMessage(const CanMessage &message)
{
    const CanMessage::DriverBuffer buffer = message.toDriverBuffer();
    std::array<char, 20> sendTime{};
    driver_.Write2Can(static_cast<uint16_t>(message.address()), buffer.data(), sendTime.data());
}

void ManageCanCommunication::sendLogOffAll()
{
    for (const CanMessage &message : protocol::logOffAllFrames(canLine_))
        sendMessage(message);
}

void ManageCanCommunication::sendLogOn(uint16_t id)
{
    sendMessage(protocol::logOnFrame(canLine_, id));
}

void ManageCanCommunication::sendLogOnFollowUp(uint16_t id)
{
    sendMessage(protocol::logOnFollowUpFrame(canLine_, id));
}

void ManageCanCommunication::sendPatternFrame()
{
    sendMessage(protocol::patternFrame());
}

void ManageCanCommunication::sendOpeningSequence()
{
    sendMessage(protocol::openingSequenceFrame(canLine_));
}

// The modules need the whole pause between these frames: a sleep that a
// signal or a spurious wake-up ends early goes on to its deadline.
void ManageCanCommunication::sendClosingSequence()
{
    const QList<CanMessage> frames = protocol::closingSequenceFrames(canLine_);
    sendMessage(frames[0]);
    sleepUntil(runlimits::deadlineIn(protocol::ClosingPauseFirst));
    sendMessage(frames[1]);
    sleepUntil(runlimits::deadlineIn(protocol::ClosingPauseSecond));
    sendMessage(frames[2]);
}

void ManageCanCommunication::sendRequest1200()
{
    sendMessage(protocol::request1200Frame(canLine_, modules_.current()));
}

void ManageCanCommunication::requestFirmwareRelease()
{
    sendMessage(protocol::firmwareReleaseRequestFrame(canLine_, modules_.current()));
}

void ManageCanCommunication::requestFirmwareName()
{
    sendMessage(protocol::firmwareNameRequestFrame(canLine_, modules_.current()));
}

void ManageCanCommunication::sendUpdateCommand(protocol::UpdateCommand command)
{
    // Cleared before the command goes out: a module that boots at once logs
    // on within a frame time, and the receive thread may record that before
    // this thread gets the CPU back from the send.
    const uint16_t current = modules_.withCurrent([command](ModuleRecord &record) {
        if (command == protocol::Restart)
            record.loggedOn = false;
        return record.id;
    });
    sendMessage(protocol::updateCommandFrame(canLine_, current, command));
}

// The current module, its flash frame no longer counted as acknowledged.
uint16_t ManageCanCommunication::clearFlashFrameAck()
{
    return modules_.withCurrent([](ModuleRecord &record) {
        record.flashFrameAcked = false;
        return record.id;
    });
}

void ManageCanCommunication::sendFlashData(const QByteArray &bytes)
{
    sendMessage(protocol::flashDataFrame(canLine_, clearFlashFrameAck(), bytes));
}

void ManageCanCommunication::startLineTransfer(const QByteArray &firmwareLine)
{
    const uint16_t module = clearFlashFrameAck();
    const QByteArray first = transfer_.start(module, firmwareLine);
    if (!first.isEmpty())
        sendMessage(protocol::flashDataFrame(canLine_, module, first));
}

bool ManageCanCommunication::waitLineTransferred(std::chrono::milliseconds frameBound)
{
    return transfer_.waitComplete(frameBound);
}

void ManageCanCommunication::onReceivedLogOn(quint16 id, unsigned char status,
                                             unsigned char deviceClass)
{
    Q_UNUSED(status)
    modules_.logOn(id, deviceClass);
    sendLogOn(id);
    sendLogOnFollowUp(id);
}

void ManageCanCommunication::onReceivedDeviceInformation(quint16 id, ulong serialNumber,
                                                         QString firmwareReleaseStr,
                                                         unsigned char channelNumber)
{
    modules_.with(id, [&](ModuleRecord &record) {
        record.serialNumber = static_cast<uint32_t>(serialNumber);
        record.firmwareReleaseStr = firmwareReleaseStr.left(9);
        record.channelNumber = channelNumber;
        record.informed = true;
    });
    requestFirmwareName();
}

void ManageCanCommunication::onReceivedFirmwareRelease(quint16 id, int firmwareRelease)
{
    modules_.with(id, [&](ModuleRecord &record) { record.firmwareRelease = firmwareRelease; });
}

void ManageCanCommunication::onReceivedFirmwareName(quint16 id, QString firmwareName)
{
    modules_.with(id, [&](ModuleRecord &record) { record.firmwareName = firmwareName; });
}

// The acknowledgement of a frame of the line in transfer sends the next frame
// at once. The record is marked first: whoever the line's end wakes sees it.
void ManageCanCommunication::onReceivedFlashFrame(quint16 id)
{
    modules_.with(id, [](ModuleRecord &record) { record.flashFrameAcked = true; });
    bool through = false;
    const QByteArray next = transfer_.acknowledged(id, &through);
    // A module answers a line only once it holds all of it: a code queued
    // before that answers an earlier transfer, one that timed out, and must
    // not pass for the answer to this one.
    if (through)
        modules_.with(id, [](ModuleRecord &record) { record.errors.clear(); });
    if (next.isEmpty())
        return;
    modules_.with(id, [](ModuleRecord &record) { record.flashFrameAcked = false; });
    sendMessage(protocol::flashDataFrame(canLine_, id, next));
}

void ManageCanCommunication::onReceivedFirmwareUpdateStatusReady(quint16 id)
{
    modules_.with(id, [](ModuleRecord &record) { record.updateReady = true; });
}

void ManageCanCommunication::onReceivedFirmwareUpdateStatusError(quint16 id, quint8 error)
{
    modules_.with(id, [error](ModuleRecord &record) { record.errors.push_back(error); });
}

void ManageCanCommunication::onReceivedLogOnReupdate(quint16 id)
{
    modules_.reupdateLogOn(id);
}
