#include "commandline.h"

#include <QCoreApplication>

#include <cstdlib>

namespace {

const char CloseAuto[] = "CLOSE_AUTO";

QString tr(const char *text)
{
    return QCoreApplication::translate("main", text);
}

// The position (5 or 6) of the CanIds argument, 0 when there is none.
int canIdsPosition(const QList<QByteArray> &args)
{
    if (args.size() == 5 && args[4] != CloseAuto)
        return 5;
    return args.size() == 6 ? 6 : 0;
}

} // namespace

long long leadingInteger(const QByteArray &text)
{
    return std::strtoll(text.constData(), nullptr, 10);
}

namespace {

// Digits only, else -1: the line names the bus whose modules are updated, so
// "one", "0x1" or an empty text must not quietly mean line 0.
long long wholeNumber(const QByteArray &text)
{
    if (text.isEmpty())
        return -1;
    for (char c : text) {
        if (c < '0' || c > '9')
            return -1;
    }
    return leadingInteger(text);
}

// Adapter, bit rate and line from args[0..2]; false with the check set when
// one is refused.
bool parseLine(const QList<QByteArray> &args, CommandLine &result)
{
    result.interfaceName = args[0];
    result.bitRateText = args[1];
    if (args[0] != "PCAN_PCI" && args[0] != "PCAN_USB") {
        result.check = CommandLine::Check::BadInterface;
        return false;
    }
    const long long bitRate = leadingInteger(args[1]);
    if (bitRate != 125 && bitRate != 250 && bitRate != 1000) {
        result.check = CommandLine::Check::BadBitRate;
        return false;
    }
    result.bitRate = static_cast<int>(bitRate);
    // The line travels in four bits of every address word: a larger number
    // would silently name another line.
    result.canLineText = args[2];
    const long long canLine = wholeNumber(args[2]);
    if (canLine < 0 || canLine > HighestCanLine) {
        result.check = CommandLine::Check::BadCanLine;
        return false;
    }
    result.canLine = static_cast<int>(canLine);
    return true;
}

} // namespace

CommandLine parseCommandLine(const QList<QByteArray> &args)
{
    CommandLine result;
    if (!args.isEmpty() && args[0] == "--scan") {
        // Exactly the line's three: a firmware file after them would suggest an update.
        if (args.size() != 4)
            return result;
        result.scan = true;
        if (parseLine(args.mid(1), result))
            result.check = CommandLine::Check::Accepted;
        return result;
    }
    if (args.size() < 4 || !parseLine(args, result))
        return result;
    result.fileName = QString::fromLocal8Bit(args[3]);
    result.closeAuto = args.size() >= 5 && args[4] == CloseAuto;
    result.canIdsPosition = canIdsPosition(args);
    if (result.canIdsPosition > 0) {
        result.canIds = QString::fromLatin1(args[result.canIdsPosition - 1]);
        if (!parseCanIds(*result.canIds)) {
            result.check = CommandLine::Check::BadCanIds;
            return result;
        }
    }
    result.check = CommandLine::Check::Accepted;
    return result;
}

bool closeAutomatically(const QStringList &args)
{
    return args.size() >= 6 && args[5] == QLatin1String(CloseAuto);
}

std::optional<QList<uint16_t>> parseCanIds(const QString &list)
{
    QList<uint16_t> ids;
    const QStringList parts = list.split(u',', Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        bool ok = false;
        qulonglong value = part.toULongLong(&ok, 10);
        if (part.contains(QLatin1String("0x")))
            value = part.toULongLong(&ok, 16);
        if (!ok || value > HighestCanId)
            return std::nullopt;
        ids.append(static_cast<uint16_t>(value));
    }
    return ids;
}

QString bannerLine()
{
    return tr("tarvCanFlash %1: firmware update of tarv high-voltage modules over CAN")
        .arg(QStringLiteral(TARV_VERSION));
}

QStringList usageLines()
{
    return {
        tr("Syntax: tarvCanFlash [PEAK CAN Interface] [BitRate] [CanLine] [FileName] [Close] [CanIds]"),
        tr("        PEAK CAN Interface: PCAN_USB or PCAN_PCI"),
        tr("        BitRate: 125 or 250 (kBit/s)"),
        tr("        CanLine: 0, 1, .. 15"),
        tr("        FileName: K3B7_421.hex"),
        tr("        Close: nothing or CLOSE_AUTO"),
        tr("        CanIds: nothing or CAN-Ids of devices as comma separated dec. numbers"),
        tr("     Example: tarvCanFlash PCAN_USB 125 0 K31B7_421.hex"),
        tr("        tarvCanFlash --scan [PEAK CAN Interface] [BitRate] [CanLine]"),
        tr("        lists the modules on the line and what they say about themselves; updates nothing"),
    };
}
