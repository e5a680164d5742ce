#include "statustexts.h"

#include <QCoreApplication>

namespace {

// The window's own translation context, as if the window had said it.
QString tr(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}

StatusChange red(const QString &text)
{
    return {text, StatusColour::Red, false};
}

} // namespace

QString stopRunQuestion(std::optional<uint> moduleInWork)
{
    if (!moduleInWork)
        return tr("A run is going; no module has been named yet.\n\nStop the run?");
    return tr("A run is going. Stopping it leaves module %1, the one in work, in update mode; "
              "it must be updated again.\n\nStop the run?")
        .arg(*moduleInWork, 0, 16);
}

std::optional<StatusChange> unexpectedEndStatus(bool crashed, int exitCode)
{
    if (crashed)
        return red(tr("tarvCanFlash stopped unexpectedly"));
    if (exitCode != 0)
        return red(tr("tarvCanFlash ended with exit code %1").arg(exitCode));
    return std::nullopt;
}

StatusChange scanEndStatus(const std::optional<QString> &scanError, bool crashed, int exitCode, int modulesFound)
{
    if (scanError)
        return red(*scanError);
    if (const std::optional<StatusChange> failed = unexpectedEndStatus(crashed, exitCode))
        return *failed;
    return {tr("Scan: %1 modules found").arg(modulesFound), StatusColour::Green, false};
}

StatusChange stoppedStatus(bool wasScan, const std::optional<QString> &stopError, bool crashed, int exitCode)
{
    QString text = wasScan ? tr("Scan stopped") : tr("Run stopped");
    if (stopError)
        text += QStringLiteral(": ") + *stopError;
    else if (crashed)
        text += tr(": tarvCanFlash was ended before its closing sequence");
    else
        text += tr(": tarvCanFlash ended with exit code %1").arg(exitCode);
    return red(text);
}

QString scanNoteText(const QString &hardware, const QString &bitRate, const QString &channel)
{
    return tr("These modules were scanned on %1, %2 kBit/s, channel %3. Start refuses them on "
              "the bus chosen now: scan the bus again, or choose the scan's bus.")
        .arg(hardware, bitRate, channel);
}
