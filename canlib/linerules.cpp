#include "linerules.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace tarvpcan3 {

std::optional<uint16_t> busTimingFor(unsigned bitRateKbit)
{
    switch (bitRateKbit) {
    case 20:
        return 0xE7B4;
    case 50:
        return 0xCFB4;
    case 100:
        return 0xC7B4;
    case 125:
        return 0xC723;
    case 250:
        return 0x0323;
    case 1000:
        return 0x0014;
    default:
        return std::nullopt;
    }
}

const char *driverNameForKind(uint8_t adapterKind)
{
    switch (adapterKind) {
    case 0:
    case 1:
    case 2:
        return "peakcan";
    case 3:
        return "pcan_usb";
    case 4:
        return "pcan_pci";
    default:
        return nullptr;
    }
}

std::string netNameFor(unsigned line)
{
    return "tarvnet" + std::to_string(line);
}

void busStatusText(uint16_t status, char *out, std::size_t outSize)
{
    const char *text = nullptr;
    switch (status) {
    case 0x0000:
        text = "OK";
        break;
    case 0x0002:
        text = "OVERRUN";
        break;
    case 0x0004:
        text = "BUSLIGHT";
        break;
    case 0x0008:
        text = "BUSHEAVY";
        break;
    case 0x0010:
        text = "BUSOFF";
        break;
    case 0x0200:
        text = "NOVXD";
        break;
    case 0x1400:
        text = "ILLHW";
        break;
    default:
        break;
    }
    if (text != nullptr)
        std::snprintf(out, outSize, "%s", text);
    else
        std::snprintf(out, outSize, "%u", static_cast<unsigned>(status));
}

bool hardwareBelongsToLine(unsigned hardware, uint32_t kind, unsigned line)
{
    if (hardware == 0)
        return true;
    if (kind >= 1 && kind <= 3)
        return hardware == line + 1;
    return hardware == kHardwareHandles - line;
}

bool clientTableInUse(const uint8_t *table, std::size_t size)
{
    return std::find(table, table + size, uint8_t{1}) != table + size;
}

std::optional<RxRecord> rxRecordFrom(const ApiFrame &frame, const ApiTimeStamp &stamp, unsigned line, uint8_t net)
{
    RxRecord record;
    if (frame.type == 0)
        record.id = frame.id | ((line << kFirstLineBit) & 0xF000u);
    else if (frame.type == API_FRAME_EXT)
        record.id = frame.id;
    else
        return std::nullopt;
    record.type = frame.type;
    record.length = frame.length;
    std::memcpy(record.data, frame.data, sizeof record.data);
    record.net = net;
    record.millis = stamp.millis;
    record.millisOverflow = stamp.millisOverflow;
    record.micros = stamp.micros;
    return record;
}

void unpackRxRecord(const RxRecord &record, uint16_t *id, uint8_t *frameBuffer)
{
    if (id != nullptr)
        *id = static_cast<uint16_t>(record.id & 0xFFFFu);
    if (frameBuffer != nullptr) {
        const uint8_t length = std::min<uint8_t>(record.length, 8);
        frameBuffer[0] = length;
        std::memcpy(frameBuffer + 1, record.data, length);
    }
}

ApiFrame dataFrameFrom(uint32_t id, uint8_t type, const uint8_t *frameBuffer)
{
    ApiFrame frame{};
    frame.id = id;
    frame.type = type;
    if (frameBuffer != nullptr) {
        frame.length = std::min<uint8_t>(frameBuffer[0], 8);
        std::memcpy(frame.data, frameBuffer + 1, frame.length);
    }
    return frame;
}

void versionText(unsigned major, unsigned minor, unsigned patch, char *out, std::size_t outSize)
{
    std::snprintf(out, outSize, "%c.%c%cp", static_cast<char>('0' + major), static_cast<char>('0' + minor),
                  static_cast<char>('0' + patch));
}

} // namespace tarvpcan3
