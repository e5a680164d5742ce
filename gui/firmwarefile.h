#pragma once

#include <QByteArray>
#include <QString>

enum class FirmwareFileCheck { Valid, CannotOpen, Invalid };

// A firmware file is accepted when it opens and its first line begins with
// the S-record header "S0"; the records themselves are the module's to check.
FirmwareFileCheck checkFirmwareFile(const QString &path);

// The console program's lines that refuse the firmware file itself: it cannot
// be opened or read, or its records do not hold together.
bool refusesFirmwareFile(const QByteArray &line);
