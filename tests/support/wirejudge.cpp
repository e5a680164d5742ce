#include "wirejudge.h"

#include "candumplog.h"
#include "wireconsole.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cstdint>
#include <map>

namespace testkit {

namespace {

using Us = qint64;
constexpr Us Ms = 1000;
// The flasher waits 251 ms for a frame's acknowledgement and for a line's
// answer, counted from its own, later, view of the bus.
constexpr Us ResponseBound = 250 * Ms;
// Bus time stamps against the sender's clock; for lower bounds.
constexpr Us StampSlack = 20 * Ms;
// After a timeout the flasher pauses 2 s; after a code it goes on at once.
// A step this long after a code followed a timeout, not the code: a loaded
// machine may starve the flasher's reader past its bound.
constexpr Us AfterTimeout = 1000 * Ms;
// From a module's first frame until the flasher's table surely holds it.
constexpr Us KnownSlack = 50 * Ms;
// The firmware name is looked at 500 ms after the identity requests.
constexpr Us NameSure = 400 * Ms;
// The flasher's fixed pauses: before the query, before a pass's first line
// (the modules switch, and erase on update command 3), before a timed-out
// line goes again.
constexpr Us QueryPause = 500 * Ms;
constexpr Us PhasePause = 500 * Ms;
constexpr Us TimeoutPause = 2000 * Ms;
// From the first log-off sweep until the bus status is read; from the first
// log-on the flasher sees, 300 passes of 10 ms for more.
constexpr Us StartupSettle = 500 * Ms;
constexpr Us LogOnWindow = 300 * 10 * Ms;
// The flasher answers a module's log-on frame from its receive thread, at once:
// this leaves room for a loaded machine, not for an answer from a poll loop.
constexpr Us LogOnAnswerBound = 500 * Ms;
// Until the log-on window closes, the log-on request goes again this often;
// the window closes when no new module has answered for LogOnWindow, and at
// the latest this long after the first log-on.
constexpr Us LogOnRepeat = 1000 * Ms;
constexpr Us LongestLogOnWindow = 30000 * Ms;
// How late a due log-on request may be on a loaded machine; how early one
// may seem after the start-up's, which waits on the bus behind the second
// log-off sweep.
constexpr Us LogOnRequestLate = 1000 * Ms;
constexpr Us LogOnRequestEarly = 100 * Ms;
// From a stop signal until the flasher surely acted on it: a frame that
// went out before is in flight.
constexpr Us StopSlack = 100 * Ms;
constexpr Us ClosingPause1 = 500 * Ms;
constexpr Us ClosingPause2 = 1000 * Ms;
constexpr int SweepFrames = 64;
// A line refused or unanswered this often in a row gives its module up, and
// so does a flash error after this many restarts of the flash pass.
constexpr int RefusalsInARow = 10;
constexpr int FlashRestarts = 5;
// More requests for the firmware name while a module has named none.
constexpr int NameRequests = 4;
// tarvCanFlash's exit codes.
constexpr int ExitUpdated = 0;
constexpr int ExitRefused = 1;
constexpr int ExitNotUpdated = 2;
constexpr int TextPerFrame = 6;

const QByteArray LogOff = QByteArray::fromHex("d800");
const QByteArray LogOn = QByteArray::fromHex("d801");
const QByteArray LogOnFollowUp = QByteArray::fromHex("12a00001");
const QByteArray Pattern = QByteArray::fromHex("123412345678");
const QByteArray Opening = QByteArray::fromHex("f415e6");
const QByteArray FlashData = QByteArray::fromHex("1500");

bool isAcceptance(uint8_t code)
{
    return code == 0x81 || code == 0x85;
}
bool isFlashError(uint8_t code)
{
    return code == 0x91 || code == 0x93;
}
bool isRefusal(uint8_t code)
{
    return code == 0x92 || code == 0x97 || code == 0x98;
}
// The codes the flasher queues; 15 94..96 decode to nothing.
bool isQueued(uint8_t code)
{
    return isAcceptance(code) || isFlashError(code) || isRefusal(code);
}

QString hex(uint32_t value)
{
    return QString::number(value, 16);
}

// Who sends a frame, by its identifier alone: the modules answer from their
// id + 4 or + 5; the flasher writes to id and id + 1 and to fixed words.
enum class Origin { FromModule, ToModule, ToModuleRequest, Sequence, LogOnRequest, Pattern, Unknown };

Origin originOf(uint32_t id)
{
    if (id >= 0x200 && id <= 0x3FF) {
        const uint32_t low = id & 7;
        return low == 0               ? Origin::ToModule
               : low == 1             ? Origin::ToModuleRequest
               : low == 4 || low == 5 ? Origin::FromModule
                                      : Origin::Unknown;
    }
    // 0x601 is the fixed word 0x1E01, which names line 1 with bit 11 set.
    return id == 0x004   ? Origin::Sequence
           : id == 0x7FF ? Origin::LogOnRequest
           : id == 0x601 ? Origin::Pattern
                         : Origin::Unknown;
}

struct FileLine
{
    QByteArray text; // trimmed, inner white space as one space, without CR LF
    qint64 end;      // file position after the raw line
};

QByteArray simplified(const QByteArray &raw)
{
    QByteArray text;
    bool gap = false;
    for (char c : raw) {
        const bool space = c == ' ' || (c >= '\t' && c <= '\r');
        if (!space && gap && !text.isEmpty())
            text += ' ';
        if (!space)
            text += c;
        gap = space;
    }
    return text;
}

QList<FileLine> fileLinesOf(const QByteArray &firmware)
{
    QList<FileLine> lines;
    qint64 pos = 0;
    while (pos < firmware.size()) {
        const qint64 newline = firmware.indexOf('\n', pos);
        const qint64 end = newline < 0 ? firmware.size() : newline + 1;
        lines.append({simplified(firmware.mid(pos, end - pos)), end});
        pos = end;
    }
    return lines;
}

struct Code
{
    uint8_t value;
    Us at;
};

// One transfer of a line, from its first frame on.
struct Transfer
{
    int line = -1; // -1: no line yet in this pass
    int sent = 0;  // bytes sent, CR LF included
    Us lastFrameUs = 0;
    Us ackUs = -1; // acknowledgement of the latest frame
};

enum class Stage { Idle, Queried, Updating, PostFlash, Done, Left };
enum class Pass { None, Flash, Compare };
enum class Next { Line, PassEnd, Restart, Leave };

struct Module
{
    uint16_t id = 0;
    Us knownUs = -1; // its first frame the flasher decodes
    int knownFrame = -1;
    bool reupdate = false;
    QList<std::pair<int, Us>> logOnsToAnswer;
    int followUpsDue = 0;
    QList<std::pair<Us, QString>> names;
    Stage stage = Stage::Idle;
    Us queryUs = -1;
    Us readyUs = -1;
    Us zeroUs = -1;
    bool flashStarted = false;
    Pass pass = Pass::None;
    bool restartDue = false; // a flash error was taken
    Us passUs = -1;          // update command of the pass
    int flashStarts = 0;
    int refusalsInRow = 0; // of the line in transfer: refusals and timeouts since its last acceptance
    int requests = 0;      // identity, release and name requests of the query, in the order sent
    int infoAnswers = 0;   // device information frames, each of which the flasher answers with a name request
    int infoNames = 0;     // name requests sent for those, whenever the frame came
    int zeros = 0;         // update command 0
    Transfer transfer;
    QList<Code> codes; // queued since the transfer began, or left over
    bool patternAfterRestart = false;
    bool loggedOnAfterRestart = false;
    bool addressed = false; // the flasher sent it a frame, so its table holds it
    bool givenUp = false;
    bool lostInQuery = false;    // the bus went while its identity was asked
    bool lostAfterLogOn = false; // the bus went in its post-flash, after its log-on
    bool stoppedInQuery = false; // a stop came while its identity was asked
    QByteArray information;      // its latest device information frame
};

class Judge
{
public:
    explicit Judge(const WireRun &run);
    WireVerdict verdict();

private:
    bool fail(int frame, const char *rule, const QString &detail);
    bool fail(const char *rule, const QString &detail) { return fail(index_, rule, detail); }
    void onFrame(const LoggedFrame &frame);
    bool onStartupFrame(Origin origin, const LoggedFrame &frame);
    bool onRepeatedLogOnRequest(const QByteArray &data);
    bool logOnRequestsKeptUp();
    bool logOnWindowClosed();
    void onModuleFrame(Module &m, const QByteArray &data);
    bool onCommandFrame(Module &m, const QByteArray &data);
    bool onRequestFrame(Module &m, const QByteArray &data);
    bool onUpdateCommand(Module &m, uint8_t code);
    bool onDataFrame(Module &m, const QByteArray &bytes);
    bool onPattern(const QByteArray &data);
    bool onSequence(const QByteArray &data);
    bool onClosingStart();
    bool beginWork(Module &m);
    bool checkOrder(const Module &next, Us decidedBy);
    bool checkSelection(const Module &m, bool updated);
    bool nameless(const Module &m) const;
    bool busLost() const;
    bool runStopped() const;
    bool afterStop(const char *what);
    bool checkModuleLines(const QStringList &out);
    bool selected(const Module &m) const { return canIds_.isEmpty() || canIds_.contains(uint16_t(m.id & 0x7FF)); }
    void startPass(Module &m, Pass pass);
    bool settleLine(Module &m, Next next, bool *repeat);
    void takeCodes(Module &m, qsizetype count, bool required, bool givesUp = false);
    void leaveModule(Module &m, bool runEnds);
    bool finish();
    void checkConsole();
    void checkOutcome(const QStringList &err);
    Module &module(uint32_t id);
    QByteArray lineBytes(int line) const { return lines_[line].text + "\r\n"; }
    void expectNotice(const QString &text, bool required) { notices_.append({text, required, index_}); }
    void expectProgress(const Module &m, bool required);

