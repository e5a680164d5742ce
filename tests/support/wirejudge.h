// Judges one tarvCanFlash run by the conversation on its bus: a candump record
// of the bus, the firmware file and the console output go in; the first broken
// rule, tied to the frame where it broke, comes out.
#pragma once

#include <QByteArray>
#include <QString>

namespace testkit {

struct WireRun
{
    QByteArray trace;      // candump log text, one frame per line: "(1700000000.123456) can0 205#D80311"
    QString interfaceName; // only frames of this interface count; empty: every frame of the trace
    QByteArray firmware;   // the firmware file's bytes as flashed
    QString fileName;      // the firmware file argument as given (the module name check uses it)
    QString canIds;        // the CanIds argument; empty when none was given
    QByteArray out;        // tarvCanFlash's standard output
    QByteArray err;        // tarvCanFlash's standard error
    int canLine = 0;       // the run's CAN line
    int exitCode = -1;     // tarvCanFlash's exit code; -1: unknown, and the console's outcome goes unchecked
    bool scan = false;     // tarvCanFlash --scan: every module queried, none updated
    qint64 stopUs = -1;    // the first stop signal sent to it, on the trace's clock in us; -1: none
    bool outCut = false;   // its standard output was closed early: what it shows goes unjudged
};

struct WireVerdict
{
    bool ok() const { return rule.isEmpty(); }
    int frame = -1; // 0-based index of the frame (among the judged frames) where a rule broke; -1: none or not
                    // tied to a frame
    QString rule;   // short name of the first broken rule; empty: the run kept every rule
    QString detail; // what was seen and what was due
    // Timeouts the flasher reported although the answer was on the bus inside
    // the bound: allowed, as a loaded machine may starve its reader, but a
    // run without injected loss or delay has none.
    int answeredTimeouts = 0;
    QString describe() const; // "frame 123: <rule>: <detail>" or "ok"
};

WireVerdict judgeWire(const WireRun &run);

} // namespace testkit
