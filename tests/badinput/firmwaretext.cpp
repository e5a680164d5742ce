#include "firmwaretext.h"

namespace badinput {

namespace {

int addressBytes(int type)
{
    switch (type) {
    case 2: case 6: case 8: return 3;
    case 3: case 7: return 4;
    default: return 2;
    }
}

} // namespace

QByteArray sRecord(int type, quint32 address, const QByteArray &data)
{
    const int addrLen = addressBytes(type);
    QByteArray bytes;
    bytes.append(static_cast<char>(addrLen + data.size() + 1));
    for (int shift = 8 * (addrLen - 1); shift >= 0; shift -= 8)
        bytes.append(static_cast<char>(address >> shift));
    bytes.append(data);
    unsigned sum = 0;
    for (char byte : bytes)
        sum += static_cast<quint8>(byte);
    bytes.append(static_cast<char>(0xFF - (sum & 0xFF)));
    return "S" + QByteArray::number(type) + bytes.toHex().toUpper();
}

QList<QByteArray> firmwareRecords(int dataLines)
{
    QList<QByteArray> records{sRecord(0, 0, "K3B7 bad input")};
    quint32 seed = 0x2545F491;
    for (int line = 0; line < dataLines; ++line) {
        QByteArray data;
        for (int i = 0; i < 16; ++i) {
            seed = seed * 1103515245u + 12345u;
            data.append(static_cast<char>(seed >> 16));
        }
        records.append(sRecord(2, 0x4000 + 16 * quint32(line), data));
    }
    records.append(sRecord(8, 0x4000, {}));
    return records;
}

QByteArray joined(const QList<QByteArray> &records, const QByteArray &lineEnd)
{
    QByteArray text;
    for (const QByteArray &record : records)
        text += record + lineEnd;
    return text;
}

} // namespace badinput