    const WireRun &run_;
    const QList<FileLine> lines_;
    QList<uint16_t> canIds_;
    WireVerdict verdict_;
    bool stopped_ = false;
    int index_ = -1;
    Us now_ = 0;
    Us firstUs_ = -1;
    int postFlashes_ = 0;
    int answeredTimeouts_ = 0;
    std::map<uint16_t, Module> modules_;
    Module *current_ = nullptr;
    int startupStep_ = 0;
    bool startupDone_ = false;
    bool busNotOk_ = false;
    Us startupEndUs_ = 0;
    Us logOnRequestUs_ = -1;
    Us busLostUs_ = -1;
    Us sweepUs_ = -1;
    Us openingUs_ = -1;
    Us lastWorkUs_ = 0;
    int closingStep_ = 0; // frames of the closing sequence under way
    Us closingStepUs_ = 0;
    Module *closingFor_ = nullptr;
    Us finalClosingUs_ = -1;
    bool versionError_ = false;
    // While a module is left: the flasher gave its line up, so the refusal or
    // timeout that ended it promised no repeat.
    bool givingUp_ = false;
    QList<DueLine> progress_;
    QList<DueLine> notices_;
};

Judge::Judge(const WireRun &run)
    : run_(run)
    , lines_(fileLinesOf(run.firmware))
{
    for (const QString &part : run.canIds.split(u',', Qt::SkipEmptyParts)) {
        bool ok = false;
        const qulonglong value = part.toULongLong(&ok, part.contains(QLatin1String("0x")) ? 16 : 10);
        if (ok)
            canIds_.append(static_cast<uint16_t>(value & 0xFFFF));
    }
}

// A lost bus excuses what it cut short, and only the trace can say so: the
// adapter records bus off as an error frame (CAN_ERR_BUSOFF), as candump does.
bool Judge::busLost() const
{
    return busLostUs_ >= 0;
}

// A stop (SIGINT, SIGTERM, SIGHUP) leaves no mark on the wire; the test says
// when it sent one. One that came before the run's closing sequence ends the
// run: the module in work is given up with its notice, and nothing but the
// line in flight and the closing sequence may follow.
bool Judge::runStopped() const
{
    return run_.stopUs >= 0 && (finalClosingUs_ < 0 || run_.stopUs <= finalClosingUs_);
}

// Whether the flasher began what after it had surely seen the stop.
bool Judge::afterStop(const char *what)
{
    if (run_.stopUs < 0 || now_ <= run_.stopUs + StopSlack)
        return false;
    fail(
        "stop",
        QStringLiteral("%1 %2 ms after the stop signal").arg(QLatin1String(what)).arg((now_ - run_.stopUs) / Ms));
    return true;
}

// The first broken rule wins: the first on the wire, or an earlier one that
// the console comparison finds afterwards.
bool Judge::fail(int frame, const char *rule, const QString &detail)
{
    if (verdict_.ok() || (frame >= 0 && (verdict_.frame < 0 || frame < verdict_.frame)))
        verdict_ = {frame, QString::fromLatin1(rule), detail};
    stopped_ = true;
    return false;
}

Module &Judge::module(uint32_t id)
{
    Module &m = modules_[static_cast<uint16_t>(id)];
    m.id = static_cast<uint16_t>(id);
    return m;
}

WireVerdict Judge::verdict()
{
    const CandumpLog log = readCandumpLog(run_.trace, run_.interfaceName);
    if (log.badLine > 0)
        return {-1, QStringLiteral("trace format"),
                QStringLiteral("line %1: %2").arg(log.badLine).arg(log.problem)};
    for (const LoggedFrame &frame : log.frames) {
        if (stopped_)
            break;
        index_ = frame.index;
        now_ = frame.timeUs;
        firstUs_ = firstUs_ < 0 ? now_ : firstUs_;
        onFrame(frame);
    }
    const bool complete = !stopped_ && finish();
    const WireVerdict console[] = {
        compareLines(progress_, progressLinesOf(run_.out), complete, QStringLiteral("progress line"),
                     QStringLiteral("standard output")),
        compareLines(notices_, noticesOf(run_.err), complete, QStringLiteral("console notice"),
                     QStringLiteral("standard error"))};
    for (const WireVerdict &broken : console) {
        if (!broken.ok() && !(run_.outCut && &broken == &console[0]))
            fail(broken.frame, qPrintable(broken.rule), broken.detail);
    }
    if (complete && verdict_.ok() && run_.exitCode >= 0)
        checkConsole();
    verdict_.answeredTimeouts = answeredTimeouts_;
    return verdict_;
}

void Judge::onFrame(const LoggedFrame &frame)
{
    constexpr uint32_t BusOffClass = 0x40;
    if (frame.error) {
        if ((frame.id & BusOffClass) != 0 && busLostUs_ < 0)
            busLostUs_ = now_;
        return;
    }
    if (frame.extended || frame.remote) {
        fail("identifier", QStringLiteral("%1 frame %2: the protocol has standard data frames only")
                               .arg(frame.extended ? "extended" : "remote", hex(frame.id)));
        return;
    }
    const Origin origin = originOf(frame.id);
    if (origin == Origin::Unknown)
        fail("identifier",
             QStringLiteral("%1 is no module's identifier nor one the flasher writes to").arg(hex(frame.id)));
    else if (origin == Origin::FromModule)
        onModuleFrame(module(frame.id & 0x7F8), frame.data);
    else if (!startupDone_)
        onStartupFrame(origin, frame);
    else if (busNotOk_)
        fail("start-up", QStringLiteral("a frame after the bus was found not OK"));
    else if (origin == Origin::ToModule)
        onCommandFrame(module(frame.id), frame.data);
    else if (origin == Origin::ToModuleRequest)
        onRequestFrame(module(frame.id & 0x7F8), frame.data);
    else if (origin == Origin::Sequence)
        onSequence(frame.data);
    else if (origin == Origin::Pattern)
        onPattern(frame.data);
    else
        onRepeatedLogOnRequest(frame.data);
    if (startupDone_ && (origin == Origin::ToModule || origin == Origin::ToModuleRequest))
        module(frame.id & 0x7F8).addressed = true;
}

// The log-on request goes again, a second apart, until the log-on window
// closes with the opening sequence: a module that missed one is asked again.
bool Judge::onRepeatedLogOnRequest(const QByteArray &data)
{
    if (data != LogOn)
        return fail("start-up",
                    QStringLiteral("7ff#%1 after the start-up").arg(QString::fromLatin1(data.toHex())));
    if (afterStop("log-on request to 7ff"))
        return false;
    if (openingUs_ >= 0 || closingStep_ != 0 || finalClosingUs_ >= 0)
        return fail("start-up", QStringLiteral("log-on request to 7ff after the log-on window closed"));
    if (now_ - logOnRequestUs_ < LogOnRepeat - LogOnRequestEarly)
        return fail("timing", QStringLiteral("log-on request %1 ms after the previous one, due %2 ms")
                                  .arg((now_ - logOnRequestUs_) / Ms)
                                  .arg(LogOnRepeat / Ms));
    if (!logOnRequestsKeptUp())
        return false;
    logOnRequestUs_ = now_;
    return true;
}

bool Judge::logOnRequestsKeptUp()
{
    return now_ - logOnRequestUs_ <= LogOnRepeat + LogOnRequestLate
           || fail("timing",
                   QStringLiteral("no log-on request for %1 ms while the log-on window was open, due every %2 ms")
                       .arg((now_ - logOnRequestUs_) / Ms)
                       .arg(LogOnRepeat / Ms));
}

// The window stays open until no new module has answered for LogOnWindow; a
// module that answered just now may not be in the flasher's table yet.
bool Judge::logOnWindowClosed()
{
    Us firstLogOn = now_;
    Us lastNew = -1;
    for (const auto &[id, m] : modules_) {
        if (m.knownUs < 0)
            continue;
        firstLogOn = std::min(firstLogOn, m.knownUs);
        if (m.knownUs + KnownSlack <= now_)
            lastNew = std::max(lastNew, m.knownUs);
    }
    const Us due = std::min(lastNew + LogOnWindow, firstLogOn + LongestLogOnWindow);
    return now_ >= due - StampSlack
           || fail("timing", QStringLiteral("the opening sequence %1 ms after a module's first log-on, due %2 ms")
                                 .arg((now_ - lastNew) / Ms)
                                 .arg(LogOnWindow / Ms));
}

// On line 1 the pattern frame (no other line's bus carries its fixed word),
// a log-off sweep, with the bus OK a second one, then the log-on request.
bool Judge::onStartupFrame(Origin origin, const LoggedFrame &frame)
{
    const bool patternDue = run_.canLine == 1 && startupStep_ == 0;
    const int sweepStep = startupStep_++ - (run_.canLine == 1 ? 1 : 0);
    if (sweepStep == 0)
        sweepUs_ = now_;
    if (sweepStep == SweepFrames && now_ - sweepUs_ < StartupSettle - StampSlack)
        return fail("timing", QStringLiteral("%1 ms after the first log-off sweep began, due %2 ms")
                                  .arg((now_ - sweepUs_) / Ms)
                                  .arg(StartupSettle / Ms));
    if (patternDue)
        return (origin == Origin::Pattern && frame.data == Pattern)
               || fail("start-up",
                       QStringLiteral("a run on line 1 begins with the pattern frame 601#123412345678"));
    if ((sweepStep == SweepFrames || sweepStep == 2 * SweepFrames) && origin == Origin::LogOnRequest
        && frame.data == LogOn) {
        startupDone_ = true;
        busNotOk_ = sweepStep == SweepFrames;
        startupEndUs_ = now_;
        logOnRequestUs_ = now_;
        return true;
    }
    const uint32_t sweepId = 0x200 + 8 * uint32_t(sweepStep % SweepFrames);
    if (sweepStep < 2 * SweepFrames && frame.id == sweepId && frame.data == LogOff)
        return true;
    const QString due =
        sweepStep < 2 * SweepFrames ? hex(sweepId) + QStringLiteral("#d800") : QStringLiteral("7ff#d801");
    return fail("start-up", QStringLiteral("%1#%2 where %3 was due").arg(hex(frame.id), frame.data.toHex(), due));
}

void Judge::onModuleFrame(Module &m, const QByteArray &data)
{
    if (data.size() < 2)
        return;
    const uint8_t command = uint8_t(data[0]);
    const uint8_t code = uint8_t(data[1]);
    if (m.knownUs < 0) {
        m.knownUs = now_;
        m.knownFrame = index_;
        m.reupdate = command == 0x15 && code == 0x99;
    }
    Transfer &t = m.transfer;
    if (command == 0xD8 && data.size() >= 3) {
        m.logOnsToAnswer.append({index_, now_});
        m.loggedOnAfterRestart = m.loggedOnAfterRestart || m.stage == Stage::PostFlash;
    } else if (command == 0xE0 && data.size() >= 7) {
        ++m.infoAnswers;
        m.information = data;
    } else if (command == 0x12 && code == 0x03) {
        m.names.append({now_, QString::fromLatin1(data.mid(2))});
    } else if (command == 0x15 && code == 0x00) {
        // Whether a late one still counted shows in the flasher's next frame.
        if (m.pass != Pass::None && t.line >= 0 && t.ackUs < 0)
            t.ackUs = now_;
    } else if (command == 0x15) {
        if (isAcceptance(code) || code == 0x99)
            m.readyUs = now_;
        // Codes before a pass's first line are cleared with the pass start.
        if (isQueued(code) && m.pass != Pass::None && t.line >= 0)
            m.codes.append({code, now_});
    }
}

bool Judge::onCommandFrame(Module &m, const QByteArray &data)
{
    if (data == LogOn) {
        if (m.logOnsToAnswer.isEmpty())
            return fail("log-on answer",
                        QStringLiteral("log-on to %1 without a log-on frame of it").arg(hex(m.id)));
        const Us logOnUs = m.logOnsToAnswer.takeFirst().second;
        ++m.followUpsDue;
        return now_ - logOnUs <= LogOnAnswerBound
               || fail("log-on answer",
                       QStringLiteral("log-on to %1 %2 ms after its log-on frame, due within %3 ms")
                           .arg(hex(m.id))
                           .arg((now_ - logOnUs) / Ms)
                           .arg(LogOnAnswerBound / Ms));
    }
    if (data == LogOnFollowUp) {
        if (m.followUpsDue == 0)
            return fail("log-on answer", QStringLiteral("follow-up to %1 without its log-on").arg(hex(m.id)));
        --m.followUpsDue;
        return true;
    }
    if (data.size() == 2 && data[0] == 0x15)
        return onUpdateCommand(m, uint8_t(data[1]));
    return fail("frame layout", QStringLiteral("%1#%2 is no frame for a module").arg(hex(m.id), data.toHex()));
}

bool Judge::onRequestFrame(Module &m, const QByteArray &data)
{
    if (data.size() > 2 && data.startsWith(FlashData))
        return onDataFrame(m, data.mid(2));
    if (data.size() != 2 || data[0] != 0x12 || !(data[1] == 0x00 || data[1] == 0x01 || data[1] == 0x03))
        return fail("frame layout", QStringLiteral("%1#%2 is no request").arg(hex(m.id | 1), data.toHex()));
    // A stop may cut a query short: the answer to its device information
    // frame may follow the closing sequence's first frame.
    if (data[1] == 0x03 && m.infoNames < m.infoAnswers && finalClosingUs_ >= 0 && runStopped()
        && &m == current_) {
        ++m.infoNames;
        return true;
    }
    if (!beginWork(m))
        return false;
    // A device information frame is answered with 12 03 as it arrives, so
    // that request may stand anywhere in the query, even before 12 01.
    if (data[1] == 0x03 && m.infoNames < m.infoAnswers && m.stage == Stage::Queried) {
        ++m.infoNames;
        return true;
    }
    // 12 00, 12 01, 12 03; then 12 03 again while the module named nothing,
    // up to NameRequests times.
    const int due = m.requests < 2 ? m.requests : 3;
    const bool named = std::any_of(m.names.begin(), m.names.end(), [this](const auto &reply) {
        return !reply.second.isEmpty() && reply.first + KnownSlack <= now_;
    });
    const int retries = m.requests + 1 - 3;
    if (data[1] != due || m.stage != Stage::Queried || (retries > 0 && (named || retries > NameRequests)))
        return fail("query",
                    QStringLiteral("request 12 %1 to %2 after %3 requests and %4 device information "
                                   "frames, %5")
                        .arg(int(data[1]), 2, 16, QLatin1Char('0'))
                        .arg(hex(m.id))
                        .arg(m.requests)
                        .arg(m.infoAnswers)
                        .arg(m.requests >= 3
                                 ? QStringLiteral("no more once it is named and after %1 more").arg(NameRequests)
                                 : QStringLiteral("due 12 0%1").arg(due)));
    if (m.requests++ == 0)
        m.queryUs = now_;
    return true;
}

// Work on a module (requests, update commands, data) comes in one block per
// module, after the opening sequence and before the run's closing sequence.
bool Judge::beginWork(Module &m)
{
    if (finalClosingUs_ >= 0 || versionError_)
        return fail("run end", QStringLiteral("work for module %1 after the run ended").arg(hex(m.id)));
    if (&m == current_ && m.stage != Stage::Done) {
        lastWorkUs_ = now_;
        return true;
    }
    if (openingUs_ < 0)
        return fail("opening sequence",
                    QStringLiteral("work for module %1 before the opening sequence").arg(hex(m.id)));
    if (m.stage != Stage::Idle)
        return fail("module order",
                    QStringLiteral("work for module %1 after the flasher moved on from it").arg(hex(m.id)));
    if (afterStop("work for a new module"))
        return false;
    if (m.knownUs < 0)
        return fail("module order", QStringLiteral("work for module %1, which never logged on").arg(hex(m.id)));
    if (!current_ && now_ - openingUs_ < QueryPause - StampSlack)
        return fail("timing", QStringLiteral("work for module %1 %2 ms after the opening sequence, due %3 ms")
                                  .arg(hex(m.id))
                                  .arg((now_ - openingUs_) / Ms)
                                  .arg(QueryPause / Ms));
    const Us decidedBy = current_ ? lastWorkUs_ : openingUs_;
    if (current_)
        leaveModule(*current_, false);
    if (stopped_ || !checkOrder(m, decidedBy))
        return false;
    m.stage = Stage::Queried;
    current_ = &m;
    lastWorkUs_ = now_;
    return true;
}

// The flasher takes the lowest id its table holds that was not handled yet.
bool Judge::checkOrder(const Module &next, Us decidedBy)
{
    for (const auto &[id, other] : modules_) {
        const bool known = other.knownUs >= 0 && std::max(other.knownUs, startupEndUs_) + KnownSlack <= decidedBy;
        if (id < next.id && other.stage == Stage::Idle && known)
            return fail(
                "module order",
                QStringLiteral("module %1 before %2, which logged on in time").arg(hex(next.id), hex(id)));
    }
    return true;
}

// Whether the name that came before the decision fits the file and the id the
// selection; a name that came too close to the decision leaves it open.
bool Judge::nameless(const Module &m) const
{
    return !m.reupdate && std::all_of(m.names.begin(), m.names.end(), [this](const auto &reply) {
        return reply.first > now_ || reply.second.isEmpty();
    });
}

bool Judge::checkSelection(const Module &m, bool updated)
{
    bool sure = true;
    QString name;
    for (const auto &[at, text] : m.names) {
        if (at <= m.queryUs + NameSure)
            name = text;
        else if (at <= now_)
            sure = false;
    }
    // An empty name is in every file name; a module that never names itself
    // is not flashed (it is given up, see leaveModule).
    if (updated && nameless(m))
        return fail("module selection",
                    QStringLiteral("update of module %1, which named no firmware").arg(hex(m.id)));
    const bool fits =
        selected(m) && (m.reupdate || (!name.isEmpty() && QFileInfo(run_.fileName).fileName().contains(name)));
    if (fits == updated || (!sure && selected(m) && !m.reupdate))
        return true;
    const QString what = updated ? QStringLiteral("update of module %1, whose name or id is not selected")
                                 : QStringLiteral("module %1 fits the file and the selection but was skipped");
    return fail("module selection", what.arg(hex(m.id)));
}

bool Judge::onUpdateCommand(Module &m, uint8_t code)
{
    if (run_.scan)
        return fail("scan", QStringLiteral("update command %1 to %2 in a scan").arg(code).arg(hex(m.id)));
    if (!beginWork(m) || afterStop("an update command"))
        return false;
    if (m.stage == Stage::Queried && (m.requests < 3 || m.infoNames < m.infoAnswers))
        return fail("query", QStringLiteral("update command %1 to %2 after %3 requests, due 12 00, 12 01, 12 03 "
                                            "and 12 03 for each of %4 device information frames")
                                 .arg(code)
                                 .arg(hex(m.id))
                                 .arg(m.requests)
                                 .arg(m.infoAnswers));
    if (m.stage == Stage::Queried && !checkSelection(m, true))
        return false;
    if (m.stage == Stage::Queried)
        m.stage = Stage::Updating;
    const bool beforeFlash = !m.flashStarted && m.stage == Stage::Updating;
    const Pass passBefore = code == 5 ? Pass::Flash : Pass::Compare;
    bool repeat = false;
    switch (code) {
    case 0:
        if (!beforeFlash)
            return fail("pass order", QStringLiteral("update command 0 after the update began"));
        // Once to ask for the ready report, once more when it came.
        if (++m.zeros > 2 || (m.zeros == 2 && m.readyUs < m.queryUs))
            return fail("query", QStringLiteral("update command 0 sent %1 times, due once and once more "
                                                "after the ready report")
                                     .arg(m.zeros));
        m.zeroUs = now_;
        return true;
    case 3:
        if (beforeFlash && (m.readyUs < m.queryUs || m.zeroUs < m.readyUs))
            return fail("ready before flash",
                        QStringLiteral("update command 3 before a ready report and command 0"));
        if (!beforeFlash && m.pass == Pass::None)
            return fail("pass order", QStringLiteral("update command 3 outside the update"));
        if (!beforeFlash && !settleLine(m, Next::Restart, &repeat))
            return false;
        if (++m.flashStarts > FlashRestarts + 1)
            return fail("retry limit", QStringLiteral("flash pass %1 of module %2, after %3 restarts")
                                           .arg(m.flashStarts)
                                           .arg(hex(m.id))
                                           .arg(FlashRestarts));
        m.flashStarted = true;
        startPass(m, Pass::Flash);
        return true;
    case 5:
    case 6:
        if (m.pass != passBefore)
            return fail("pass order", QStringLiteral("update command %1 without the pass before it").arg(code));
        if (!settleLine(m, Next::PassEnd, &repeat))
            return false;
        startPass(m, code == 5 ? Pass::Compare : Pass::None);
        if (code == 6) {
            m.stage = Stage::PostFlash;
            ++postFlashes_;
        }
        return true;
    default:
        return fail("frame layout", QStringLiteral("update command %1 is none the flasher sends").arg(code));
    }
}

void Judge::startPass(Module &m, Pass pass)
{
    m.pass = pass;
    m.passUs = now_;
    m.transfer = Transfer();
    m.codes.clear();
    m.restartDue = false;
    m.refusalsInRow = 0;
}

void Judge::expectProgress(const Module &m, bool required)
{
    const FileLine &line = lines_[m.transfer.line];
    progress_.append({progressText(m.pass == Pass::Flash, unsigned(run_.canLine << 12 | m.id), line.end,
                                   run_.firmware.size(), line.text),
                      required, index_});
}

// The flasher takes queued codes oldest first; a version error stops the run.
// givesUp: the last refusal among them gave the line up.
void Judge::takeCodes(Module &m, qsizetype count, bool required, bool givesUp)
{
    qsizetype lastRefusal = -1;
    for (qsizetype i = 0; givesUp && i < count; ++i)
        lastRefusal = isRefusal(m.codes[i].value) ? i : lastRefusal;
    for (qsizetype i = 0; i < count; ++i) {
        const uint8_t code = m.codes[i].value;
        const bool versionError = code == 0x97 || code == 0x98;
        for (const QString &notice : isAcceptance(code)
                                         ? QStringList()
                                         : codeNotices(code, lines_[m.transfer.line].text, i != lastRefusal))
            expectNotice(notice, required || versionError);
        m.restartDue = m.restartDue || isFlashError(code);
        m.refusalsInRow += isRefusal(code) ? 1 : 0;
        versionError_ = versionError_ || versionError;
    }
    m.codes.remove(0, count);
}

// What the flasher may do after a line went out: send it again after a
// refusal or a timeout, go on after an acceptance of this transfer (a stale
// one answers an earlier transfer), restart after a flash error, or give up.
bool Judge::settleLine(Module &m, Next next, bool *repeat)
{
    const Transfer &t = m.transfer;
    *repeat = false;
    if (t.line < 0)
        return next == Next::Leave || next == Next::Line
               || fail("pass order", QStringLiteral("pass without a line"));
    const QByteArray &text = lines_[t.line].text;
    // A timed-out line goes again after the bound and the pause.
    const Us silence = now_ - (t.ackUs >= 0 ? t.ackUs : t.lastFrameUs);
    const auto paused = [&] {
        return next != Next::Line || silence >= ResponseBound + TimeoutPause - StampSlack
               || fail("timing", QStringLiteral("line %1 again %2 ms after its timed-out transfer, due %3 ms")
                                     .arg(t.line + 1)
                                     .arg(silence / Ms)
                                     .arg((ResponseBound + TimeoutPause) / Ms));
    };
    if (t.sent < lineBytes(t.line).size() || t.ackUs < 0) {
        if (!paused())
            return false;
        // A frame without acknowledgement: the line goes again from its first
        // frame; what the module answered meanwhile answers no later transfer.
        expectNotice(timeoutNotice(text, next != Next::Leave || !givingUp_), next != Next::Leave);
        m.codes.clear();
        ++m.refusalsInRow;
        *repeat = true;
        return next == Next::Line || next == Next::Leave
               || fail("pass order",
                       QStringLiteral("pass ended while line %1 was not acknowledged").arg(t.line + 1));
    }
    qsizetype decider = -1;
    for (qsizetype i = 0; i < m.codes.size(); ++i) {
        const Code &c = m.codes[i];
        const bool refusal = isRefusal(c.value) && c.at <= t.ackUs + ResponseBound;
        // A module answers a line once it holds all of it: an acceptance before
        // the last frame's acknowledgement answers an earlier transfer.
        const bool ofThisTransfer = c.at > t.lastFrameUs && t.ackUs >= 0 && c.at >= t.ackUs;
        if (decider < 0 && (refusal || (isAcceptance(c.value) && ofThisTransfer)))
            decider = i;
    }
    const bool timedOut = now_ - t.ackUs >= ResponseBound - StampSlack
                          && (decider < 0 || now_ - m.codes[decider].at > AfterTimeout);
    // A timeout leaves open whether the flasher saw the last acknowledgement
    // in time and wrote the progress line; a code shows that it did.
    expectProgress(m, next == Next::Restart || (next != Next::Leave && !timedOut));
    if (next == Next::Leave || next == Next::Restart) {
        takeCodes(m, m.codes.size(), next == Next::Restart, next == Next::Leave && givingUp_);
        if (next == Next::Leave && timedOut) {
            expectNotice(timeoutNotice(text, !givingUp_), false);
            ++m.refusalsInRow;
        }
        if (next == Next::Restart && versionError_)
            return fail("run end", QStringLiteral("flash pass restarted after a version error"));
        return next == Next::Leave || m.restartDue
               || fail("pass order", QStringLiteral("flash pass restarted without a flash error"));
    }
    if (m.restartDue)
        return fail("pass order",
                    QStringLiteral("line %1 went out after a flash error, not the restart").arg(t.line + 2));
    if (timedOut && !paused())
        return false;
    if (timedOut) {
        expectNotice(timeoutNotice(text), true);
        answeredTimeouts_ += decider >= 0 && m.codes[decider].at <= t.ackUs + ResponseBound ? 1 : 0;
        m.codes.clear();
        ++m.refusalsInRow;
        *repeat = true;
    } else if (decider >= 0) {
        *repeat = !isAcceptance(m.codes[decider].value);
        takeCodes(m, decider + 1, true);
        if (!*repeat)
            m.refusalsInRow = 0;
    } else {
        return fail("line in flight", QStringLiteral("%1 %2 ms after line %3 (%4), which had no answer yet")
                                          .arg(next == Next::PassEnd ? "the pass ended" : "a line went out")
                                          .arg((now_ - t.ackUs) / Ms)
                                          .arg(t.line + 1)
                                          .arg(QString::fromLatin1(text)));
    }
    if (versionError_)
        return fail("run end", QStringLiteral("work went on after a version error"));
    if (next == Next::PassEnd && (*repeat || m.restartDue))
        return fail("pass order", QStringLiteral("pass ended though line %1 was %2")
                                      .arg(t.line + 1)
                                      .arg(*repeat ? "due again" : "answered with a flash error"));
    if (next == Next::PassEnd && t.line != lines_.size() - 1)
        return fail("pass order",
                    QStringLiteral("pass ended after line %1 of %2").arg(t.line + 1).arg(lines_.size()));
    return true;
}

bool Judge::onDataFrame(Module &m, const QByteArray &bytes)
{
    if (!beginWork(m))
        return false;
    if (m.pass == Pass::None)
        return fail("line order",
                    QStringLiteral("flash data to %1 outside a flash or compare pass").arg(hex(m.id)));
    Transfer &t = m.transfer;
    const Us silence = now_ - t.lastFrameUs;
    if (t.line >= 0 && t.ackUs < 0 && silence < ResponseBound - StampSlack)
        return fail("frame in flight",
                    QStringLiteral("a data frame %1 ms after one without acknowledgement").arg(silence / Ms));
    const bool midLine = t.line >= 0 && t.sent < lineBytes(t.line).size();
    // After a long silence a line may start again behind an acknowledged
    // frame: the acknowledgement came too late for the flasher, or the bus
    // lost the flasher's next frame, which then never shows in the record.
    if (midLine && silence >= ResponseBound - StampSlack && bytes == lineBytes(t.line).left(TextPerFrame)) {
        answeredTimeouts_ += t.ackUs >= 0 && t.ackUs <= t.lastFrameUs + ResponseBound ? 1 : 0;
        t.ackUs = -1;
    }
    if (!midLine || t.ackUs < 0) {
        if (afterStop("a line"))
            return false;
        bool repeat = false;
        if (!settleLine(m, Next::Line, &repeat))
            return false;
        if (repeat && m.refusalsInRow >= RefusalsInARow)
            return fail("retry limit",
                        QStringLiteral("line %1 went out again after %2 refusals and timeouts in a row")
                            .arg(t.line + 1)
                            .arg(m.refusalsInRow));
        if (t.line < 0 && now_ - m.passUs < PhasePause - StampSlack)
            return fail("timing", QStringLiteral("first line %1 ms after update command %2, due %3 ms")
                                      .arg((now_ - m.passUs) / Ms)
                                      .arg(m.pass == Pass::Flash ? 3 : 5)
                                      .arg(PhasePause / Ms));
        const int line = repeat ? t.line : t.line + 1;
        if (line >= lines_.size())
            return fail("line order", QStringLiteral("a line beyond the file's %1 lines").arg(lines_.size()));
        t = Transfer();
        t.line = line;
    }
    const QByteArray due = lineBytes(t.line).mid(t.sent, TextPerFrame);
    if (bytes != due)
        return fail("line order", QStringLiteral("frame carries \"%1\" where \"%2\" of line %3 was due")
                                      .arg(QString::fromLatin1(bytes), QString::fromLatin1(due))
                                      .arg(t.line + 1));
    t.sent += int(bytes.size());
    t.lastFrameUs = now_;
    t.ackUs = -1;
    return true;
}

// A module's work ends when the flasher turns to another module or ends the run.
void Judge::leaveModule(Module &m, bool runEnds)
{
    // Logged on again with its new release, the module is updated even when
    // the lost bus swallowed the closing sequence that would end its post-flash.
    // Whether the flasher saw the log-on or the lost bus first, the wire cannot tell.
    if (m.stage == Stage::PostFlash && m.loggedOnAfterRestart && runEnds && busLost()) {
        m.stage = Stage::Done;
        m.lostAfterLogOn = true;
        return;
    }
    m.lostInQuery = m.stage == Stage::Queried && runEnds && busLost();
    // Whether the flasher had decided on it before the stop, the wire cannot tell.
    m.stoppedInQuery = m.stage == Stage::Queried && runEnds && runStopped() && !m.lostInQuery;
    if (m.stage == Stage::Queried && !(runEnds && busLost()) && !m.stoppedInQuery && !run_.scan) {
        checkSelection(m, false);
        m.givenUp = selected(m) && nameless(m);
        if (m.givenUp)
            expectNotice(moduleNotice(unsigned(run_.canLine << 12 | m.id)), true);
    }
    if (m.stage == Stage::Updating || m.stage == Stage::PostFlash) {
        bool repeat = false;
        // A lost bus ends the run without a word on the line in transfer.
        givingUp_ = !(runEnds && busLost());
        if (m.pass != Pass::None)
            settleLine(m, Next::Leave, &repeat);
        // Inside a pass only a limit reached gives a module up.
        const bool limitReached =
            m.refusalsInRow >= RefusalsInARow || (m.restartDue && m.flashStarts > FlashRestarts);
        if (givingUp_ && !versionError_ && !(runEnds && runStopped()) && m.pass != Pass::None && !limitReached)
            fail("retry limit", QStringLiteral("module %1 given up after %2 refusals and timeouts in a row "
                                               "and %3 flash restarts")
                                    .arg(hex(m.id))
                                    .arg(m.refusalsInRow)
                                    .arg(m.flashStarts - 1));
        givingUp_ = false;
        // A controller that went off the bus missed what the wire still
        // carried (the last answer), or kept the next line from the wire
        // altogether; the flasher reports that timeout before the lost bus.
        const int line = m.transfer.line;
        if (runEnds && busLost() && m.pass != Pass::None) {
            if (line >= 0 && !repeat)
                expectNotice(timeoutNotice(lines_[line].text), false);
            if (line + 1 < lines_.size())
                expectNotice(timeoutNotice(lines_[line + 1].text), false);
        }
        m.givenUp = true;
        if (!versionError_)
            expectNotice(moduleNotice(unsigned(run_.canLine << 12 | m.id)), !(runEnds && busLost()));
    }
    if (m.stage != Stage::Done)
        m.stage = Stage::Left;
}

bool Judge::onPattern(const QByteArray &data)
{
    // Line 1 carries it once more on the first poll after update command 6.
    const bool due = run_.canLine == 1 && current_ && current_->stage == Stage::PostFlash
                     && !current_->patternAfterRestart && data == Pattern;
    if (due)
        current_->patternAfterRestart = true;
    return due || fail("identifier", QStringLiteral("pattern frame outside the start-up and the post-flash"));
}

bool Judge::onSequence(const QByteArray &data)
{
    if (data == Opening) {
        const bool anyKnown = std::any_of(modules_.begin(), modules_.end(),
                                          [](const auto &entry) { return entry.second.knownUs >= 0; });
        if (openingUs_ >= 0 || !anyKnown || closingStep_ != 0)
            return fail("opening sequence", QStringLiteral("the opening sequence goes out once, after a log-on"));
        if (!logOnWindowClosed() || !logOnRequestsKeptUp())
            return false;
        openingUs_ = now_;
        return true;
    }
    const char step = data.size() == 1 ? data[0] : 0;
    if (step == char(0xC8) && closingStep_ == 0)
        return onClosingStart();
    const Us pause = closingStep_ == 1 ? ClosingPause1 : ClosingPause2;
    if (closingStep_ == 0 || step != (closingStep_ == 1 ? char(0xCC) : char(0xC4)))
        return fail("closing sequence", QStringLiteral("004#%1 out of the order C8, CC, C4").arg(data.toHex()));
    if (now_ - closingStepUs_ < pause - StampSlack)
        return fail("closing sequence", QStringLiteral("004#%1 %2 ms after the frame before, due %3 ms")
                                            .arg(data.toHex())
                                            .arg((now_ - closingStepUs_) / Ms)
                                            .arg(pause / Ms));
    closingStepUs_ = now_;
    closingStep_ = closingStep_ == 1 ? 2 : 0;
    if (closingStep_ == 0 && closingFor_) {
        closingFor_->stage = Stage::Done;
        lastWorkUs_ = now_;
    }
    return true;
}

// A closing sequence ends a module's post-flash once it has logged on again;
// any other ends the run.
bool Judge::onClosingStart()
{
    closingStep_ = 1;
    closingStepUs_ = now_;
    closingFor_ = nullptr;
    if (current_ && current_->stage == Stage::PostFlash && current_->loggedOnAfterRestart) {
        closingFor_ = current_;
        return run_.canLine != 1 || current_->patternAfterRestart
               || fail("closing sequence",
                       QStringLiteral("post-flash of %1 without its pattern frame").arg(hex(current_->id)));
    }
    if (finalClosingUs_ >= 0)
        return fail("closing sequence", QStringLiteral("a second closing sequence at the end of the run"));
    if (current_)
        leaveModule(*current_, true);
    finalClosingUs_ = now_;
    return !stopped_;
}

bool Judge::finish()
{
    index_ = -1;
    if (!startupDone_)
        return !(startupStep_ > 0 || run_.out.contains("Finish:"))
               || fail("start-up", QStringLiteral("the start-up ends after %1 frames").arg(startupStep_));
    if (busNotOk_)
        return true;
    // Frames queued when the line closes still go out, unless the bus is gone:
    // a lost bus may cut any closing sequence, the run's or a module's.
    const bool lastFrameCut = closingStep_ != 0 && busLost();
    if (closingStep_ != 0 && !lastFrameCut)
        return fail("closing sequence", QStringLiteral("the record ends inside a closing sequence"));
    if (finalClosingUs_ < 0 && current_)
        leaveModule(*current_, true);
    // A lost bus may swallow the closing sequence.
    if (finalClosingUs_ < 0 && !busLost())
        return fail("closing sequence", QStringLiteral("the run ended without its closing sequence"));
    for (const auto &[id, m] : modules_) {
        if (!m.logOnsToAnswer.isEmpty() && m.logOnsToAnswer.first().second < finalClosingUs_)
            return fail(m.logOnsToAnswer.first().first, "log-on answer",
                        QStringLiteral("no log-on to %1 after its log-on frame").arg(hex(id)));
        if (m.followUpsDue > 0 && !busLost())
            return fail("log-on answer", QStringLiteral("no follow-up to %1 after its log-on").arg(hex(id)));
        const bool forgotten = m.stage == Stage::Idle && m.knownUs >= 0 && finalClosingUs_ >= 0 && !versionError_
                               && !runStopped() && std::max(m.knownUs, startupEndUs_) + KnownSlack <= lastWorkUs_;
        if (forgotten)
            return fail(m.knownFrame, "module order",
                        QStringLiteral("module %1 logged on but was never taken").arg(hex(id)));
    }
    return !stopped_;
}

QStringList consoleLines(const QByteArray &text)
{
    QStringList lines;
    for (const QByteArray &line : text.split('\n')) {
        if (!line.trimmed().isEmpty())
            lines.append(QString::fromUtf8(line).trimmed());
    }
    return lines;
}

// What a device information frame says, as the identity line shows it: the
// serial number travels as packed decimal digits.
QString identityOf(const QByteArray &info)
{
    if (info.isEmpty())
        return QStringLiteral("serial (none), release (none), channel (none)");
    const QString digits =
        QString::number((uint8_t(info[1]) << 16) | (uint8_t(info[2]) << 8) | uint8_t(info[3]), 16);
    const qsizetype end =
        std::find_if(digits.begin(), digits.end(), [](QChar c) { return !c.isDigit(); }) - digits.begin();
    const auto digit = [](int value) { return QChar(u'0' + value); };
    return QStringLiteral("serial %1, release %2.%3%4, channel %5")
        .arg(digits.left(end).toULongLong())
        .arg(digit(uint8_t(info[4]) & 0x0F))
        .arg(digit(uint8_t(info[5]) >> 4))
        .arg(digit(uint8_t(info[5]) & 0x0F))
        .arg(uint8_t(info[6]));
}

// One identity line for each module queried, with a name it gave and what its
// device information said; one result line for each module the flasher knew,
// agreeing with its fate on the wire.
bool Judge::checkModuleLines(const QStringList &out)
{
    for (const auto &[id, m] : modules_) {
        const QString prefix = QStringLiteral("Module %1: ").arg(unsigned(run_.canLine << 12 | id), 0, 16);
        const QStringList lines = out.filter(QRegularExpression(QStringLiteral("^") + prefix));
        const QStringList identity = lines.filter(QRegularExpression(QStringLiteral(": name ")));
        const QStringList result =
            lines.filter(QRegularExpression(QStringLiteral(": (updated|not updated: |skipped: )")));
        const bool queried = m.stage != Stage::Idle;
        QStringList names{QStringLiteral("(none)")};
        for (const auto &reply : m.names)
            names << (reply.second.isEmpty() ? QStringLiteral("(none)") : reply.second);
        const QString told = identityOf(m.information);
        const QString reupdate =
            m.reupdate ? QStringLiteral(", in re-update state: takes any firmware file") : QString();
        const bool named =
            identity.size() == 1 && std::any_of(names.begin(), names.end(), [&](const QString &name) {
                return identity[0]
                       == prefix + QStringLiteral("name ") + name + QStringLiteral(", ") + told + reupdate;
            });
        // A stop may end a query before the flasher looked at the name.
        // A query sent into a bus off never reaches the wire, and nothing answers it.
        const QString unheard =
            prefix + QStringLiteral("name (none), serial (none), release (none), channel (none)");
        // Answers after a bus off are on the wire but never reached the flasher,
        // so a query the bus went during may show any part of the identity.
        const bool identityOk =
            queried ? named || (m.stoppedInQuery && identity.isEmpty()) || (m.lostInQuery && identity.size() == 1)
                    : identity.isEmpty() || (busLost() && identity == QStringList{unheard});
        if (!identityOk)
            return fail("console", QStringLiteral("%1 identity lines of module %2 (%3), due %4")
                                       .arg(identity.size())
                                       .arg(hex(id), identity.join(QStringLiteral(" | ")),
                                            queried ? QStringLiteral("one with its name and ") + told
                                                    : QStringLiteral("none")));
        const QString fate = m.stage == Stage::Done  ? QStringLiteral("updated")
                             : m.givenUp || !queried ? QStringLiteral("not updated: ")
                                                     : QStringLiteral("skipped: ");
        // Whether the name came through before the bus went, the wire cannot tell.
        const QString lost = prefix + QStringLiteral("not updated: the CAN connection was lost");
        const bool stopped = m.stoppedInQuery
                             && (result.value(0) == prefix + QStringLiteral("not updated: not reached")
                                 || result.value(0).startsWith(prefix + QStringLiteral("skipped: ")));
        const bool resultOk =
            run_.scan     ? result.isEmpty()
            : m.addressed ? result.size() == 1
                                && (result[0].startsWith(prefix + fate)
                                    || ((m.lostInQuery || m.lostAfterLogOn) && result[0] == lost) || stopped)
                          : result.size() <= 1;
        if (!resultOk)
            return fail("console", QStringLiteral("result lines of module %1: %2, due one \"%3%4\"")
                                       .arg(hex(id), result.join(QStringLiteral(" | ")), prefix, fate));
    }
    return true;
}

// The console around the progress lines and notices: the banner first, the
// firmware file's line next on an update run, a post-flash line per update
// command 6, the completed line once the last module is done with, and the
// time taken last.
void Judge::checkConsole()
{
    const QStringList out = consoleLines(run_.out);
    const QStringList err = consoleLines(run_.err);
    static const QRegularExpression banner(
        QStringLiteral("^tarvCanFlash \\S+: firmware update of tarv high-voltage modules over CAN$"));
    if (!run_.outCut && !banner.match(out.value(0)).hasMatch()) {
        fail("console", QStringLiteral("standard output begins with \"%1\", not the banner").arg(out.value(0)));
        return;
    }
    // An update run names its file before its first frame: a run that spoke
    // on the bus had its arguments accepted.
    const QString fileLine = QStringLiteral("Programflash from hex file: ") + run_.fileName;
    if (!run_.outCut && !run_.scan && firstUs_ >= 0 && out.value(1) != fileLine) {
        fail("console",
             QStringLiteral("standard output's second line is \"%1\", due \"%2\"").arg(out.value(1), fileLine));
        return;
    }
    if (run_.err.contains("Error: CAN-Connection lost") && !busLost()) {
        fail("outcome", QStringLiteral("the console reports a lost bus, the trace records none"));
        return;
    }
    if (!startupDone_ || busNotOk_) {
        if (run_.exitCode != ExitRefused)
            fail("outcome", QStringLiteral("exit code %1 for a run refused at its start-up, due %2")
                                .arg(run_.exitCode)
                                .arg(ExitRefused));
        return;
    }
    if (!run_.outCut && !checkModuleLines(out))
        return;
    if (!run_.outCut && out.count(QStringLiteral("PostFlash")) != postFlashes_) {
        fail("console", QStringLiteral("standard output shows %1 × \"PostFlash\" for %2 update commands 6")
                            .arg(out.count(QStringLiteral("PostFlash")))
                            .arg(postFlashes_));
        return;
    }
    static const QRegularExpression finishLine(
        QStringLiteral("^Finish: Update Process needed (\\d+) seconds\\.$"));
    const QRegularExpressionMatch finished = finishLine.match(out.value(out.size() - 1));
    const Us recorded = now_ - firstUs_;
    if (!run_.outCut
        && (!finished.hasMatch() || (finished.captured(1).toLongLong() + 1) * 1000 * Ms < recorded)) {
        fail("console", QStringLiteral("standard output ends with \"%1\", due the Finish: line with at least "
                                       "the %2 s of the record")
                            .arg(out.value(out.size() - 1))
                            .arg(recorded / (1000 * Ms)));
        return;
    }
    // N of N, where N counts the modules the flasher's table holds.
    static const QRegularExpression completedLine(QStringLiteral("^(\\d+)\\s+of\\s+(\\d+)\\s+completed\\.$"));
    QStringList completed;
    for (const QString &line : err) {
        if (completedLine.match(line).hasMatch())
            completed.append(line);
    }
    const auto addressed =
        std::count_if(modules_.begin(), modules_.end(), [](const auto &entry) { return entry.second.addressed; });
    const auto known = std::count_if(modules_.begin(), modules_.end(),
                                     [](const auto &entry) { return entry.second.knownUs >= 0; });
    const bool throughAll = openingUs_ >= 0 && !versionError_ && !busLost() && !runStopped() && !run_.scan;
    const QRegularExpressionMatch counted = completedLine.match(completed.value(0));
    const qsizetype n = counted.captured(1).toInt();
    const bool fits =
        completed.size() == 1 && counted.captured(1) == counted.captured(2) && n >= addressed && n <= known;
    // A stop after the last module leaves the line as it was.
    if (throughAll ? !fits : !completed.isEmpty() && !busLost() && !(runStopped() && fits)) {
        fail("console",
             QStringLiteral("standard error shows \"%1\" %2 times, due %3")
                 .arg(completed.value(0))
                 .arg(completed.size())
                 .arg(throughAll ? QStringLiteral("once, for %1 to %2 modules").arg(addressed).arg(known)
                                 : QStringLiteral("none: the run ended before its last module")));
        return;
    }
    checkOutcome(err);
}

// The exit code and the last "Error:" line name what the wire shows: which
// modules were updated and which were not.
void Judge::checkOutcome(const QStringList &err)
{
    if (run_.scan) {
        const bool found = std::any_of(modules_.begin(), modules_.end(),
                                       [](const auto &entry) { return entry.second.addressed; });
        const bool passes = found && !runStopped();
        const bool named = err.filter(QRegularExpression(QStringLiteral("^Error:"))).isEmpty() == passes;
        if (run_.exitCode != (passes ? ExitUpdated : ExitNotUpdated) || !named)
            fail("outcome", QStringLiteral("a scan that found %1 modules%2 ends with exit code %3")
                                .arg(found ? QStringLiteral("some") : QStringLiteral("no"))
                                .arg(runStopped() ? QStringLiteral(" and was stopped") : QString())
                                .arg(run_.exitCode));
        return;
    }
    QStringList errors;
    for (const QString &line : err) {
        if (line.startsWith(QLatin1String("Error: ")))
            errors.append(line);
    }
    const QString said = errors.value(errors.size() - 1);
    QStringList notUpdated;
    QStringList maybeNotUpdated; // logged on, but whether the flasher knew it in time is open
    int done = 0;
    for (const auto &[id, m] : modules_) {
        const QString name = hex(uint32_t(run_.canLine) << 12 | id);
        done += m.stage == Stage::Done ? 1 : 0;
        // A stop leaves the modules it did not reach as they were.
        const bool notReached = runStopped() && m.stage == Stage::Idle && m.knownUs >= 0
                                && (finalClosingUs_ < 0 || m.knownUs + KnownSlack <= finalClosingUs_);
        if (m.givenUp || notReached)
            notUpdated.append(name);
        else if ((m.stage == Stage::Idle && m.knownUs >= 0) || m.stoppedInQuery || m.lostAfterLogOn)
            maybeNotUpdated.append(name);
    }
    for (uint16_t id : canIds_) {
        const auto found = modules_.find(id);
        const QString name = hex(uint32_t(run_.canLine) << 12 | id);
        if (found == modules_.end() || found->second.knownUs < 0)
            notUpdated.append(name);
        else if (!found->second.addressed && !maybeNotUpdated.contains(name))
            maybeNotUpdated.append(name);
    }
    // A loss the flasher never saw (after its last frame) fails nothing by itself.
    const bool broken = versionError_ || (busLost() && run_.err.contains("Error: CAN-Connection lost"));
    const bool runFailed = broken || runStopped();
    // A stop that left nothing undone fails nothing.
    const bool mayPass = !broken && notUpdated.isEmpty() && done > 0;
    const bool mayFail = runFailed || !notUpdated.isEmpty() || !maybeNotUpdated.isEmpty() || done == 0;
    const bool passed = run_.exitCode == ExitUpdated && said.isEmpty();
    const bool failed = run_.exitCode == ExitNotUpdated && !said.isEmpty();
    QString due;
    if (!(passed && mayPass) && !(failed && mayFail))
        due = mayPass ? QStringLiteral("exit code %1 and no Error: line").arg(ExitUpdated)
                      : QStringLiteral("exit code %1 and an Error: line").arg(ExitNotUpdated);
    else if (failed && !runFailed && openingUs_ < 0)
        due = said == QLatin1String("Error: No module logged on, no module updated")
                  ? QString()
                  : QStringLiteral("no module logged on");
    else if (failed && !runFailed && said.startsWith(QLatin1String("Error: Modules not updated: "))) {
        const QStringList named = said.mid(28).split(u' ', Qt::SkipEmptyParts);
        const bool exact = std::all_of(notUpdated.begin(), notUpdated.end(),
                                       [&named](const QString &id) { return named.contains(id); })
                           && std::all_of(named.begin(), named.end(), [&](const QString &id) {
                                  return notUpdated.contains(id) || maybeNotUpdated.contains(id);
                              });
        due = exact ? QString() : QStringLiteral("modules not updated: %1").arg(notUpdated.join(u' '));
    } else if (failed && !runFailed && (!notUpdated.isEmpty() || done > 0))
        due = QStringLiteral("modules not updated: %1").arg(notUpdated.join(u' '));
    else if (failed && !runFailed
             && said != QLatin1String("Error: No module fits the file and the selection, no module updated"))
        due = QStringLiteral("no module fits the file and the selection");
    if (!due.isEmpty())
        fail("outcome", QStringLiteral("exit code %1 and \"%2\", due %3").arg(run_.exitCode).arg(said, due));
}

} // namespace

QString WireVerdict::describe() const
{
    if (ok())
        return answeredTimeouts > 0
                   ? QStringLiteral("ok, with %1 timeouts although the answer was on the bus in time")
                         .arg(answeredTimeouts)
                   : QStringLiteral("ok");
    const QString text = rule + QStringLiteral(": ") + detail;
    return frame >= 0 ? QStringLiteral("frame %1: ").arg(frame) + text : text;
}

WireVerdict judgeWire(const WireRun &run)
{
    return Judge(run).verdict();
}

} // namespace testkit
