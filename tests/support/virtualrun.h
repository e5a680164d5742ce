// tarvCanFlash's automatic run (CLOSE_AUTO) in virtual time: the update
// sequence against simulated modules on a virtual bus, in this process and
// thread, with the console text the program would write. Each run is judged
// by the wire judge. A run takes milliseconds and repeats byte for byte.
#pragma once

#include "wirejudge.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace modsim {
struct ModuleConfig;
}

namespace testkit {

class Bench;
class BenchIni;
struct RunResult;

struct VirtualSpec
{
    QString firmwarePath; // as given to the program
    QString canIds;       // the CanIds argument; empty: none
    int canLine = 0;
    int bitRateKbit = 125;
    bool scan = false;
    bool closeAuto = true; // else its ENTER prompt is answered at once
    // Those with an image path start from that file and are written back to
    // it, as the stand-in does.
    std::vector<modsim::ModuleConfig> modules;
    uint64_t busOffAfterFrames = 0; // 0: the bus stays OK
    int64_t stopAtUs = -1;          // a stop signal at this virtual time; -1: none
};

struct VirtualResult
{
    int exitCode = -1;
    QByteArray trace;
    QByteArray out;
    QByteArray err;
    WireVerdict wire;
    int64_t virtualUs = 0; // how long the run took in virtual time
    bool overran = false;  // stopped at the harness's limit of virtual time
    // Per module of the spec, in its order: whether its image holds exactly
    // the firmware file's data after the run.
    std::vector<bool> imagesEqual;
    // Per module: why its image could not be written back; empty when it was.
    QStringList imageProblems;
    // The frames of the trace as "ID#DATA", without their time stamps.
    QStringList frames() const;
    QString describe() const;
};

// The modules of a bench file as the stand-in would host them on canLine,
// their images kept in memory.
std::vector<modsim::ModuleConfig> benchModules(const BenchIni &ini, int canLine, QString *error);

VirtualResult runVirtual(const VirtualSpec &spec);

// tarvCanFlash's arguments (an automatic run, with or without CLOSE_AUTO, or
// a scan) against a bench in virtual time: the modules and the adapter of
// the line as the stand-in hosts them, the images read from and written to
// the bench's files, reported as Bench::run reports a real run.
RunResult runVirtualBench(const Bench &bench, const QStringList &args);

} // namespace testkit
