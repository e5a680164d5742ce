#include "firmwarecheck.h"

#include <QCoreApplication>
#include <QIODevice>

namespace firmwarecheck {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("FirmwareUpdateThread", text);
}

bool isLineSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Address bytes of each record type; S4 is reserved and has none defined.
int addressBytes(char type)
{
    switch (type) {
    case '0': case '1': case '5': case '9': return 2;
    case '2': case '6': case '8': return 3;
    case '3': case '7': return 4;
    default: return -1;
    }
}

LineProblem checkRecord(const QByteArray &record)
{
    if (record.size() < 4 || record[0] != 'S' || addressBytes(record[1]) < 0)
        return LineProblem::NotSRecord;
    const QByteArray hex = record.mid(2);
    if (hex.size() % 2 != 0)
        return LineProblem::NotSRecord;
    QByteArray bytes;
    for (int i = 0; i < hex.size(); i += 2) {
        const int high = hexValue(hex[i]);
        const int low = hexValue(hex[i + 1]);
        if (high < 0 || low < 0)
            return LineProblem::NotSRecord;
        bytes.append(static_cast<char>(high << 4 | low));
    }
    const int count = static_cast<uint8_t>(bytes[0]);
    if (count != bytes.size() - 1 || count < addressBytes(record[1]) + 1)
        return LineProblem::BadCount;
    unsigned sum = 0;
    for (char byte : bytes)
        sum += static_cast<uint8_t>(byte);
    return (sum & 0xFF) == 0xFF ? LineProblem::None : LineProblem::BadChecksum;
}

QString problemText(LineProblem problem)
{
    switch (problem) {
    case LineProblem::NotPrintable: return tr("holds a byte that is not printable text");
    case LineProblem::TooLong: return tr("is longer than the longest S-record");
    case LineProblem::NotSRecord: return tr("is not an S-record");
    case LineProblem::BadCount: return tr("has a byte count that does not fit the record");
    case LineProblem::BadChecksum: return tr("has a wrong checksum");
    case LineProblem::None: break;
    }
    return {};
}

} // namespace

LineProblem checkLine(const QByteArray &rawLine)
{
    for (char c : rawLine) {
        const auto byte = static_cast<uint8_t>(c);
        if ((byte < 0x20 || byte > 0x7E) && !isLineSpace(c))
            return LineProblem::NotPrintable;
    }
    const QByteArray record = rawLine.simplified();
    if (record.isEmpty())
        return LineProblem::None;
    if (record.size() > LongestRecord)
        return LineProblem::TooLong;
    return checkRecord(record);
}

FileCheck checkFile(QIODevice &file, const QString &fileName)
{
    FileCheck result;
    int lineNumber = 0;
    bool anyRecord = false;
    while (!file.atEnd()) {
        ++lineNumber;
        const QByteArray raw = file.readLine(LongestRawLine + 1);
        if (raw.isEmpty() && !file.atEnd()) {
            result.lineNumber = lineNumber;
            result.message = tr("Error: Firmware file '%1' cannot be read at line %2")
                                 .arg(fileName).arg(lineNumber);
            return result;
        }
        LineProblem problem = checkLine(raw);
        // No line end within the limit and more to come: the line goes on.
        if (problem == LineProblem::None && !raw.endsWith('\n') && !file.atEnd())
            problem = LineProblem::TooLong;
        if (problem != LineProblem::None) {
            result.lineNumber = lineNumber;
            result.message = tr("Error: Firmware file '%1': line %2 %3")
                                 .arg(fileName).arg(lineNumber).arg(problemText(problem));
            return result;
        }
        anyRecord = anyRecord || !raw.simplified().isEmpty();
    }
    if (!anyRecord) {
        result.message = tr("Error: Firmware file '%1' holds no S-record").arg(fileName);
        return result;
    }
    result.ok = true;
    result.lines = lineNumber;
    return result;
}

} // namespace firmwarecheck
