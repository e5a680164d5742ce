// The CanIds list and the rest of the command line. First input byte: 0 for
// a CanIds text (Latin-1, as the main routine reads it), 1 for a whole
// argument list (arguments separated by NUL bytes).
#include "commandline.h"
#include "fuzzcheck.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <climits>
#include <optional>

namespace {

bool isAsciiDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

bool isHexDigit(QChar c)
{
    return isAsciiDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// Value of a text made of digits only in the given base; empty when it does
// not fit 64 bits.
std::optional<uint64_t> plainNumber(const QString &digits, int base)
{
    unsigned __int128 value = 0;
    for (QChar c : digits) {
        const int digit = isAsciiDigit(c) ? c.unicode() - '0' : (c.unicode() | 0x20) - 'a' + 10;
        value = value * base + static_cast<unsigned>(digit);
        if (value > UINT64_MAX)
            return std::nullopt;
    }
    return static_cast<uint64_t>(value);
}

// What one part of the list must give when its form is unambiguous.
void checkPart(const QString &part, const std::optional<QList<uint16_t>> &ids)
{
    FUZZ_CHECK(!ids || ids->size() == 1);
    bool digitsOnly = !part.isEmpty();
    bool anyHexDigit = false;
    for (QChar c : part) {
        digitsOnly = digitsOnly && isAsciiDigit(c);
        anyHexDigit = anyHexDigit || isHexDigit(c);
    }
    if (!anyHexDigit)
        FUZZ_CHECK(!ids);
    std::optional<uint64_t> expected;
    bool knownForm = false;
    if (digitsOnly) {
        knownForm = true;
        expected = plainNumber(part, 10);
    } else if (part.startsWith(QLatin1String("0x")) && part.size() > 2) {
        const QString hex = part.mid(2);
        knownForm = std::all_of(hex.begin(), hex.end(), isHexDigit);
        expected = plainNumber(hex, 16);
    }
    if (!knownForm)
        return;
    // A number beyond an 11-bit id, wrapped or not, would select another module.
    if (expected && *expected <= HighestCanId)
        FUZZ_CHECK(ids && ids->constFirst() == *expected);
    else
        FUZZ_CHECK(!ids);
}

void checkCanIds(const QString &list)
{
    const std::optional<QList<uint16_t>> ids = parseCanIds(list);
    // Parts are taken one by one, in order, nothing carried between them; one
    // part that is not an id refuses the whole list.
    std::optional<QList<uint16_t>> joined = QList<uint16_t>();
    for (const QString &part : list.split(u',', Qt::SkipEmptyParts)) {
        const std::optional<QList<uint16_t>> one = parseCanIds(part);
        checkPart(part, one);
        if (!one)
            joined.reset();
        else if (joined)
            *joined += *one;
    }
    FUZZ_CHECK(ids == joined);
}

// The C-library reading of a leading integer, without its overflow.
std::optional<int> trueLeadingInteger(const QByteArray &text)
{
    qsizetype pos = 0;
    while (pos < text.size() && (text[pos] == ' ' || (text[pos] >= '\t' && text[pos] <= '\r')))
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-'))
        negative = text[pos++] == '-';
    long long value = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
        value = value * 10 + (text[pos] - '0');
        if (value > INT_MAX + 1LL)
            return std::nullopt;
    }
    value = negative ? -value : value;
    if (value > INT_MAX || value < INT_MIN)
        return std::nullopt;
    return static_cast<int>(value);
}

void checkCommandLine(const QList<QByteArray> &args)
{
    const CommandLine parsed = parseCommandLine(args);
    using Check = CommandLine::Check;
    // A scan takes exactly the line's three arguments, judged as for a run.
    if (!args.isEmpty() && args[0] == "--scan") {
        if (args.size() != 4) {
            FUZZ_CHECK(parsed.check == Check::TooFewArguments);
            return;
        }
        const CommandLine run = parseCommandLine(args.mid(1) + QList<QByteArray>{"f.hex"});
        FUZZ_CHECK(parsed.scan && parsed.check == run.check);
        FUZZ_CHECK(parsed.check != Check::Accepted
                   || (parsed.bitRate == run.bitRate && parsed.canLine == run.canLine));
        FUZZ_CHECK(!parsed.canIds && !parsed.closeAuto);
        return;
    }
    FUZZ_CHECK(!parsed.scan);
    if (args.size() < 4) {
        FUZZ_CHECK(parsed.check == Check::TooFewArguments);
        return;
    }
    const bool knownInterface = args[0] == "PCAN_USB" || args[0] == "PCAN_PCI";
    if (!knownInterface) {
        FUZZ_CHECK(parsed.check == Check::BadInterface);
        return;
    }
    const std::optional<int> rate = trueLeadingInteger(args[1]);
    const bool knownRate = rate && (*rate == 125 || *rate == 250 || *rate == 1000);
    if (!knownRate) {
        FUZZ_CHECK(parsed.check == Check::BadBitRate);
        return;
    }
    FUZZ_CHECK(parsed.bitRate == *rate);
    FUZZ_CHECK(parsed.interfaceName == args[0]);

    // Only digits name a line, and one outside 0..15, or beyond int, is
    // refused: it must never wrap onto one of the real lines.
    const bool digits = !args[2].isEmpty() && std::all_of(args[2].begin(), args[2].end(), [](char c) {
        return c >= '0' && c <= '9';
    });
    const std::optional<int> line = trueLeadingInteger(args[2]);
    const bool knownLine = digits && line && *line >= 0 && *line <= 15;
    if (!knownLine) {
        FUZZ_CHECK(parsed.check == Check::BadCanLine);
        return;
    }
    FUZZ_CHECK(parsed.canLine == *line);

    const bool closeAuto = args.size() >= 5 && args[4] == "CLOSE_AUTO";
    FUZZ_CHECK(parsed.closeAuto == closeAuto);
    std::optional<QString> ids;
    if (args.size() == 5 && !closeAuto)
        ids = QString::fromLatin1(args[4]);
    else if (args.size() == 6)
        ids = QString::fromLatin1(args[5]);
    FUZZ_CHECK(parsed.canIds == ids);
    FUZZ_CHECK(parsed.check == (!ids || parseCanIds(*ids) ? Check::Accepted : Check::BadCanIds));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray text(reinterpret_cast<const char *>(data + 1), static_cast<qsizetype>(size - 1));
    if (data[0] % 2 == 0) {
        checkCanIds(QString::fromLatin1(text));
    } else {
        // A C argument ends at its first NUL, so NUL separates the arguments.
        checkCommandLine(text.split('\0'));
    }
    return 0;
}
