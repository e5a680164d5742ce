// Bit-level facts about CAN 2.0 frames on the wire: identifiers, bit timing
// registers and frame length with stuff bits.
#pragma once

#include "canapi.h"

#include <cstdint>

namespace canapi {

// The identifier as it travels: a standard frame has room for 11 bits only,
// so whatever the caller put above them never reaches the bus.
uint32_t wireId(const ApiFrame &frame);

// Bit rate in bit/s of an SJA1000 bus-timing word (BTR0 high byte, BTR1 low
// byte, 16 MHz oscillator); 0 when the word gives no rate a CAN bus can run at.
uint32_t bitRateFromBusTiming(uint16_t btr0btr1);

// CRC-15 of CAN 2.0 over the first bitCount bits of bits (most significant
// bit of bits[0] first).
uint16_t crc15(const uint8_t *bits, int bitCount);

// Bits the frame occupies on the bus, start of frame to the end of the
// intermission: 47 + 8 x data bytes for a standard data frame, 67 + 8 x data
// bytes for an extended one, plus the stuff bits that its actual content
// needs. Remote frames carry no data field.
int frameBits(const ApiFrame &frame);

// Stuff bits the frame needs (part of frameBits).
int stuffBits(const ApiFrame &frame);

} // namespace canapi
