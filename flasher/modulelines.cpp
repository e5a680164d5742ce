#include "modulelines.h"

namespace {

const QString None = QStringLiteral("(none)");

QString moduleText(uint16_t id)
{
    return QStringLiteral("Module %1: ").arg(id, 0, 16);
}

} // namespace

QString identityLine(uint16_t id, const ModuleRecord &record)
{
    const bool informed = record.informed;
    return moduleText(id)
           + QStringLiteral("name %1, serial %2, release %3, channel %4")
                 .arg(record.firmwareName.isEmpty() ? None : record.firmwareName,
                      informed ? QString::number(record.serialNumber) : None,
                      informed ? record.firmwareReleaseStr : None,
                      informed ? QString::number(record.channelNumber) : None)
           // Its loader has no name to match, so the file's name cannot keep it out.
           + (record.reupdate ? QStringLiteral(", in re-update state: takes any firmware file") : QString());
}

QString resultLine(uint16_t id, const ModuleRecord &record)
{
    if (record.done)
        return moduleText(id) + QStringLiteral("updated");
    if (record.skipped)
        return moduleText(id) + QStringLiteral("skipped: ") + record.reason;
    const QString reason = record.reason.isEmpty() ? QStringLiteral("not reached") : record.reason;
    return moduleText(id) + QStringLiteral("not updated: ") + reason;
}
