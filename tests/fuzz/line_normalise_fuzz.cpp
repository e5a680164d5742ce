// Lines of the firmware file as the flasher sends them, and the progress line
// it prints for each, read back the way the front end reads it.
// Input: flags (1 byte), module id (2), file size (4), position (4), raw line.
#include "fuzzcheck.h"
#include "linetext.h"
#include "progressline.h"
#include "outputparser.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cmath>
#include <cstdlib>

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

QByteArray withoutBlanks(const QByteArray &text)
{
    QByteArray kept;
    for (char c : text) {
        if (!isBlank(c))
            kept.append(c);
    }
    return kept;
}

// Inner runs of white space: each becomes exactly one space.
int innerBlankRuns(const QByteArray &raw)
{
    int runs = 0;
    bool seenText = false;
    bool inRun = false;
    for (char c : raw) {
        if (isBlank(c)) {
            inRun = seenText;
            continue;
        }
        if (inRun)
            ++runs;
        inRun = false;
        seenText = true;
    }
    return runs;
}

void checkNormalised(const QByteArray &raw, const QByteArray &sent)
{
    FUZZ_CHECK(sent.endsWith("\r\n"));
    const QByteArray body = sent.chopped(2);
    FUZZ_CHECK(!body.startsWith(' ') && !body.endsWith(' '));
    FUZZ_CHECK(!body.contains("  "));
    for (char c : body)
        FUZZ_CHECK(c == ' ' || !isBlank(c));
    // Nothing but white space changes, and every inner run leaves one space.
    FUZZ_CHECK(withoutBlanks(body) == withoutBlanks(raw));
    FUZZ_CHECK(body.count(' ') == innerBlankRuns(raw));
    FUZZ_CHECK(linetext::normalise(body) == sent);
    FUZZ_CHECK(linetext::withoutLineEnd(sent) == body);
}

// The progress line must stay readable by the front end whatever the file
// line holds: the fourth field is the percentage.
void checkProgressLine(bool flashing, uint16_t id, qint64 position, qint64 size, const QByteArray &sent)
{
    const QString line = progressline::line(flashing, id, position, size, sent);
    const QByteArray bytes = line.toLatin1();
    const QList<QByteArray> fields = bytes.split(' ');
    FUZZ_CHECK(fields.size() >= 5);
    FUZZ_CHECK(fields[0] == (flashing ? "Flash" : "Compare"));
    FUZZ_CHECK(fields[1] == "ID");
    FUZZ_CHECK(fields[2] == QByteArray::number(id, 16));
    FUZZ_CHECK(fields[3].endsWith('%'));
    const QByteArray shown = linetext::withoutLineEnd(sent).left(30);
    FUZZ_CHECK(bytes.endsWith(shown));
    FUZZ_CHECK(!bytes.contains('\n') && !bytes.contains('\r'));

    const ParsedLine parsed = parseLine(bytes + '\n');
    FUZZ_CHECK(parsed.kind == LineKind::Progress);
    FUZZ_CHECK(parsed.phase == (flashing ? RunPhase::Flashing : RunPhase::Comparing));
    FUZZ_CHECK(parsed.percent.has_value());
    FUZZ_CHECK(*parsed.percent >= 0 && *parsed.percent <= 100);
    const int emitted = progressline::percent(position, size);
    FUZZ_CHECK(emitted >= 0 && emitted <= 100);
    FUZZ_CHECK(std::abs(*parsed.percent - emitted) <= 1);
    if (position == size)
        FUZZ_CHECK(emitted == 100 && *parsed.percent == 100);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    const bool flashing = input.byte() & 1;
    const uint16_t id = input.word();
    const qint64 fileSize = input.u32();
    const qint64 position = fileSize == 0 ? 0 : input.u32() % (fileSize + 1);
    const QByteArray raw(reinterpret_cast<const char *>(input.rest()), static_cast<qsizetype>(input.remaining()));

    const QByteArray sent = linetext::normalise(raw);
    checkNormalised(raw, sent);
    checkProgressLine(flashing, id, position, fileSize, sent);
    return 0;
}
