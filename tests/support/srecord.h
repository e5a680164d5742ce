// Motorola S-records for every test and the benchmark: one record writer and
// one generator of firmware files. A file is generated line by line, so that
// one of any size is written without being held in memory.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <functional>

namespace testkit {

// Address bytes of a record type: 2 for S0, S1, S5 and S9, 3 for S2, S6 and
// S8, 4 for S3 and S7.
int addressBytes(int type);

// One record without line end: "S", type, count, address, data, checksum, in
// upper-case hex.
QByteArray sRecord(int type, uint32_t address, const QByteArray &data);

// The data byte at an address of the file drawn from seed: neighbouring
// addresses get unrelated bytes, so that a compare pass finds every misplaced one.
uint8_t dataByteAt(uint32_t address, uint64_t seed = 0);

// A header naming the firmware, data records at rising addresses from base on
// and the end record that fits their address size.
struct FirmwareShape
{
    QByteArray title = "K3B7 test";
    int64_t dataBytes = 12 * 16;
    int bytesPerRecord = 16; // the last record holds what is left
    int addressBytes = 3;    // 2: S1 and S9, 3: S2 and S8, 4: S3 and S7
    uint32_t base = 0x4000;  // the first data address, and the end record's
    uint64_t seed = 0;
};

// Why records of this shape cannot hold its data; empty when they can.
QString shapeProblem(const FirmwareShape &shape);

// Calls put with each line of the file in order, without line end; returns
// the number of lines. The shape must be one without a problem.
int forEachFirmwareLine(const FirmwareShape &shape, const std::function<void(const QByteArray &)> &put);

QList<QByteArray> firmwareRecords(const FirmwareShape &shape);

// The records with lineEnd after each one.
QByteArray joined(const QList<QByteArray> &records, const QByteArray &lineEnd = "\r\n");

// Writes the file line by line; the number of its lines, or -1 with the reason.
int writeFirmwareFile(const QString &path, const FirmwareShape &shape, QString *error,
                      const QByteArray &lineEnd = "\r\n");

} // namespace testkit
