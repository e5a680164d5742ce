#include "bustiming.h"

#include <algorithm>
#include <array>

namespace canapi {

namespace {

constexpr uint32_t kOscillatorHz = 16000000;
constexpr uint32_t kMaxBitRate = 1000000;
constexpr uint32_t kMinBitRate = 5000;
// CRC delimiter, ACK slot, ACK delimiter, end of frame, intermission: never stuffed.
constexpr int kUnstuffedTail = 1 + 1 + 1 + 7 + 3;

// The stuffed part of a frame (start of frame to the end of the CRC), one bit
// per entry, in the order it goes on the wire.
class BitString
{
public:
    void put(uint32_t value, int width)
    {
        for (int i = width - 1; i >= 0; --i)
            bits_[size_++] = static_cast<uint8_t>((value >> i) & 1u);
    }
    int size() const { return size_; }
    uint8_t at(int i) const { return bits_[static_cast<size_t>(i)]; }
    uint16_t crc() const
    {
        std::array<uint8_t, 16> packed{};
        for (int i = 0; i < size_; ++i)
            packed[static_cast<size_t>(i / 8)] |= static_cast<uint8_t>(at(i) << (7 - i % 8));
        return crc15(packed.data(), size_);
    }

private:
    // 39 header bits + 64 data bits + 15 CRC bits at most.
    std::array<uint8_t, 128> bits_{};
    int size_ = 0;
};

uint8_t dataLength(const ApiFrame &frame)
{
    return std::min<uint8_t>(frame.length, 8);
}

BitString stuffedRegion(const ApiFrame &frame)
{
    const bool remote = (frame.type & API_FRAME_RTR) != 0;
    const uint32_t id = wireId(frame);
    BitString s;
    s.put(0, 1); // start of frame
    if (frame.type & API_FRAME_EXT) {
        s.put(id >> 18, 11);
        s.put(1, 1); // substitute remote request
        s.put(1, 1); // identifier extension
        s.put(id & 0x3FFFFu, 18);
        s.put(remote ? 1 : 0, 1);
        s.put(0, 2); // r1, r0
    } else {
        s.put(id, 11);
        s.put(remote ? 1 : 0, 1);
        s.put(0, 1); // identifier extension
        s.put(0, 1); // r0
    }
    // The length code goes on the wire as given (0..15), even where only 8
    // data bytes follow.
    s.put(frame.length & 0x0Fu, 4);
    if (!remote) {
        for (int i = 0; i < dataLength(frame); ++i)
            s.put(frame.data[i], 8);
    }
    s.put(s.crc(), 15);
    return s;
}

int countStuffBits(const BitString &s)
{
    int stuffed = 0;
    int run = 0;
    uint8_t last = 2;
    for (int i = 0; i < s.size(); ++i) {
        const uint8_t bit = s.at(i);
        run = (bit == last) ? run + 1 : 1;
        last = bit;
        if (run == 5) {
            // The stuff bit has the opposite value and starts the next run.
            ++stuffed;
            last = static_cast<uint8_t>(bit ^ 1u);
            run = 1;
        }
    }
    return stuffed;
}

} // namespace

uint32_t wireId(const ApiFrame &frame)
{
    return (frame.type & API_FRAME_EXT) ? (frame.id & 0x1FFFFFFFu) : (frame.id & 0x7FFu);
}

uint32_t bitRateFromBusTiming(uint16_t btr0btr1)
{
    const uint32_t btr0 = btr0btr1 >> 8;
    const uint32_t btr1 = btr0btr1 & 0xFFu;
    const uint32_t prescaler = (btr0 & 0x3Fu) + 1;
    const uint32_t tseg1 = (btr1 & 0x0Fu) + 1;
    const uint32_t tseg2 = ((btr1 >> 4) & 0x07u) + 1;
    const uint32_t quantaPerBit = 1 + tseg1 + tseg2;
    const uint32_t divisor = 2 * prescaler * quantaPerBit;
    // Only rates the oscillator divides exactly: anything else is a word no
    // one meant (and the table of the driver only has exact ones).
    if (kOscillatorHz % divisor != 0)
        return 0;
    const uint32_t rate = kOscillatorHz / divisor;
    if (rate < kMinBitRate || rate > kMaxBitRate)
        return 0;
    return rate;
}

uint16_t crc15(const uint8_t *bits, int bitCount)
{
    uint16_t crc = 0;
    for (int i = 0; i < bitCount; ++i) {
        const unsigned bit = (bits[i / 8] >> (7 - i % 8)) & 1u;
        const unsigned next = bit ^ ((crc >> 14) & 1u);
        crc = static_cast<uint16_t>((crc << 1) & 0x7FFFu);
        if (next)
            crc ^= 0x4599u;
    }
    return crc;
}

int stuffBits(const ApiFrame &frame)
{
    return countStuffBits(stuffedRegion(frame));
}

int frameBits(const ApiFrame &frame)
{
    const BitString s = stuffedRegion(frame);
    return s.size() + kUnstuffedTail + countStuffBits(s);
}

} // namespace canapi
