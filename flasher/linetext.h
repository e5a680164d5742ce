// The firmware file's lines as they travel and as the progress lines show them.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace linetext {

// Trims white space, folds inner runs into one space, appends CR LF.
QByteArray normalise(const QByteArray &rawLine);

// The line without its CR LF, as the line-check messages quote it.
QByteArray withoutLineEnd(const QByteArray &line);

// Whole percent of the file consumed; 100 for an empty file.
int progressPercent(qint64 position, qint64 size);

// "Flash ID 208 37.5% S21400200010111213141516171819"
QString progressLine(bool flashing, uint16_t moduleId, qint64 position, qint64 size,
                     const QByteArray &line);

} // namespace linetext
