#include "firmwarecheck.h"

#include "srecordformat.h"

#include <QCoreApplication>
#include <QIODevice>

#include <iterator>
#include <map>
#include <optional>

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
    case srecord::Problem::None:
        return LineProblem::None;
    case srecord::Problem::CountMismatch:
    case srecord::Problem::TooShort:
        return LineProblem::BadCount;
    case srecord::Problem::BadChecksum:
        return LineProblem::BadChecksum;
    case srecord::Problem::NotSRecord:
    case srecord::Problem::UnknownType:
    case srecord::Problem::OddDigits:
    case srecord::Problem::NotHex:
        break;
    }
    return LineProblem::NotSRecord;
}

// What the records must agree on as a whole. A file cut short, or two files
// run together, is still made of good records: only the count record, the
// termination record and the addresses tell.
class RecordRules
{
public:
    // Why this record, after the ones before it, cannot be flashed; empty
    // when it can.
    QString add(const srecord::Record &record)
    {
        lastType_ = record.type;
        if (record.isData()) {
            ++dataRecords_;
            return fill(record.address, record.address + record.data.size());
        }
        if (record.type == 5 || record.type == 6) {
            if (record.address != dataRecords_)
                return tr("counts %1 data records, but %2 come before it").arg(record.address).arg(dataRecords_);
        }
        return {};
    }

    bool anyData() const { return dataRecords_ > 0; }
    bool endsWithTermination() const { return lastType_ >= 7 && lastType_ <= 9; }

private:
    // Addresses filled so far, as ranges [first, end) that neither touch nor overlap.
    QString fill(uint64_t first, uint64_t end)
    {
        if (first == end)
            return {};
        auto next = filled_.upper_bound(first);
        auto previous = next == filled_.begin() ? filled_.end() : std::prev(next);
        if ((previous != filled_.end() && previous->second > first)
            || (next != filled_.end() && next->first < end))
            return tr("holds data for an address an earlier record already filled");
        if (previous != filled_.end() && previous->second == first) {
            first = previous->first;
            filled_.erase(previous);
        }
        if (next != filled_.end() && next->first == end) {
            end = next->second;
            filled_.erase(next);
        }
        filled_.emplace(first, end);
        return {};
    }

    std::map<uint64_t, uint64_t> filled_;
    uint64_t dataRecords_ = 0;
    int lastType_ = -1;
};

QString problemText(LineProblem problem)
{
    switch (problem) {
    case LineProblem::NotPrintable:
        return tr("holds a byte that is not printable text");
    case LineProblem::TooLong:
        return tr("is longer than the longest S-record");
    case LineProblem::NotSRecord:
        return tr("is not an S-record");
    case LineProblem::BadCount:
        return tr("has a byte count that does not fit the record");
    case LineProblem::BadChecksum:
        return tr("has a wrong checksum");
    case LineProblem::None:
        break;
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

namespace {

// The record of a line that passed checkLine; none for a blank one.
std::optional<srecord::Record> recordOf(const QByteArray &rawLine)
{
    const QByteArray record = rawLine.simplified();
    srecord::Record parsed;
    if (record.isEmpty()
        || srecord::parse(std::string_view(record.constData(), record.size()), &parsed) != srecord::Problem::None)
        return std::nullopt;
    return parsed;
}

// The problem of one raw line's own; empty when it has none. more: the file
// goes on after it.
QString lineProblem(const QByteArray &raw, bool more)
{
    LineProblem problem = checkLine(raw);
    // No line end within the limit and more to come: the line goes on.
    if (problem == LineProblem::None && !raw.endsWith('\n') && more)
        problem = LineProblem::TooLong;
    return problemText(problem);
}

FileCheck refused(const QString &message, int lineNumber = 0)
{
    FileCheck result;
    result.lineNumber = lineNumber;
    result.message = message;
    return result;
}

} // namespace

// A line's own fault is named at once; what the records disagree on only
// after the whole file was read, a file without data before all of it.
FileCheck checkFile(QIODevice &file, const QString &fileName)
{
    int lineNumber = 0;
    RecordRules rules;
    FileCheck disagreement;
    while (!file.atEnd()) {
        ++lineNumber;
        const QByteArray raw = file.readLine(LongestRawLine + 1);
        if (raw.isEmpty() && !file.atEnd())
            return refused(
                tr("Error: Firmware file '%1' cannot be read at line %2").arg(fileName).arg(lineNumber),
                lineNumber);
        QString problem = lineProblem(raw, !file.atEnd());
        if (!problem.isEmpty())
            return refused(tr("Error: Firmware file '%1': line %2 %3").arg(fileName).arg(lineNumber).arg(problem),
                           lineNumber);
        const std::optional<srecord::Record> record = recordOf(raw);
        if (record && !(problem = rules.add(*record)).isEmpty() && disagreement.message.isEmpty())
            disagreement =
                refused(tr("Error: Firmware file '%1': line %2 %3").arg(fileName).arg(lineNumber).arg(problem),
                        lineNumber);
    }
    // Without data the flash pass would only erase the modules.
    if (!rules.anyData())
        return refused(tr("Error: Firmware file '%1' holds no data record (S1, S2 or S3)").arg(fileName));
    if (!disagreement.message.isEmpty())
        return disagreement;
    if (!rules.endsWithTermination())
        return refused(tr("Error: Firmware file '%1' does not end with a termination record (S7, S8 or S9): "
                          "the file may be cut short")
                           .arg(fileName));
    FileCheck result;
    result.ok = true;
    result.lines = lineNumber;
    return result;
}

} // namespace firmwarecheck
