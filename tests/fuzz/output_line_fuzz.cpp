// The console program's merged output as the front end reads it: arbitrary
// bytes in reads of arbitrary size, split into lines and turned into status
// and progress changes. Input: first 4 bytes a number for the decimal reader,
// then reads, each a length byte (0..63) followed by that many bytes.
#include "fuzzcheck.h"
#include "outputparser.h"

#include <QByteArray>
#include <QList>

#include <climits>
#include <optional>

namespace {

bool opensWithKeyword(const QByteArray &line)
{
    for (const char *keyword : {"Compare", "Flash", "Error:", "Cannot", "Finish:", "PostFlash"}) {
        if (line.startsWith(keyword))
            return true;
    }
    return false;
}

// The fourth blank-separated field before its first '.': sign and digits only.
std::optional<long long> fourthFieldNumber(const QByteArray &line)
{
    const QList<QByteArray> fields = line.split(' ');
    if (fields.size() < 4)
        return std::nullopt;
    QByteArray text = fields[3];
    if (const qsizetype dot = text.indexOf('.'); dot >= 0)
        text.truncate(dot);
    const bool negative = text.startsWith('-');
    if (text.startsWith('+') || negative)
        text.remove(0, 1);
    // Leading zeros do not make a number large.
    qsizetype zeros = 0;
    while (zeros + 1 < text.size() && text[zeros] == '0')
        ++zeros;
    text.remove(0, zeros);
    if (text.isEmpty() || text.size() > 12)
        return std::nullopt;
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return negative ? -value : value;
}

class Checker
{
public:
    void line(const QByteArray &line)
    {
        const ParsedLine parsed = parseLine(line);
        const LineReaction reaction = monitor_.onLine(line);
        if (!opensWithKeyword(line))
            FUZZ_CHECK(parsed.kind == LineKind::Other || parsed.kind == LineKind::Completed);
        if (parsed.kind == LineKind::Other || parsed.kind == LineKind::Completed)
            FUZZ_CHECK(!reaction.progress && reaction.end == RunEnd::None);
        if (parsed.kind == LineKind::Other)
            checkReadyWait(reaction);
        if (parsed.kind == LineKind::Completed)
            FUZZ_CHECK(reaction.status && reaction.status->colour == StatusColour::Black);
        if (reaction.progress) {
            FUZZ_CHECK(parsed.kind == LineKind::Progress && parsed.percent == reaction.progress);
            const std::optional<long long> expected = fourthFieldNumber(line);
            FUZZ_CHECK(expected && *expected == *reaction.progress);
        }
        if (parsed.kind == LineKind::Progress && !parsed.percent)
            FUZZ_CHECK(!reaction.status && !reaction.progress);
        if (reaction.end != RunEnd::None) {
            FUZZ_CHECK(reaction.status);
            FUZZ_CHECK(reaction.status->message == statusText(line));
            FUZZ_CHECK(!reaction.status->message.endsWith(u'\n'));
            FUZZ_CHECK(reaction.status->colour
                       == (reaction.end == RunEnd::Error ? StatusColour::Red : StatusColour::Green));
        }
        checkAnnouncement(parsed, reaction);
    }

private:
    // Of the other lines only a module's identity line says something: that
    // the run waits for that module, whose flash pass is then news again.
    void checkReadyWait(const LineReaction &reaction)
    {
        const bool identity = reaction.module && reaction.module->kind == ModuleEventKind::Identity;
        FUZZ_CHECK(reaction.status.has_value() == identity);
        if (!identity)
            return;
        FUZZ_CHECK(
            reaction.status->message
            == QStringLiteral("module %1: waiting for its ready report...").arg(reaction.module->id, 0, 16));
        FUZZ_CHECK(reaction.status->colour == StatusColour::Black);
        lastAnnounced_.clear();
    }

    // A phase is announced exactly when its first valid progress line
    // follows the other phase (or starts the run).
    void checkAnnouncement(const ParsedLine &parsed, const LineReaction &reaction)
    {
        if (parsed.kind != LineKind::Progress || !parsed.percent) {
            if (reaction.status)
                FUZZ_CHECK(reaction.status->message != QLatin1String("flashing...")
                           && reaction.status->message != QLatin1String("comparing..."));
            return;
        }
        const QLatin1String phase(parsed.phase == RunPhase::Flashing ? "flashing..." : "comparing...");
        const bool announce = lastAnnounced_ != phase;
        FUZZ_CHECK(reaction.status.has_value() == announce);
        if (!announce)
            return;
        FUZZ_CHECK(reaction.status->message == phase);
        FUZZ_CHECK(reaction.status->colour == StatusColour::Green && reaction.status->repaintNow);
        lastAnnounced_ = phase;
    }

    RunMonitor monitor_;
    QString lastAnnounced_;
};

void checkDecimal(int32_t value)
{
    if (value == INT_MIN)
        return;
    FUZZ_CHECK(parseDecimal(QByteArray::number(value)) == value);
    if (value >= 0)
        FUZZ_CHECK(parseDecimal('+' + QByteArray::number(value)) == value);
    FUZZ_CHECK(!parseDecimal(QByteArray::number(value) + '%'));
    // Beyond int: refused, not wrapped into a plausible percentage.
    const qint64 beyond = static_cast<qint64>(value) + (value < 0 ? -1 : 1) * (qint64(1) << 32);
    FUZZ_CHECK(!parseDecimal(QByteArray::number(beyond)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    checkDecimal(static_cast<int32_t>(input.u32()));

    LineSplitter splitter;
    Checker checker;
    QByteArray fed;
    QByteArray delivered;
    while (input.remaining() > 0) {
        QByteArray chunk;
        for (int n = input.byte() % 64; n > 0 && input.remaining() > 0; --n)
            chunk.append(static_cast<char>(input.byte()));
        fed += chunk;
        for (const QByteArray &line : splitter.feed(chunk)) {
            FUZZ_CHECK(line.endsWith('\n') && line.count('\n') == 1);
            delivered += line;
            checker.line(line);
        }
    }
    const QByteArray rest = splitter.takePending();
    FUZZ_CHECK(!rest.contains('\n'));
    FUZZ_CHECK(!splitter.hasPending());
    FUZZ_CHECK(delivered + rest == fed);
    if (!rest.isEmpty())
        checker.line(rest);
    return 0;
}
