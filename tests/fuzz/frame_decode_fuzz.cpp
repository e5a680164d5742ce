// Frames from the bus as the receive thread decodes them. Input: address word
// (2 bytes, big-endian), length (1 byte, read as signed), data bytes.
//
// The decoder gets a buffer of exactly the frame's length, so a read of a
// byte the frame does not carry is an AddressSanitizer report.
#include "fuzzcheck.h"
#include "protocol.h"

#include <QString>

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

using namespace protocol;

namespace {

// The packed-decimal serial number, computed from the nibbles: hex digits
// without leading zeros, read as decimal up to the first digit above 9.
unsigned long expectedSerial(const uint8_t *data)
{
    const uint32_t packed = uint32_t(data[1]) << 16 | uint32_t(data[2]) << 8 | data[3];
    int shift = 20;
    while (shift > 0 && ((packed >> shift) & 0xF) == 0)
        shift -= 4;
    unsigned long value = 0;
    for (; shift >= 0; shift -= 4) {
        const unsigned nibble = (packed >> shift) & 0xF;
        if (nibble > 9)
            break;
        value = value * 10 + nibble;
    }
    return value;
}

void checkDeviceInformation(const DeviceInformation &info, int length, const uint8_t *data)
{
    FUZZ_CHECK(length >= 7 && data[0] == 0xE0);
    FUZZ_CHECK(info.serialNumber <= 999999);
    FUZZ_CHECK(info.serialNumber == expectedSerial(data));
    const QString &release = info.firmwareReleaseStr;
    FUZZ_CHECK(release.size() == 4 && release[1] == u'.');
    FUZZ_CHECK(release[0] == QChar(u'0' + (data[4] & 0x0F)));
    FUZZ_CHECK(release[2] == QChar(u'0' + (data[5] >> 4)));
    FUZZ_CHECK(release[3] == QChar(u'0' + (data[5] & 0x0F)));
    FUZZ_CHECK(info.channelNumber == data[6]);
}

void checkFirmwareName(const FirmwareName &name, int length, const uint8_t *data)
{
    FUZZ_CHECK(length >= 2 && data[0] == 0x12 && data[1] == 0x03);
    FUZZ_CHECK(name.firmwareName.size() == length - 2 && name.firmwareName.size() <= 6);
    FUZZ_CHECK(name.firmwareName.toLatin1() == QByteArray(reinterpret_cast<const char *>(data + 2), length - 2));
}

bool isUpdateStatus(const Notification &n)
{
    return std::holds_alternative<UpdateStatusReady>(n) || std::holds_alternative<UpdateStatusError>(n)
           || std::holds_alternative<LogOnReupdate>(n);
}

// The status replies 15 xx and the order of their notifications.
void checkUpdateStatus(const std::vector<Notification> &out, int length, const uint8_t *data)
{
    FUZZ_CHECK(length >= 2 && data[0] == 0x15);
    const uint8_t code = data[1];
    const uint16_t id = std::visit([](const auto &n) { return n.id; }, out[0]);
    if (code == 0x81 || code == 0x85) {
        FUZZ_CHECK(out.size() == 2);
        FUZZ_CHECK(out[0] == Notification(UpdateStatusReady{id}));
        FUZZ_CHECK(out[1] == Notification(UpdateStatusError{id, code}));
    } else if (code == 0x99) {
        FUZZ_CHECK(out.size() == 2);
        FUZZ_CHECK(out[0] == Notification(LogOnReupdate{id}));
        FUZZ_CHECK(out[1] == Notification(UpdateStatusReady{id}));
    } else {
        FUZZ_CHECK(code == 0x91 || code == 0x92 || code == 0x93 || code == 0x97 || code == 0x98);
        FUZZ_CHECK(out.size() == 1 && out[0] == Notification(UpdateStatusError{id, code}));
    }
}

void checkNotifications(uint16_t word, int length, const uint8_t *data, const std::vector<Notification> &out)
{
    if (word == DiscardedWord || length < 1 || length > 8) {
        FUZZ_CHECK(out.empty());
        return;
    }
    FUZZ_CHECK(out.size() <= 2);
    for (const Notification &n : out)
        FUZZ_CHECK(std::visit([](const auto &x) { return x.id; }, n) == (word & 0xFFFA));

    // A well-formed frame of a known command is never dropped.
    const bool logOn = data[0] == 0xD8 && length >= 3;
    const bool flashAck = length >= 2 && data[0] == 0x15 && data[1] == 0x00;
    const bool name = length >= 2 && data[0] == 0x12 && data[1] == 0x03;
    if (logOn || flashAck || name)
        FUZZ_CHECK(out.size() == 1);
    if (out.empty())
        return;

    const Notification &first = out.front();
    if (const auto *n = std::get_if<LogOn>(&first)) {
        FUZZ_CHECK(out.size() == 1 && logOn);
        FUZZ_CHECK(n->status == data[1] && n->deviceClass == data[2]);
    } else if (const auto *n = std::get_if<DeviceInformation>(&first)) {
        FUZZ_CHECK(out.size() == 1);
        checkDeviceInformation(*n, length, data);
    } else if (const auto *n = std::get_if<FirmwareRelease>(&first)) {
        FUZZ_CHECK(out.size() == 1 && length >= 5 && data[0] == 0x12 && data[1] == 0x01);
        const auto value = static_cast<uint32_t>(n->firmwareRelease);
        FUZZ_CHECK(value >> 24 == 0x01);
        FUZZ_CHECK((value >> 16 & 0xFF) == data[2] && (value >> 8 & 0xFF) == data[3]
                   && (value & 0xFF) == data[4]);
    } else if (const auto *n = std::get_if<FirmwareName>(&first)) {
        FUZZ_CHECK(out.size() == 1);
        checkFirmwareName(*n, length, data);
    } else if (std::holds_alternative<FlashFrame>(first)) {
        FUZZ_CHECK(out.size() == 1 && flashAck);
    } else {
        FUZZ_CHECK(isUpdateStatus(first));
        checkUpdateStatus(out, length, data);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    FuzzInput input(bytes, size);
    const uint16_t word = input.word();
    const int length = static_cast<int8_t>(input.byte());
    const size_t carried = static_cast<size_t>(std::max(length, 0));

    // Exactly the bytes the frame carries, no more.
    std::unique_ptr<uint8_t[]> frame(new uint8_t[carried]);
    for (size_t i = 0; i < carried; ++i)
        frame[i] = input.byte();
    const std::vector<Notification> out = decodeFrame(word, length, frame.get());
    checkNotifications(word, length, frame.get(), out);

    // The receive buffer is reused from frame to frame: what an earlier,
    // longer frame left behind must not change the result.
    if (length >= 0 && length <= 8) {
        std::array<uint8_t, 8> reused;
        reused.fill(0xA5);
        std::copy_n(frame.get(), carried, reused.begin());
        FUZZ_CHECK(decodeFrame(word, length, reused.data()) == out);
        reused.fill(0x00);
        std::copy_n(frame.get(), carried, reused.begin());
        FUZZ_CHECK(decodeFrame(word, length, reused.data()) == out);
    }
    return 0;
}
