// Refuses a firmware file that cannot be flashed, before any CAN activity: a
// module must never be put into update mode for it.
#pragma once

#include "srecordformat.h"

#include <QByteArray>
#include <QString>

class QIODevice;

namespace firmwarecheck {

// A raw line may carry white space around the record; beyond this it is not
// a record line at all, and it is never read whole.
constexpr int LongestRawLine = 4 * srecord::LongestRecord;

enum class LineProblem { None, NotPrintable, TooLong, NotSRecord, BadCount, BadChecksum };

// One raw line (its line end included or not). Blank lines pass.
LineProblem checkLine(const QByteArray &rawLine);

struct FileCheck
{
    bool ok = false;
    int lineNumber = 0; // 1-based; 0 when the file as a whole is refused
    QString message;    // one line beginning with "Error:"
    int lines = 0;      // lines of the file, blank ones included
};

// Reads the device line by line from its current position.
FileCheck checkFile(QIODevice &file, const QString &fileName);

} // namespace firmwarecheck
