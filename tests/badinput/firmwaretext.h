// Firmware files for the bad-input cases: valid S-records with correct
// checksums, written with whatever line ends a case needs.
#pragma once

#include <QByteArray>
#include <QList>

namespace badinput {

// One record of the given type with an address of 2, 3 or 4 bytes as the type
// demands, upper-case hex, no line end.
QByteArray sRecord(int type, quint32 address, const QByteArray &data);

// A header naming K3B7, `dataLines` S2 records of 16 bytes each and an S8
// end record, without line ends.
QList<QByteArray> firmwareRecords(int dataLines);

// The records joined with `lineEnd` after each one.
QByteArray joined(const QList<QByteArray> &records, const QByteArray &lineEnd);

} // namespace badinput
