#pragma once

#include <QString>

enum class FirmwareFileCheck { Valid, CannotOpen, Invalid };

// A firmware file is accepted when it opens and its first line begins with
// the S-record header "S0"; the records themselves are the module's to check.
FirmwareFileCheck checkFirmwareFile(const QString &path);
