#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// What the main window hands to one run of the console program.
struct FlashChoice
{
    int hardwareIndex = 0; // 0: USB adapter, 1: PCI card
    QString bitRate;       // "125", "250" or "1000"
    QString channel;       // "0" .. "15"
    QString firmwareFile;  // as the file dialog returned it
    QString canIds;        // empty: every module whose name fits the file
};

// The five arguments: interface keyword, bit rate, channel, file, CLOSE_AUTO,
// and the CanIds list when there is one.
// The file name stays one argument whatever blanks it holds.
QStringList flasherArguments(const FlashChoice &choice);

// The same as one Windows command-line string, the file name in double quotes.
QString flasherNativeArguments(const FlashChoice &choice);

// The console program installed beside the front end in folder dir.
QString flasherProgramIn(const QString &dir);

// tarvCanFlash --scan with the choice's interface, bit rate and channel.
QStringList scanArguments(const FlashChoice &choice);
QString scanNativeArguments(const FlashChoice &choice);

// A module of the table with its id as the console program prints it
// (the CAN line in bits 12..15) and whether its box is checked.
struct ModuleChoice
{
    uint id = 0;
    bool checked = true;
};

// The CanIds argument for these modules: empty when every module is checked
// (or there are none), so the run updates all whose name fits; the 11-bit
// ids of the checked ones otherwise, decimal and ascending. The console
// program selects by 11-bit id alone, so a checked id also selects an
// unchecked module with the same id on another line. Nothing when no box is
// checked: the run must not start, as an empty list would select every module.
std::optional<QString> canIdsArgument(const QList<ModuleChoice> &modules);
