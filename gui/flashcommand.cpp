#include "flashcommand.h"

#include <algorithm>

static QString interfaceKeyword(int hardwareIndex)
{
    return hardwareIndex == 1 ? QStringLiteral("PCAN_PCI") : QStringLiteral("PCAN_USB");
}

QStringList flasherArguments(const FlashChoice &choice)
{
    QStringList args{interfaceKeyword(choice.hardwareIndex), choice.bitRate, choice.channel, choice.firmwareFile,
                     QStringLiteral("CLOSE_AUTO")};
    if (!choice.canIds.isEmpty())
        args.append(choice.canIds);
    return args;
}

QString flasherNativeArguments(const FlashChoice &choice)
{
    QString args = interfaceKeyword(choice.hardwareIndex) + QLatin1Char(' ') + choice.bitRate + QLatin1Char(' ')
                   + choice.channel + QStringLiteral(" \"") + choice.firmwareFile
                   + QStringLiteral("\" CLOSE_AUTO");
    if (!choice.canIds.isEmpty())
        args += QLatin1Char(' ') + choice.canIds;
    return args;
}

QStringList scanArguments(const FlashChoice &choice)
{
    return {QStringLiteral("--scan"), interfaceKeyword(choice.hardwareIndex), choice.bitRate, choice.channel};
}

QString scanNativeArguments(const FlashChoice &choice)
{
    return scanArguments(choice).join(QLatin1Char(' '));
}

std::optional<QString> canIdsArgument(const QList<ModuleChoice> &modules)
{
    QList<uint> ids;
    for (const ModuleChoice &module : modules) {
        if (module.checked)
            ids.append(module.id & 0x7FF);
    }
    if (ids.size() == modules.size())
        return QString();
    if (ids.isEmpty())
        return std::nullopt;
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    QStringList texts;
    for (uint id : ids)
        texts.append(QString::number(id));
    return texts.join(QLatin1Char(','));
}

QString flasherProgramIn(const QString &dir)
{
#ifdef Q_OS_WIN
    return dir + QStringLiteral("/tarvCanFlash.exe");
#else
    return dir + QStringLiteral("/tarvCanFlash");
#endif
}
