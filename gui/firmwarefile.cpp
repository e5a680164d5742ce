#include "firmwarefile.h"

#include <QFile>
#include <QFileInfo>

FirmwareFileCheck checkFirmwareFile(const QString &path)
{
    // A pipe or device would block the window in open() or never end.
    if (!QFileInfo(path).isFile())
        return FirmwareFileCheck::CannotOpen;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return FirmwareFileCheck::CannotOpen;
    // Only the opening bytes matter; a file without line ends must not be read whole.
    const QByteArray start = file.read(2);
    return start == "S0" ? FirmwareFileCheck::Valid : FirmwareFileCheck::Invalid;
}

bool refusesFirmwareFile(const QByteArray &line)
{
    return line.startsWith("Error: Firmware file '") || line.startsWith("Can not open file '");
}
