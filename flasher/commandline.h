// The positional arguments of tarvCanFlash:
//   [PEAK CAN Interface] [BitRate] [CanLine] [FileName] [Close] [CanIds]
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

struct CommandLine
{
    enum class Check { Accepted, TooFewArguments, BadInterface, BadBitRate, BadCanLine };

    Check check = Check::TooFewArguments;
    QByteArray interfaceName;
    QByteArray bitRateText; // as typed, for the error text
    QByteArray canLineText;
    int bitRate = 0;
    int canLine = 0;
    QString fileName;
    std::optional<QString> canIds;
    bool closeAuto = false;
};

// args: the program's arguments after the program path, as bytes.
CommandLine parseCommandLine(const QList<QByteArray> &args);

// C's atoi rule: optional blanks and sign, leading digits, the rest ignored.
// Wide and saturating, so that a huge number cannot wrap into a valid one.
long long leadingInteger(const QByteArray &text);

constexpr int HighestCanLine = 15;

// args: the application's argument list, program path included.
bool closeAutomatically(const QStringList &args);

// Comma-separated decimal or "0x" hexadecimal ids; parts that do not parse are
// dropped, values keep their low 16 bits, order and duplicates stay.
QList<uint16_t> parseCanIds(const QString &list);

QString bannerLine();
QStringList usageLines();
