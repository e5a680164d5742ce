#include "flashcommand.h"

static QString interfaceKeyword(int hardwareIndex)
{
    return hardwareIndex == 1 ? QStringLiteral("PCAN_PCI") : QStringLiteral("PCAN_USB");
}

QStringList flasherArguments(const FlashChoice &choice)
{
    return {interfaceKeyword(choice.hardwareIndex), choice.bitRate, choice.channel, choice.firmwareFile,
            QStringLiteral("CLOSE_AUTO")};
}

QString flasherNativeArguments(const FlashChoice &choice)
{
    return interfaceKeyword(choice.hardwareIndex) + QLatin1Char(' ') + choice.bitRate + QLatin1Char(' ')
           + choice.channel + QStringLiteral(" \"") + choice.firmwareFile + QStringLiteral("\" CLOSE_AUTO");
}

QString flasherProgramIn(const QString &dir)
{
#ifdef Q_OS_WIN
    return dir + QStringLiteral("/tarvCanFlash.exe");
#else
    return dir + QStringLiteral("/tarvCanFlash");
#endif
}
