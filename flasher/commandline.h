// The positional arguments of tarvCanFlash:
//   [PEAK CAN Interface] [BitRate] [CanLine] [FileName] [Close] [CanIds]
// or, to list the modules on a line without updating any:
//   --scan [PEAK CAN Interface] [BitRate] [CanLine]
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

struct CommandLine
{
    enum class Check { Accepted, TooFewArguments, BadInterface, BadBitRate, BadCanLine, BadCanIds };

    Check check = Check::TooFewArguments;
    QByteArray interfaceName;
    QByteArray bitRateText; // as typed, for the error text
    QByteArray canLineText;
    int bitRate = 0;
    int canLine = 0;
    QString fileName;
    std::optional<QString> canIds;
    int canIdsPosition = 0; // 5 or 6, for the error text
    bool closeAuto = false;
    bool scan = false;
};

// args: the program's arguments after the program path, as bytes.
CommandLine parseCommandLine(const QList<QByteArray> &args);

// C's atoi rule: optional blanks and sign, leading digits, the rest ignored.
// Wide and saturating, so that a huge number cannot wrap into a valid one.
long long leadingInteger(const QByteArray &text);

constexpr int HighestCanLine = 15;

// args: the application's argument list, program path included.
bool closeAutomatically(const QStringList &args);

constexpr uint16_t HighestCanId = 0x7FF;

// Comma-separated decimal or "0x" hexadecimal ids; empty parts are skipped,
// order and duplicates stay. Empty (no value) when any other part is not an
// 11-bit identifier: a mistyped list must not select every module.
std::optional<QList<uint16_t>> parseCanIds(const QString &list);

QString bannerLine();
QStringList usageLines();
