#include "managecancommunication.h"

#include "console.h"
#include "debugline.h"
#include "protocol.h"
#include "receivethread.h"

#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <array>
#include <cstring>

namespace {

constexpr int StartupSettleMs = 500;
constexpr unsigned long ClosingPause1Ms = 500;
constexpr unsigned long ClosingPause2Ms = 1000;
constexpr uint8_t AdapterUsb = 3;
constexpr uint8_t AdapterPci = 4;
constexpr uint16_t RestartCommand = 6;

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
                                              uint16_t line)
{
    line_ = line;
    bitRate_ = bitRate;
    if (!driverBound_) {
        console_.debug(DebugLine() << "Error: failed to initialize CAN-Interface" << interfaceName);
        return false;
    }
    std::array<char, 64> clientName{};
    std::strcpy(clientName.data(), "tarvCanFLash");
    driver_.ConnectCANHw2Driver(std::strcmp(interfaceName, "PCAN_USB") == 0 ? AdapterUsb
                                                                             : AdapterPci);
    driver_.ReInitCanSystem(line_);
    if (!driver_.ExtendedInitCan(line_, bitRate_, 0, 0, clientName.data())) {
        // Whatever the failed set-up left registered goes with the line.
        driver_.ReInitCanSystem(line_);
        console_.debug(DebugLine() << "Error: failed to initialize CAN-Interface" << interfaceName);
        return false;
    }
    lineOpen_ = true;
    sendPatternFrame();
    sendLogOffAll();

    QEventLoop settle;
    QTimer::singleShot(StartupSettleMs, &settle, &QEventLoop::quit);
    settle.exec();

    evalCanStatus();
    if (canStatus_ != StatusOk) {
        console_.err(tr("Error: CAN-Bus not OK: %1").arg(QString::fromLatin1(canStatusText_)));
        closeLine();
        return false;
    }
    receiveThread_ = new ReceiveThread(this, &driver_, line_);
    receiveThread_->start(QThread::currentThread()->priority());
    return true;
}

