#include "managecancommunication.h"

#include "console.h"
#include "protocol.h"
#include "runlimits.h"

#include <array>
#include <type_traits>

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

// The modules need the whole pause between these frames, stop or not, as
// they see them: the pause starts once frames still queued (a stop right
// after a log-off sweep) have left the bus.
void ManageCanCommunication::sendClosingSequence()
{
    const QList<CanMessage> frames = protocol::closingSequenceFrames(canLine_);
    const RunClock::Time freeBy = [this] {
        std::lock_guard lock(busFreeMutex_);
        return busFreeBy_;
    }();
    if (freeBy > clock_->now())
        clock_->sleepUntil(freeBy);
    sendMessage(frames[0]);
    clock_->sleepUntil(clock_->in(protocol::ClosingPauseFirst));
    sendMessage(frames[1]);
    clock_->sleepUntil(clock_->in(protocol::ClosingPauseSecond));
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

void ManageCanCommunication::receiveFrame(uint16_t word, int length, const uint8_t *data)
{
    for (const protocol::Notification &notification : protocol::decodeFrame(word, length, data))
        receive(notification);
}

void ManageCanCommunication::receive(const protocol::Notification &notification)
{
    using namespace protocol;
    std::visit(
        [this](const auto &n) {
            using T = std::decay_t<decltype(n)>;
            if constexpr (std::is_same_v<T, LogOn>)
                onReceivedLogOn(n.id, n.status, n.deviceClass);
            else if constexpr (std::is_same_v<T, DeviceInformation>)
                onReceivedDeviceInformation(n.id, n.serialNumber, n.firmwareReleaseStr, n.channelNumber);
            else if constexpr (std::is_same_v<T, FirmwareRelease>)
                onReceivedFirmwareRelease(n.id, n.firmwareRelease);
            else if constexpr (std::is_same_v<T, FirmwareName>)
                onReceivedFirmwareName(n.id, n.firmwareName);
            else if constexpr (std::is_same_v<T, FlashFrame>)
                onReceivedFlashFrame(n.id);
            else if constexpr (std::is_same_v<T, UpdateStatusReady>)
                onReceivedFirmwareUpdateStatusReady(n.id);
            else if constexpr (std::is_same_v<T, UpdateStatusError>)
                onReceivedFirmwareUpdateStatusError(n.id, n.error);
            else
                onReceivedLogOnReupdate(n.id);
        },
        notification);
}

void ManageCanCommunication::onReceivedLogOn(quint16 id, unsigned char status, unsigned char deviceClass)
{
    Q_UNUSED(status)
    modules_.logOn(id, deviceClass);
    sendLogOn(id);
    sendLogOnFollowUp(id);
}

void ManageCanCommunication::onReceivedDeviceInformation(quint16 id, ulong serialNumber,
                                                         QString firmwareReleaseStr, unsigned char channelNumber)
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
