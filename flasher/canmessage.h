// One outgoing CAN frame in memory: an address word and up to 8 data bytes.
#pragma once

#include <QByteArray>

#include <array>
#include <cstdint>

class CanMessage
{
public:
    static constexpr int MaxData = 8;
    // Driver frame buffer: byte 0 the length, bytes 1..8 the data, rest zero.
    using DriverBuffer = std::array<uint8_t, 10>;

    CanMessage() = default;
    CanMessage(uint32_t address, const QByteArray &data);

    uint32_t address() const { return address_; }
    const QByteArray &data() const { return data_; }

    // Big-endian into data[0..1]; grows the frame to at least two bytes.
    void setCommandWord(uint16_t word);
    void appendByte(uint8_t byte);
    void appendBytes(const QByteArray &bytes);

    DriverBuffer toDriverBuffer() const;

    bool operator==(const CanMessage &) const = default;

private:
    uint32_t address_ = 0;
    QByteArray data_;
};
