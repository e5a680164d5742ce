#include "protocol.h"

namespace protocol {

namespace {

CanMessage frame(uint16_t address, std::initializer_list<uint8_t> bytes)
{
    QByteArray data;
    for (uint8_t byte : bytes)
        data.append(static_cast<char>(byte));
    return CanMessage(address, data);
}

// Command bytes, and the words of a command byte and its request byte. The
// fixed payloads (pattern, follow-up, sequences) stand in their frames below.
constexpr uint8_t CmdLogOn = 0xD8;
constexpr uint8_t LogOff = 0x00;
constexpr uint8_t LogOnRequest = 0x01;
constexpr uint8_t CmdDeviceInformation = 0xE0;
constexpr uint8_t CmdRequest = 0x12;
constexpr uint8_t Request1200 = 0x00;
constexpr uint8_t RequestFirmwareRelease = 0x01;
constexpr uint8_t RequestFirmwareName = 0x03;
constexpr uint16_t CmdFirmwareRelease = CmdRequest << 8 | RequestFirmwareRelease;
constexpr uint16_t CmdFirmwareName = CmdRequest << 8 | RequestFirmwareName;
constexpr uint8_t CmdUpdate = 0x15;
constexpr uint16_t CmdFlashFrame = CmdUpdate << 8 | status::FlashFrameAck;

std::vector<Notification> decodeUpdateStatus(uint16_t id, uint8_t code)
{
    using namespace status;
    switch (code) {
    case FlashFrameAck:
        return {FlashFrame{id}};
    case LineAccepted:
    case LineAcceptedToo:
        return {UpdateStatusReady{id}, UpdateStatusError{id, code}};
    case FlashError:
    case ChecksumError:
    case FlashErrorToo:
    case GeneralProjectVersion:
    case UpdateVersionToHigh:
        return {UpdateStatusError{id, code}};
    case Reupdate:
        return {LogOnReupdate{id}, UpdateStatusReady{id}};
    default:
        return {};
    }
}

QString releaseText(uint8_t major, uint8_t minor)
{
    const char text[] = {char('0' + (major & 0x0F)), '.', char('0' + (minor >> 4)), char('0' + (minor & 0x0F))};
    return QString::fromLatin1(text, 4);
}

} // namespace

QList<CanMessage> logOffAllFrames(uint16_t canLine)
{
    QList<CanMessage> frames;
    for (int a = 0; a < ModuleAddresses; ++a)
        frames.append(frame(logOffAddress(canLine, a), {CmdLogOn, LogOff}));
    return frames;
}

CanMessage logOnFrame(uint16_t canLine, uint16_t id)
{
    return frame(commandAddress(canLine, id), {CmdLogOn, LogOnRequest});
}

CanMessage logOnFollowUpFrame(uint16_t canLine, uint16_t id)
{
    return frame(commandAddress(canLine, id), {CmdRequest, 0xA0, 0x00, 0x01});
}

CanMessage patternFrame()
{
    return frame(PatternWord, {0x12, 0x34, 0x12, 0x34, 0x56, 0x78});
}

// The sequences on 0x004 follow the run's line: on the fixed word they would
// reach modules on line 0 only.
CanMessage openingSequenceFrame(uint16_t canLine)
{
    return frame(commandAddress(canLine, SequenceId), {0xF4, 0x15, 0xE6});
}

QList<CanMessage> closingSequenceFrames(uint16_t canLine)
{
    const uint16_t address = commandAddress(canLine, SequenceId);
    return {frame(address, {0xC8}), frame(address, {0xCC}), frame(address, {0xC4})};
}

CanMessage request1200Frame(uint16_t canLine, uint16_t current)
{
    return frame(requestAddress(canLine, current), {CmdRequest, Request1200});
}

CanMessage firmwareReleaseRequestFrame(uint16_t canLine, uint16_t current)
{
    return frame(requestAddress(canLine, current), {CmdRequest, RequestFirmwareRelease});
}

CanMessage firmwareNameRequestFrame(uint16_t canLine, uint16_t current)
{
    return frame(requestAddress(canLine, current), {CmdRequest, RequestFirmwareName});
}

CanMessage updateCommandFrame(uint16_t canLine, uint16_t current, UpdateCommand command)
{
    return frame(commandAddress(canLine, current), {CmdUpdate, command});
}

CanMessage flashDataFrame(uint16_t canLine, uint16_t current, const QByteArray &text)
{
    CanMessage message(requestAddress(canLine, current), {});
    message.setCommandWord(CmdFlashFrame);
    message.appendBytes(text);
    return message;
}

unsigned long serialNumberFromPacked(uint32_t packed)
{
    const QByteArray hex = QByteArray::number(packed & 0xFFFFFF, 16);
    unsigned long value = 0;
    for (char c : hex) {
        if (c < '0' || c > '9')
            break;
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    return value;
}

std::vector<Notification> decodeFrame(uint16_t word, int length, const uint8_t *data)
{
    if (word == DiscardedWord || length < 1 || length > 8)
        return {};
    const uint16_t id = moduleIdOf(word);

    if (data[0] & 0x80) {
        if (data[0] == CmdLogOn && length >= 3)
            return {LogOn{id, data[1], data[2]}};
        if (data[0] == CmdDeviceInformation && length >= 7) {
            const uint32_t packed = uint32_t(data[1]) << 16 | uint32_t(data[2]) << 8 | data[3];
            return {
                DeviceInformation{id, serialNumberFromPacked(packed), releaseText(data[4], data[5]), data[6]}};
        }
        return {};
    }

    if (length < 2)
        return {};
    const uint16_t command = static_cast<uint16_t>(data[0] << 8 | data[1]);
    if (command == CmdFirmwareRelease && length >= 5) {
        const uint32_t release =
            uint32_t(data[1]) << 24 | uint32_t(data[2]) << 16 | uint32_t(data[3]) << 8 | data[4];
        return {FirmwareRelease{id, static_cast<int32_t>(release)}};
    }
    if (command == CmdFirmwareName) {
        const auto *name = reinterpret_cast<const char *>(data + 2);
        return {FirmwareName{id, QString::fromLatin1(name, length - 2)}};
    }
    if (data[0] == CmdUpdate)
        return decodeUpdateStatus(id, data[1]);
    return {};
}

} // namespace protocol
