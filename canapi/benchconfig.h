// The bench configuration: which adapters the interface offers and which
// simulated modules sit on their buses. INI text:
//
//   [adapter.NAME]              one per adapter
//   index = N                   0..255, unique; order within a driver = line
//   driver = pcan_usb | pcan_pci | peakcan
//   backend = sim | qt
//   plugin = peakcan | socketcan | virtualcan      (qt only)
//   interface = usb0 | can0 | tcp://127.0.0.1:PORT/can0   (qt only)
//   trace = FILE                candump log of every frame on the bus; FILE may
//                               hold %t (the run's start), %u (the user), %%
//                               (canapi/runplaces.h)
//   trace_name = NAME           interface name in the trace (default canN)
//   bus_status = WORD           status word the bus reports (sim only)
//   clock_drift_ppm = X         rate error of the interface clock (sim only)
//   bus_off_after_frames = N    the controller goes bus off once N frames have
//                               completed on the bus; 0 = never (sim only)
//   bus_off_for_good = BOOL     true: a reset does not bring it back (sim only)
//   stats = FILE                bus statistics written when the bench ends, with the
//                               placeholders of trace (sim only)
//   realtime = BOOL             true: the bus thread asks for real-time scheduling, so
//                               that it keeps its deadlines on a busy machine (sim only)
//   spin_us = N                 0..1000: the bus thread sleeps until N us before each
//                               deadline and spins the rest, for machines whose timer
//                               wake-ups come tens of us late; 0 = sleep (sim only)
//
//   [module.NAME]               one per simulated module
//   adapter = N                 index of the adapter whose bus it is on
//   ...                         the module's own keys (modsim/moduleconfig.h)
//
// Comments start with ';' or '#' at the start of a line, or with ';' after
// white space. A value in double quotes is taken as it is. Relative paths are
// relative to the folder of the file. A line holding a NUL byte is refused, and
// so are two modules with the same address on one adapter.
#pragma once

#include "moduleconfig.h"

#include <QList>
#include <QString>

#include <cstdint>

namespace canapi {

struct AdapterConfig
{
    enum class Backend { Sim, Qt };

    QString name; // section name after "adapter."
    int line = 0; // line of the section header
    int index = -1;
    QString driver;
    Backend backend = Backend::Sim;
    QString plugin;
    QString interface;
    QString tracePath; // absolute; empty = no trace
    int traceLine = 0;
    QString traceName;
    QString statsPath; // absolute; empty = no statistics file
    int statsLine = 0;
    bool realtime = false;
    uint32_t spinUs = 0;
    uint16_t busStatus = 0;
    uint64_t busOffAfterFrames = 0;
    bool busOffForGood = false;
    double clockDriftPpm = 0.0;
    bool hasClockDrift = false;
};

struct ModuleEntry
{
    int adapterIndex = -1;
    modsim::ModuleConfig config;
    QString name; // section name after "module."
    int line = 0;
    int imageLine = 0;
};

struct BenchConfig
{
    QString fileName;              // as the messages name it
    QString path;                  // the file read; empty when the bench came as text
    QList<AdapterConfig> adapters; // ascending index
    QList<ModuleEntry> modules;    // in file order
    double clockDriftPpm = 0.0;

    const AdapterConfig *adapter(int index) const;
    QList<ModuleEntry> modulesOn(int adapterIndex) const;
    // "FILE:LINE: message"
    QString at(int line, const QString &message) const;
};

// Bench files are read whole; a larger file is refused.
constexpr qint64 kMaxBenchFileBytes = 1024 * 1024;

// False with "FILE:LINE: message" in error when the text is bad.
bool parseBenchConfig(const QString &text, const QString &fileName, const QString &baseDir, BenchConfig *config,
                      QString *error);
// Reads a file; relative paths in it are relative to its folder. Anything
// but a regular file of at most kMaxBenchFileBytes is refused unread.
bool loadBenchConfig(const QString &path, BenchConfig *config, QString *error);

// The machine-wide bench file, for every user; the package ships none.
inline const char SystemBenchPath[] = "/etc/tarvcanflash/tarvcan.ini";

// The bench file to read: the one the variable names, else the first of the
// places that holds a file; empty when none does (the adapters are then
// detected).
QString benchFilePath(const QString &variable, const QStringList &places);

} // namespace canapi
