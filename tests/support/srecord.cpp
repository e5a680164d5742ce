#include "srecord.h"

#include <QFile>

#include <algorithm>

namespace testkit {

namespace {

int dataType(int addressBytes)
{
    return addressBytes - 1;
}

int endType(int addressBytes)
{
    return 11 - addressBytes;
}

} // namespace

int addressBytes(int type)
{
    switch (type) {
    case 2:
    case 6:
    case 8:
        return 3;
    case 3:
    case 7:
        return 4;
    default:
        return 2;
    }
}

QByteArray sRecord(int type, uint32_t address, const QByteArray &data)
{
    const int width = addressBytes(type);
    QByteArray bytes;
    bytes.append(static_cast<char>(width + data.size() + 1));
    for (int shift = 8 * (width - 1); shift >= 0; shift -= 8)
        bytes.append(static_cast<char>(address >> shift));
    bytes.append(data);
    unsigned sum = 0;
    for (char byte : bytes)
        sum += static_cast<uint8_t>(byte);
    bytes.append(static_cast<char>(~sum));
    return 'S' + QByteArray::number(type) + bytes.toHex().toUpper();
}

uint8_t dataByteAt(uint32_t address, uint64_t seed)
{
    // A 32-bit integer hash of address and seed.
    uint32_t x = (address ^ static_cast<uint32_t>(seed ^ (seed >> 32))) * 0x9E3779B1u + 0x7F4A7C15u;
    x ^= x >> 16;
    x *= 0x85EBCA6Bu;
    x ^= x >> 13;
    x *= 0xC2B2AE35u;
    x ^= x >> 16;
    return static_cast<uint8_t>(x);
}

QString shapeProblem(const FirmwareShape &shape)
{
    const int width = shape.addressBytes;
    const int64_t addresses = int64_t{1} << (8 * std::clamp(width, 2, 4));
    if (width < 2 || width > 4)
        return QStringLiteral("records have 2, 3 or 4 address bytes, not %1").arg(width);
    if (shape.bytesPerRecord < 1 || shape.bytesPerRecord > 254 - width)
        return QStringLiteral("a record with %1 address bytes holds 1 to %2 data bytes, not %3")
            .arg(width)
            .arg(254 - width)
            .arg(shape.bytesPerRecord);
    if (shape.dataBytes < 0 || shape.base + shape.dataBytes > addresses)
        return QStringLiteral("%1 bytes from 0x%2 do not fit %3-byte addresses")
            .arg(shape.dataBytes)
            .arg(shape.base, 0, 16)
            .arg(width);
    return {};
}

int forEachFirmwareLine(const FirmwareShape &shape, const std::function<void(const QByteArray &)> &put)
{
    put(sRecord(0, 0, shape.title));
    int lines = 1;
    QByteArray chunk;
    for (int64_t offset = 0; offset < shape.dataBytes; offset += shape.bytesPerRecord) {
        const auto address = static_cast<uint32_t>(shape.base + offset);
        chunk.resize(static_cast<qsizetype>(std::min<int64_t>(shape.bytesPerRecord, shape.dataBytes - offset)));
        for (qsizetype i = 0; i < chunk.size(); ++i)
            chunk[i] = static_cast<char>(dataByteAt(address + static_cast<uint32_t>(i), shape.seed));
        put(sRecord(dataType(shape.addressBytes), address, chunk));
        ++lines;
    }
    put(sRecord(endType(shape.addressBytes), shape.base, {}));
    return lines + 1;
}

QList<QByteArray> firmwareRecords(const FirmwareShape &shape)
{
    QList<QByteArray> records;
    forEachFirmwareLine(shape, [&](const QByteArray &line) { records.append(line); });
    return records;
}

QByteArray joined(const QList<QByteArray> &records, const QByteArray &lineEnd)
{
    QByteArray text;
    for (const QByteArray &record : records)
        text += record + lineEnd;
    return text;
}

int writeFirmwareFile(const QString &path, const FirmwareShape &shape, QString *error, const QByteArray &lineEnd)
{
    *error = shapeProblem(shape);
    if (!error->isEmpty())
        return -1;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        *error = QStringLiteral("cannot create %1: %2").arg(path, file.errorString());
        return -1;
    }
    bool written = true;
    const int lines = forEachFirmwareLine(shape, [&](const QByteArray &line) {
        written = written && file.write(line) == line.size() && file.write(lineEnd) == lineEnd.size();
    });
    if (!written || !file.flush()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return -1;
    }
    return lines;
}

} // namespace testkit