QByteArray ManageCanCommunication::readCanStatus()
{
    std::array<char, 128> text{};
    driver_.GetCanStatus(static_cast<uint8_t>(line_), text.data());
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
    if (!lineOpen_)
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
    if (lineOpen_) {
        driver_.ReInitCanSystem(line_);
        lineOpen_ = false;
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
    for (const CanMessage &message : protocol::logOffAllFrames(line_))
        sendMessage(message);
}

void ManageCanCommunication::sendLogOn(uint16_t id)
{
    sendMessage(protocol::logOnFrame(line_, id));
}

void ManageCanCommunication::sendLogOnFollowUp(uint16_t id)
{
    sendMessage(protocol::logOnFollowUpFrame(line_, id));
}

void ManageCanCommunication::sendPatternFrame()
{
    sendMessage(protocol::patternFrame());
}

void ManageCanCommunication::sendOpeningSequence()
{
    sendMessage(protocol::openingSequenceFrame(line_));
}

void ManageCanCommunication::sendClosingSequence()
{
    const QList<CanMessage> frames = protocol::closingSequenceFrames(line_);
    sendMessage(frames[0]);
    QThread::msleep(ClosingPause1Ms);
    sendMessage(frames[1]);
    QThread::msleep(ClosingPause2Ms);
    sendMessage(frames[2]);
}

void ManageCanCommunication::sendRequest1200()
{
    sendMessage(protocol::request1200Frame(line_, currentModule()));
}

void ManageCanCommunication::requestFirmwareRelease()
{
    sendMessage(protocol::firmwareReleaseRequestFrame(line_, currentModule()));
}

void ManageCanCommunication::requestFirmwareName()
{
    sendMessage(protocol::firmwareNameRequestFrame(line_, currentModule()));
}

void ManageCanCommunication::sendUpdateCommand(uint16_t code)
{
    uint16_t current = 0;
    {
        std::lock_guard lock(mutex_);
        current = current_;
        // Cleared before the command goes out: a module that boots at once
        // logs on within a frame time, and the receive thread may record that
        // before this thread gets the CPU back from the send.
        if (code == RestartCommand)
            record(current).loggedOn = false;
    }
    sendMessage(protocol::updateCommandFrame(line_, current, code));
}

void ManageCanCommunication::sendFlashData(const QByteArray &bytes)
{
    uint16_t current = 0;
    {
        std::lock_guard lock(mutex_);
        current = current_;
        record(current).flashFrameAcked = false;
    }
    sendMessage(protocol::flashDataFrame(line_, current, bytes));
}

ModuleRecord &ManageCanCommunication::record(uint16_t id)
{
    return moduleTable_[id];
}

void ManageCanCommunication::setCurrentModule(uint16_t id)
{
    std::lock_guard lock(mutex_);
    current_ = id;
}

uint16_t ManageCanCommunication::currentModule() const
{
    std::lock_guard lock(mutex_);
    return current_;
}

int ManageCanCommunication::moduleCount() const
{
    std::lock_guard lock(mutex_);
    return static_cast<int>(moduleTable_.size());
}

bool ManageCanCommunication::firstModule(uint16_t &id) const
{
    std::lock_guard lock(mutex_);
    if (moduleTable_.empty())
        return false;
    id = moduleTable_.begin()->first;
    return true;
}

bool ManageCanCommunication::nextPendingModule(uint16_t &id) const
{
    std::lock_guard lock(mutex_);
    for (const auto &[key, entry] : moduleTable_) {
        if (!entry.done && !entry.skipped && !entry.failed) {
            id = key;
            return true;
        }
    }
    return false;
}

bool ManageCanCommunication::isReupdateModule()
{
    std::lock_guard lock(mutex_);
    return record(current_).reupdate;
}

bool ManageCanCommunication::isLoggedOn()
{
    std::lock_guard lock(mutex_);
    return record(current_).loggedOn;
}

bool ManageCanCommunication::isReady()
{
    std::lock_guard lock(mutex_);
    return record(current_).updateReady;
}

bool ManageCanCommunication::isFlashFrameAcked()
{
    std::lock_guard lock(mutex_);
    return record(current_).flashFrameAcked;
}

void ManageCanCommunication::markDone()
{
    std::lock_guard lock(mutex_);
    record(current_).done = true;
}

void ManageCanCommunication::markSkipped()
{
    std::lock_guard lock(mutex_);
    record(current_).skipped = true;
}

void ManageCanCommunication::markFailed()
{
    std::lock_guard lock(mutex_);
    record(current_).failed = true;
}

void ManageCanCommunication::clearReady()
{
    std::lock_guard lock(mutex_);
    record(current_).updateReady = false;
}

void ManageCanCommunication::clearErrors()
{
    std::lock_guard lock(mutex_);
    record(current_).errors.clear();
}

QString ManageCanCommunication::currentFirmwareName()
{
    std::lock_guard lock(mutex_);
    return record(current_).firmwareName;
}

bool ManageCanCommunication::takeError(uint8_t &code)
{
    std::lock_guard lock(mutex_);
    auto &errors = record(current_).errors;
    if (errors.empty())
        return false;
    code = errors.front();
    errors.pop_front();
    return true;
}

QList<uint16_t> ManageCanCommunication::modulesNotUpdated() const
{
    std::lock_guard lock(mutex_);
    QList<uint16_t> ids;
    for (const auto &[id, entry] : moduleTable_) {
        if (!entry.done && !entry.skipped)
            ids.append(id);
    }
    return ids;
}

QList<uint16_t> ManageCanCommunication::moduleIds() const
{
    std::lock_guard lock(mutex_);
    QList<uint16_t> ids;
    for (const auto &entry : moduleTable_)
        ids.append(entry.first);
    return ids;
}

int ManageCanCommunication::modulesDone() const
{
    std::lock_guard lock(mutex_);
    int count = 0;
    for (const auto &entry : moduleTable_)
        count += entry.second.done ? 1 : 0;
    return count;
}

bool ManageCanCommunication::holds(Event event)
{
    if (event == Event::AnyModule)
        return !moduleTable_.empty();
    const ModuleRecord &entry = record(current_);
    switch (event) {
    case Event::FlashFrameAcked: return entry.flashFrameAcked;
    case Event::ErrorQueued: return !entry.errors.empty();
    case Event::LoggedOn: return entry.loggedOn;
    case Event::Ready: return entry.updateReady;
    case Event::AnyModule: break;
    }
    return false;
}

bool ManageCanCommunication::waitFor(Event event, QDeadlineTimer deadline)
{
    std::unique_lock lock(mutex_);
    return changed_.wait_until(lock, deadline.deadline<std::chrono::steady_clock>(),
                               [this, event] { return holds(event); });
}

void ManageCanCommunication::onReceivedLogOn(quint16 id, unsigned char status,
                                             unsigned char deviceClass)
{
    Q_UNUSED(status)
    {
        std::lock_guard lock(mutex_);
        const auto [entry, inserted] = moduleTable_.try_emplace(id);
        if (inserted)
            entry->second.deviceClass = deviceClass;
        if (id == current_)
            entry->second.loggedOn = true;
        changed_.notify_all();
    }
    sendLogOn(id);
    sendLogOnFollowUp(id);
}

void ManageCanCommunication::onReceivedDeviceInformation(quint16 id, ulong serialNumber,
                                                         QString firmwareReleaseStr,
                                                         unsigned char channelNumber)
{
    {
        std::lock_guard lock(mutex_);
        ModuleRecord &entry = record(id);
        entry.serialNumber = static_cast<uint32_t>(serialNumber);
        entry.firmwareReleaseStr = firmwareReleaseStr.left(9);
        entry.channelNumber = channelNumber;
    }
    requestFirmwareName();
}

void ManageCanCommunication::onReceivedFirmwareRelease(quint16 id, int firmwareRelease)
{
    std::lock_guard lock(mutex_);
    record(id).firmwareRelease = firmwareRelease;
}

void ManageCanCommunication::onReceivedFirmwareName(quint16 id, QString firmwareName)
{
    std::lock_guard lock(mutex_);
    record(id).firmwareName = firmwareName;
}

void ManageCanCommunication::onReceivedFlashFrame(quint16 id)
{
    QByteArray next;
    {
        std::lock_guard lock(mutex_);
        ModuleRecord &entry = record(id);
        entry.flashFrameAcked = true;
        if (transfer_.active && transfer_.module == id && transfer_.acked < transfer_.sent) {
            transfer_.acked = transfer_.sent;
            next = nextTransferFrame();
            transfer_.lastAck = std::chrono::steady_clock::now();
        }
        // The update thread sleeps through a line's frames: it is woken
        // once the whole line is acknowledged, not for every frame.
        if (next.isEmpty())
            changed_.notify_all();
        else
            entry.flashFrameAcked = false;
    }
    if (!next.isEmpty())
        sendMessage(protocol::flashDataFrame(line_, id, next));
}

QByteArray ManageCanCommunication::nextTransferFrame()
{
    const QByteArray frame = transfer_.line.mid(transfer_.sent, protocol::FlashTextPerFrame);
    transfer_.sent += frame.size();
    return frame;
}

void ManageCanCommunication::startLineTransfer(const QByteArray &line)
{
    uint16_t module = 0;
    QByteArray first;
    {
        std::lock_guard lock(mutex_);
        module = current_;
        transfer_ = LineTransfer{true, module, line, 0, 0, std::chrono::steady_clock::now()};
        first = nextTransferFrame();
        record(module).flashFrameAcked = false;
    }
    if (!first.isEmpty())
        sendMessage(protocol::flashDataFrame(line_, module, first));
}

bool ManageCanCommunication::waitLineTransferred(std::chrono::milliseconds frameBound)
{
    std::unique_lock lock(mutex_);
    while (transfer_.acked < transfer_.line.size()) {
        // Each frame has its own bound, counted from the previous one's
        // acknowledgement; the slot moves that start without waking us.
        const auto until = transfer_.lastAck + frameBound;
        if (std::chrono::steady_clock::now() >= until) {
            transfer_.active = false;
            return false;
        }
        changed_.wait_until(lock, until);
    }
    transfer_.active = false;
    return true;
}

void ManageCanCommunication::onReceivedFirmwareUpdateStatusReady(quint16 id)
{
    std::lock_guard lock(mutex_);
    record(id).updateReady = true;
    changed_.notify_all();
}

void ManageCanCommunication::onReceivedFirmwareUpdateStatusError(quint16 id, quint8 error)
{
    std::lock_guard lock(mutex_);
    record(id).errors.push_back(error);
    changed_.notify_all();
}

void ManageCanCommunication::onReceivedLogOnReupdate(quint16 id)
{
    std::lock_guard lock(mutex_);
    const auto [entry, inserted] = moduleTable_.try_emplace(id);
    if (inserted)
        entry->second.reupdate = true;
    changed_.notify_all();
}
