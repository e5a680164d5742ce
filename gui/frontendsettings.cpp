#include "frontendsettings.h"

namespace FrontEndSettings {

int firstItemContaining(const QStringList &items, const QString &value, int current)
{
    for (int i = 0; i < items.size(); ++i) {
        if (items.at(i).contains(value, Qt::CaseSensitive))
            return i;
    }
    return current;
}

int channelFromSetting(const QVariant &stored)
{
    bool ok = false;
    const int channel = stored.toInt(&ok);
    return ok && channel >= 0 && channel < channelCount ? channel : 0;
}

QString hardwareSetting(const QString &hardwareItemText)
{
    return hardwareItemText.contains(QLatin1String("USB"), Qt::CaseSensitive) ? QStringLiteral("USB")
                                                                              : QStringLiteral("PCI");
}

} // namespace FrontEndSettings
