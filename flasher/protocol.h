// The modules' CAN protocol: address words, the frames the flasher sends and
// the decoding of the frames it receives.
//
// Address word: bits 12..15 the CAN line, bits 0..10 the 11-bit identifier.
// Module id: a received address word with bits 0 and 2 cleared; requests and
// flash data go to id | 1, log-on and update commands to the id itself.
// Command word: data[0] alone when its bit 7 is set, else data[0] << 8 | data[1].
//
//   sent                         address word            data
//   log-off sweep, a = 0..63     L | 0x200 + 8a          D8 00
//   log-on                       L | id (or 0x7FF)       D8 01
//   log-on follow-up             L | id                  12 A0 00 01
//   pattern                      0x1E01 (fixed)          12 34 12 34 56 78
//   opening sequence             L | 0x004               F4 15 E6
//   closing sequence             L | 0x004               C8 / CC / C4
//   requests                     L | id | 1              12 00 / 12 01 / 12 03
//   update command               L | id                  15 code
//   flash data                   L | id | 1              15 00 + up to 6 bytes
//
//   received (word 0x7E7 dropped)    notifications
//   D8 st class                      LogOn
//   E0 s2 s1 s0 r0 r1 ch             DeviceInformation
//   12 01 b2 b1 b0                   FirmwareRelease (0x01b2b1b0)
//   12 03 name...                    FirmwareName
//   15 00                            FlashFrame
//   15 81 / 15 85                    UpdateStatusReady, UpdateStatusError
//   15 91 / 92 / 93 / 97 / 98        UpdateStatusError
//   15 99                            LogOnReupdate, UpdateStatusReady
#pragma once

#include "canmessage.h"

#include <QList>
#include <QString>

#include <chrono>
#include <cstdint>
#include <variant>
#include <vector>

namespace protocol {

using namespace std::chrono_literals;

constexpr uint16_t ModuleIdMask = 0xFFFA;
constexpr uint16_t IdentifierBits = 0x7FF; // of an address word or a module id
constexpr int CanLineShift = 12;
constexpr uint16_t BroadcastLogOnId = 0x7FF;
constexpr uint16_t DiscardedWord = 0x7E7;
constexpr uint16_t PatternWord = 0x1E01;
constexpr uint16_t SequenceId = 0x004;
constexpr int ModuleAddresses = 64;
constexpr int FlashTextPerFrame = 6;
// After the first and the second frame of the closing sequence.
constexpr auto ClosingPauseFirst = 500ms;
constexpr auto ClosingPauseSecond = 1000ms;

// The code of an update command, 15 code.
enum UpdateCommand : uint8_t { Announce = 0, Flash = 3, Compare = 5, Restart = 6 };

// The status codes a module reports as 15 code.
namespace status {
constexpr uint8_t FlashFrameAck = 0x00;
constexpr uint8_t LineAccepted = 0x81;
constexpr uint8_t LineAcceptedToo = 0x85;
constexpr uint8_t FlashError = 0x91;
constexpr uint8_t ChecksumError = 0x92;
constexpr uint8_t FlashErrorToo = 0x93;
constexpr uint8_t OtherErrorFirst = 0x94;
constexpr uint8_t GeneralProjectVersion = 0x97;
constexpr uint8_t UpdateVersionToHigh = 0x98;
constexpr uint8_t OtherErrorLast = UpdateVersionToHigh;
constexpr uint8_t Reupdate = 0x99;
} // namespace status

constexpr uint16_t canLineBits(uint16_t canLine)
{
    return static_cast<uint16_t>(canLine << CanLineShift);
}
constexpr uint16_t moduleIdOf(uint16_t word)
{
    return word & ModuleIdMask;
}
constexpr uint16_t identifierOf(uint16_t word)
{
    return word & IdentifierBits;
}
constexpr uint16_t requestAddress(uint16_t canLine, uint16_t id)
{
    return static_cast<uint16_t>(canLineBits(canLine) | id | 1);
}
constexpr uint16_t commandAddress(uint16_t canLine, uint16_t id)
{
    return static_cast<uint16_t>(canLineBits(canLine) | id);
}
constexpr uint16_t logOffAddress(uint16_t canLine, int moduleAddress)
{
    return static_cast<uint16_t>(canLineBits(canLine) | ((moduleAddress | 0x40) << 3));
}

QList<CanMessage> logOffAllFrames(uint16_t canLine);
CanMessage logOnFrame(uint16_t canLine, uint16_t id);
CanMessage logOnFollowUpFrame(uint16_t canLine, uint16_t id);
CanMessage patternFrame();
CanMessage openingSequenceFrame(uint16_t canLine);
// C8, CC, C4, with the closing pauses between them.
QList<CanMessage> closingSequenceFrames(uint16_t canLine);
// 12 00, the request for the module's device information.
CanMessage request1200Frame(uint16_t canLine, uint16_t current);
CanMessage firmwareReleaseRequestFrame(uint16_t canLine, uint16_t current);
CanMessage firmwareNameRequestFrame(uint16_t canLine, uint16_t current);
CanMessage updateCommandFrame(uint16_t canLine, uint16_t current, UpdateCommand command);
// Only the first six bytes of text fit beside the command word.
CanMessage flashDataFrame(uint16_t canLine, uint16_t current, const QByteArray &text);

struct LogOn
{
    uint16_t id;
    uint8_t status;
    uint8_t deviceClass;
    bool operator==(const LogOn &) const = default;
};
struct DeviceInformation
{
    uint16_t id;
    unsigned long serialNumber;
    QString firmwareReleaseStr;
    uint8_t channelNumber;
    bool operator==(const DeviceInformation &) const = default;
};
struct FirmwareRelease
{
    uint16_t id;
    int32_t firmwareRelease;
    bool operator==(const FirmwareRelease &) const = default;
};
struct FirmwareName
{
    uint16_t id;
    QString firmwareName;
    bool operator==(const FirmwareName &) const = default;
};
struct FlashFrame
{
    uint16_t id;
    bool operator==(const FlashFrame &) const = default;
};
struct UpdateStatusReady
{
    uint16_t id;
    bool operator==(const UpdateStatusReady &) const = default;
};
struct UpdateStatusError
{
    uint16_t id;
    uint8_t error;
    bool operator==(const UpdateStatusError &) const = default;
};
struct LogOnReupdate
{
    uint16_t id;
    bool operator==(const LogOnReupdate &) const = default;
};

using Notification = std::variant<LogOn, DeviceInformation, FirmwareRelease, FirmwareName, FlashFrame,
                                  UpdateStatusReady, UpdateStatusError, LogOnReupdate>;

// The notifications of one received frame, in the order they are announced.
// A frame shorter than the bytes its command reads gives none.
std::vector<Notification> decodeFrame(uint16_t word, int length, const uint8_t *data);

// The serial number travels as packed decimal digits: the 24-bit value in hex,
// read back as a decimal number up to its first non-digit.
unsigned long serialNumberFromPacked(uint32_t packed);

} // namespace protocol
