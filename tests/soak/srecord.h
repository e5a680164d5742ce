// Firmware files for the soak: Motorola S-records with random data.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <random>

namespace soak {

// One record: type '0'..'9' (which sets the address size), address, data.
QString sRecord(char type, uint32_t address, const QByteArray &data);

// A file of `lines` lines (at least 3): an S0 header, data records of
// dataBytes random bytes each at rising addresses, and the end record that
// matches the address size.
QStringList firmwareLines(std::mt19937_64 &random, int lines, int dataBytes, int addressBytes);

} // namespace soak
