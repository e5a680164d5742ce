#include "firmwarefile.h"

#include <QFile>

FirmwareFileCheck checkFirmwareFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return FirmwareFileCheck::CannotOpen;
    // Only the opening bytes matter; a file without line ends must not be read whole.
    const QByteArray start = file.read(2);
    return start == "S0" ? FirmwareFileCheck::Valid : FirmwareFileCheck::Invalid;
}
