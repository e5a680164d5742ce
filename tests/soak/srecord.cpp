#include "srecord.h"

namespace soak {

namespace {

char dataType(int addressBytes)
{
    return addressBytes == 2 ? '1' : addressBytes == 3 ? '2' : '3';
}

char endType(int addressBytes)
{
    return addressBytes == 2 ? '9' : addressBytes == 3 ? '8' : '7';
}

} // namespace

QString sRecord(char type, uint32_t address, int addressBytes, const QByteArray &data)
{
    QByteArray bytes;
    bytes.append(static_cast<char>(addressBytes + data.size() + 1));
    for (int i = addressBytes - 1; i >= 0; --i)
        bytes.append(static_cast<char>((address >> (8 * i)) & 0xFF));
    bytes.append(data);
    unsigned sum = 0;
    for (char byte : bytes)
        sum += static_cast<uint8_t>(byte);
    bytes.append(static_cast<char>(~sum & 0xFF));
    return QStringLiteral("S") + QLatin1Char(type) + QString::fromLatin1(bytes.toHex().toUpper());
}

QStringList firmwareLines(std::mt19937_64 &random, int lines, int dataBytes, int addressBytes)
{
    QStringList file{sRecord('0', 0, 2, "K3B7 soak")};
    const uint32_t base = 0x1000u * static_cast<uint32_t>(random() % 8);
    for (int i = 0; i < lines - 2; ++i) {
        QByteArray data;
        for (int b = 0; b < dataBytes; ++b)
            data.append(static_cast<char>(random() & 0xFF));
        const auto address = base + static_cast<uint32_t>(dataBytes * i);
        file.append(sRecord(dataType(addressBytes), address, addressBytes, data));
    }
    file.append(sRecord(endType(addressBytes), base, addressBytes, {}));
    return file;
}

} // namespace soak
