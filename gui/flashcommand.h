#pragma once

#include <QString>
#include <QStringList>

// What the main window hands to one run of the console program.
struct FlashChoice
{
    int hardwareIndex = 0; // 0: USB adapter, 1: PCI card
    QString bitRate;       // "125", "250" or "1000"
    QString channel;       // "0" .. "15"
    QString firmwareFile;  // as the file dialog returned it
};

// The five arguments: interface keyword, bit rate, channel, file, CLOSE_AUTO.
// The file name stays one argument whatever blanks it holds.
QStringList flasherArguments(const FlashChoice &choice);

// The same as one Windows command-line string, the file name in double quotes.
QString flasherNativeArguments(const FlashChoice &choice);

// The console program installed beside the front end in folder dir.
QString flasherProgramIn(const QString &dir);
