// The progress of a pass: the value of the progress signal and the console's
// progress line, which the front end parses field by field.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace progressline {

// Whole percent of the file consumed; 100 for an empty file.
int percent(qint64 position, qint64 size);

// "Flash ID 208 37.5% S21400200010111213141516171819"
QString line(bool flashing, uint16_t moduleId, qint64 position, qint64 size, const QByteArray &firmwareLine);

} // namespace progressline
