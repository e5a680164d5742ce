// The flasher's check of a firmware file before any CAN activity, against the
// simulated module's S-record check: a file the flasher lets through must be
// one whose every line, as sent, the module accepts; a file it refuses must
// hold the fault it names. Input: the file's bytes.
#include "firmwarecheck.h"
#include "fuzzcheck.h"
#include "image.h"
#include "linetext.h"

#include <QBuffer>
#include <QByteArray>
#include <QList>

#include <set>
#include <string>
#include <string_view>

namespace {

bool printable(const QByteArray &raw)
{
    for (char c : raw) {
        const auto byte = static_cast<uint8_t>(c);
        const bool blank = c == ' ' || (c >= '\t' && c <= '\r');
        if ((byte < 0x20 || byte > 0x7E) && !blank)
            return false;
    }
    return true;
}

bool moduleAccepts(const QByteArray &record)
{
    return modsim::parseSRecord(std::string_view(record.constData(), size_t(record.size())), nullptr, nullptr);
}

// Lines as the flasher reads them: up to and including each line feed.
QList<QByteArray> fileLines(const QByteArray &content)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    while (start < content.size()) {
        qsizetype end = content.indexOf('\n', start);
        end = end < 0 ? content.size() : end + 1;
        lines.append(content.mid(start, end - start));
        start = end;
    }
    return lines;
}

// Both checks read the same record grammar.
void checkOneLine(const QByteArray &raw)
{
    using firmwarecheck::LineProblem;
    const LineProblem problem = firmwarecheck::checkLine(raw);
    if (!printable(raw)) {
        FUZZ_CHECK(problem == LineProblem::NotPrintable);
        return;
    }
    const QByteArray record = linetext::withoutLineEnd(linetext::normalise(raw));
    if (record.isEmpty()) {
        FUZZ_CHECK(problem == LineProblem::None);
        return;
    }
    if (record.size() > srecord::LongestRecord) {
        FUZZ_CHECK(problem == LineProblem::TooLong);
        FUZZ_CHECK(!moduleAccepts(record));
        return;
    }
    FUZZ_CHECK((problem == LineProblem::None) == moduleAccepts(record));
}

// The lines at which the records, read by the module's own reading, first
// disagree: a count record that is not the number of data records before it,
// or a data record on a byte an earlier one filled. 0 when they agree.
int firstDisagreement(const QList<QByteArray> &lines)
{
    std::set<uint64_t> filled;
    uint64_t dataRecords = 0;
    for (int i = 0; i < lines.size(); ++i) {
        const QByteArray record = linetext::withoutLineEnd(linetext::normalise(lines[i]));
        modsim::SRecord parsed;
        if (record.isEmpty()
            || !modsim::parseSRecord(std::string_view(record.constData(), size_t(record.size())), &parsed,
                                     nullptr))
            continue;
        if ((parsed.type == 5 || parsed.type == 6) && parsed.address != dataRecords)
            return i + 1;
        if (!parsed.isData())
            continue;
        ++dataRecords;
        for (size_t b = 0; b < parsed.data.size(); ++b) {
            if (!filled.insert(uint64_t{parsed.address} + b).second)
                return i + 1;
        }
    }
    return 0;
}

// Whether the last record of the file is S7, S8 or S9.
bool endsWithTermination(const QList<QByteArray> &lines)
{
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        const QByteArray record = linetext::withoutLineEnd(linetext::normalise(*line));
        if (!record.isEmpty())
            return record.size() > 1 && record[1] >= '7' && record[1] <= '9';
    }
    return false;
}

void checkWholeFile(const QByteArray &content)
{
    QBuffer device;
    device.setData(content);
    FUZZ_CHECK(device.open(QIODevice::ReadOnly));
    const firmwarecheck::FileCheck check = firmwarecheck::checkFile(device, QStringLiteral("f.hex"));
    const QList<QByteArray> lines = fileLines(content);

    bool allFit = true;
    bool anyData = false; // an S1, S2 or S3 record: the only ones that flash anything
    std::string sent;
    for (const QByteArray &raw : lines) {
        const bool fits = firmwarecheck::checkLine(raw) == firmwarecheck::LineProblem::None
                          && raw.size() <= srecord::LongestRecord;
        allFit = allFit && fits;
        const QByteArray line = linetext::normalise(raw);
        anyData = anyData || (fits && line.size() > 2 && line[1] >= '1' && line[1] <= '3');
        sent += line.toStdString();
    }

    const int disagreement = allFit ? firstDisagreement(lines) : 0;
    const bool whole = allFit && anyData && disagreement == 0 && endsWithTermination(lines);
    if (check.ok) {
        FUZZ_CHECK(whole);
        for (const QByteArray &raw : lines) {
            FUZZ_CHECK(firmwarecheck::checkLine(raw) == firmwarecheck::LineProblem::None);
            const QByteArray record = linetext::withoutLineEnd(linetext::normalise(raw));
            FUZZ_CHECK(record.isEmpty() || moduleAccepts(record));
        }
        // The module's own reading of everything sent gives an image.
        FUZZ_CHECK(modsim::imageFromSRecordText(sent, nullptr, nullptr));
        return;
    }
    FUZZ_CHECK(check.message.startsWith(QLatin1String("Error: Firmware file 'f.hex'")));
    FUZZ_CHECK(!whole);
    if (check.lineNumber == 0) {
        FUZZ_CHECK(!anyData || (disagreement == 0 && !endsWithTermination(lines)));
        return;
    }
    FUZZ_CHECK(check.lineNumber <= lines.size());
    FUZZ_CHECK(check.message.contains(QStringLiteral("line %1 ").arg(check.lineNumber)));
    const QByteArray &refused = lines[check.lineNumber - 1];
    FUZZ_CHECK(firmwarecheck::checkLine(refused) != firmwarecheck::LineProblem::None
               || refused.size() > firmwarecheck::LongestRawLine || check.lineNumber == disagreement);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray content(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    for (const QByteArray &raw : fileLines(content))
        checkOneLine(raw);
    checkWholeFile(content);
    return 0;
}
