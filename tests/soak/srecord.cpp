#include "srecord.h"

#include "srecordgen.h"

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

QString sRecord(char type, uint32_t address, const QByteArray &data)
{
    const std::vector<uint8_t> bytes(data.begin(), data.end());
    return QString::fromStdString(bench::srecordLine(type - '0', address, bytes));
}

QStringList firmwareLines(std::mt19937_64 &random, int lines, int dataBytes, int addressBytes)
{
    QStringList file{sRecord('0', 0, "K3B7 soak")};
    const uint32_t base = 0x1000u * static_cast<uint32_t>(random() % 8);
    for (int i = 0; i < lines - 2; ++i) {
        QByteArray data;
        for (int b = 0; b < dataBytes; ++b)
            data.append(static_cast<char>(random() & 0xFF));
        const auto address = base + static_cast<uint32_t>(dataBytes * i);
        file.append(sRecord(dataType(addressBytes), address, data));
    }
    file.append(sRecord(endType(addressBytes), base, {}));
    return file;
}

} // namespace soak
