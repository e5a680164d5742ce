#include "firmwarecheck.h"

#include "srecordformat.h"

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

LineProblem checkRecord(const QByteArray &record)
{
    switch (srecord::parse(std::string_view(record.constData(), record.size()))) {
    case srecord::Problem::None: return LineProblem::None;
    case srecord::Problem::CountMismatch:
    case srecord::Problem::TooShort: return LineProblem::BadCount;
    case srecord::Problem::BadChecksum: return LineProblem::BadChecksum;
    case srecord::Problem::NotSRecord:
    case srecord::Problem::UnknownType:
    case srecord::Problem::OddDigits:
    case srecord::Problem::NotHex: break;
    }
    return LineProblem::NotSRecord;
}

// A record line that passed the check: only S1, S2 and S3 carry firmware.
bool isDataRecord(const QByteArray &rawLine)
{
    const QByteArray record = rawLine.simplified();
    srecord::Record parsed;
    return srecord::parse(std::string_view(record.constData(), record.size()), &parsed)
               == srecord::Problem::None
           && parsed.isData();
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
    if (record.size() > srecord::LongestRecord)
        return LineProblem::TooLong;
    return checkRecord(record);
}

FileCheck checkFile(QIODevice &file, const QString &fileName)
{
    FileCheck result;
    int lineNumber = 0;
    bool anyData = false;
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
        anyData = anyData || isDataRecord(raw);
    }
    // Without data the flash pass would only erase the modules.
    if (!anyData) {
        result.message =
            tr("Error: Firmware file '%1' holds no data record (S1, S2 or S3)").arg(fileName);
        return result;
    }
    result.ok = true;
    result.lines = lineNumber;
    return result;
}

} // namespace firmwarecheck
