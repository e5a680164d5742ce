#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// Reading the merged output of the console program tarvCanFlash. The line
// openings and the field layout of the progress lines are the console
// program's output contract:
//   Flash ID 208 37.5% S21400200010111213141516171819
//   Compare ID 208 0.0% S00600004844521B
//   PostFlash
//   Finish: Update Process needed 12 seconds.      (no line feed)
//   Error: ... / Cannot ...

// Joins the bytes of successive reads into whole lines. A read may stop in
// the middle of a line, so the tail without line feed is held back until the
// rest arrives or the caller decides the stream has gone quiet or ended.
class LineSplitter
{
public:
    // Whole lines completed by these bytes, each with its line feed.
    QList<QByteArray> feed(const QByteArray &bytes);
    bool hasPending() const { return !pending.isEmpty(); }
    QByteArray takePending();
    void clear() { pending.clear(); }

private:
    QByteArray pending;
};

// Completed: "2  of  2 completed. ", once the last module is restarted; the
// restarted modules are still to log on again.
enum class LineKind { Other, Progress, Error, Final, PostFlash, Completed };
enum class RunPhase { Flashing, Comparing };

struct ParsedLine
{
    LineKind kind = LineKind::Other;
    RunPhase phase = RunPhase::Flashing; // progress lines only
    std::optional<int> percent;          // progress lines only; empty when the fields do not fit
};

ParsedLine parseLine(const QByteArray &line);

// Decimal integer with an optional sign and nothing else.
std::optional<int> parseDecimal(const QByteArray &text);

enum class StatusColour { Black, Green, Red };
QString styleSheetFor(StatusColour colour);

struct StatusChange
{
    QString message;
    StatusColour colour = StatusColour::Black;
    bool repaintNow = false;
};

enum class RunEnd { None, Final, Error };

// What a line says about one module. The lines that name a module:
//   Module 208: name K3B7, serial 120035, release 4.20, channel 1
//   Flash ID 208 26.5% S1130000...        Compare ID 208 51.5% S1...
//   Module 208: updated | not updated: <reason> | skipped: <reason>
//   "" Module 208 not updated: <reason>
// and those that concern the module in work without naming it:
//   PostFlash
//   "" Timeout, repeating line: "S1..."   (also Checksum error, Other error)
//   "" Flash error, restarting writing from the beginning.
// Ids are hexadecimal, with the CAN line in bits 12..15.
enum class ModuleEventKind { Identity, Progress, Restart, Repeat, Updated, NotUpdated, Skipped };

struct ModuleEvent
{
    ModuleEventKind kind = ModuleEventKind::Identity;
    uint id = 0; // all but Restart and Repeat
    RunPhase phase = RunPhase::Flashing;
    int percent = 0;               // Progress
    QString name, serial, release; // Identity, as the line gives them
    bool reupdate = false;         // Identity: its loader takes any firmware file
    QString reason;                // NotUpdated, Skipped
};

std::optional<ModuleEvent> parseModuleEvent(const QByteArray &line);

struct LineReaction
{
    std::optional<StatusChange> status;
    std::optional<int> progress;
    RunEnd end = RunEnd::None;
    std::optional<ModuleEvent> module;
};

// Turns the lines of one run into status and progress changes. Each change
// between flashing and comparing is announced once, also across modules.
class RunMonitor
{
public:
    void startRun();
    LineReaction onLine(const QByteArray &line);

    bool announcesFlashing() const { return announceFlashing; }
    bool announcesComparing() const { return announceComparing; }

private:
    std::optional<StatusChange> progressStatus(RunPhase phase);
    StatusChange readyWait(uint id);

    bool announceFlashing = true;
    bool announceComparing = true;
};

// The line as the status bar shows it, without its line end. The console
// program writes UTF-8 (its Qt text streams do, on every platform); a line
// is only decoded whole, so a character split between two reads stays whole.
QString statusText(const QByteArray &line);
