#include "canmessage.h"

#include <algorithm>

namespace {
constexpr uint32_t AddressMask = 0x1FFFFFFF;
}

CanMessage::CanMessage(uint32_t address, const QByteArray &data)
    : address_(address & AddressMask)
    , data_(data.left(MaxData))
{}

void CanMessage::setCommandWord(uint16_t word)
{
    if (data_.size() < 2)
        data_.resize(2);
    data_[0] = static_cast<char>(word >> 8);
    data_[1] = static_cast<char>(word & 0xFF);
}

void CanMessage::appendByte(uint8_t byte)
{
    if (data_.size() < MaxData)
        data_.append(static_cast<char>(byte));
}

void CanMessage::appendBytes(const QByteArray &bytes)
{
    data_.append(bytes);
    data_.truncate(MaxData);
}

CanMessage::DriverBuffer CanMessage::toDriverBuffer() const
{
    DriverBuffer buffer{};
    buffer[0] = static_cast<uint8_t>(data_.size());
    std::copy(data_.cbegin(), data_.cend(), buffer.begin() + 1);
    return buffer;
}
