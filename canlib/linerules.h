// Fixed rules of the driver library: bus timings, driver names, status texts,
// which registrations belong to a line, and the coding of received frames.
#pragma once

#include "canapi.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace tarvpcan3 {

inline constexpr int kHardwareHandles = 16;
inline constexpr int kNetHandles = 32;
inline constexpr int kClientHandles = 32;
inline constexpr uint16_t kFirstLineBit = 12;

// SJA1000 BTR0 (high byte) and BTR1 (low byte) for a 16 MHz oscillator.
std::optional<uint16_t> busTimingFor(unsigned bitRateKbit);

// Driver that an adapter kind loads; none for kinds the library does not know.
const char *driverNameForKind(uint8_t adapterKind);

// "tarvnet" followed by the line number.
std::string netNameFor(unsigned line);

// The adapter's bus-status word as GetCanStatus reports it; the word is mapped
// as a whole, so combined bits come out as a number.
void busStatusText(uint16_t status, char *out, std::size_t outSize);

// Whether hardware handle h with kind value k is the one a line's nets sit on.
bool hardwareBelongsToLine(unsigned hardware, uint32_t kind, unsigned line);

// Whether a client's net table (parameter 22) shows it connected to any net.
bool clientTableInUse(const uint8_t *table, std::size_t size);

// One received frame as the line's queue keeps it.
struct RxRecord
{
    uint32_t id = 0;
    uint8_t type = 0;
    uint8_t length = 0;
    uint8_t data[8] = {};
    uint8_t net = 0;
    uint32_t millis = 0;
    uint16_t millisOverflow = 0;
    uint16_t micros = 0;
};

// The record of a delivered frame; none for remote requests and any type but
// standard or 29-bit data frames.
std::optional<RxRecord> rxRecordFrom(const ApiFrame &frame, const ApiTimeStamp &stamp, unsigned line,
                                     uint8_t net);

// Identifier and frame buffer (length byte, then up to 8 bytes) handed to callers.
void unpackRxRecord(const RxRecord &record, uint16_t *id, uint8_t *frameBuffer);

// The frame Write2Can sends: data length capped at 8.
ApiFrame dataFrameFrom(uint32_t id, uint8_t type, const uint8_t *frameBuffer);

// '0' + major, '.', '0' + minor, '0' + patch, 'p'.
void versionText(unsigned major, unsigned minor, unsigned patch, char *out, std::size_t outSize);

} // namespace tarvpcan3
