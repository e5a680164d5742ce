#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

// The front end keeps its choices in the settings of the console program's
// name, so both programs of an installation share one file.
namespace FrontEndSettings {
inline constexpr char organisation[] = "tarv Systemtechnik GmbH";
inline constexpr char application[] = "tarvCanFlash";
inline constexpr char fileKey[] = "DefaultHexFileName";
inline constexpr char hardwareKey[] = "CAN/Hardware";
inline constexpr char bitRateKey[] = "CAN/BitRate";
inline constexpr char channelKey[] = "CAN/Channel";
inline constexpr char windowSizeKey[] = "Window/Size";
inline constexpr int channelCount = 16;

// Index of the first item whose text contains value (case-sensitive), or
// current when none does. An empty value is in every text.
int firstItemContaining(const QStringList &items, const QString &value, int current);

// The stored channel, or channel 0 for a value that is no number or no channel.
int channelFromSetting(const QVariant &stored);

// "USB" for the USB adapter item, "PCI" for any other.
QString hardwareSetting(const QString &hardwareItemText);
} // namespace FrontEndSettings
