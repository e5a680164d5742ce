// What one benchmark case is, the sets of cases the modes run, and the bench
// configuration that puts the case's modules on a simulated bus.
#pragma once

#include "benchini.h"

#include <optional>
#include <string>
#include <vector>

namespace bench {

// Where the modules sit: on the simulated bus inside the flasher's process
// (bit timing, bus statistics), or in tarvModuleSim on Qt's virtual CAN bus,
// so that the flasher's process holds nothing of theirs (memory figures).
enum class Bus { Simulated, VirtualCan };

struct Case
{
    int dataKiB = 16;
    int bytesPerRecord = 16;
    int bitRateK = 1000; // 125, 250 or 1000, as the flasher takes it
    int modules = 1;
    Bus bus = Bus::Simulated;

    std::string name() const; // e.g. "256KiB-16B-1000k-4m", "1024KiB-32B-1000k-1m-vcan"
    bool operator==(const Case &) const = default;
};

// Every combination of 16/64/256 KiB, 16/32 bytes per record, 125/250/1000
// kbit/s and 1/4 modules on the simulated bus, then the 1 MiB file on the
// virtual bus for the memory target.
std::vector<Case> fullCases();
// A few small cases that together take well under two minutes.
std::vector<Case> shortCases();

// "SIZE:RECORD:RATE:MODULES" in KiB, bytes, kbit/s and count, e.g. "64:32:250:4",
// with ":vcan" at the end for the virtual bus.
std::optional<Case> parseCase(const std::string &text, std::string *error);

// First module address; module n (from 0) has address kFirstAddress + n, so
// its identifier is 0x200 + 8 * address.
constexpr int kFirstAddress = 1;
int moduleId(int index);

// The keys of module n (from 0) beyond the kit's: its serial and seed, and
// every processing delay at zero, so that what is measured is the flasher's side.
testkit::Keys moduleKeys(int index);

// The bench configuration. Simulated bus: one adapter that writes its
// statistics to statsPath, and the case's modules. Virtual bus: one Qt
// adapter on interface, no modules.
testkit::BenchIni benchIni(const Case &c, const QString &statsPath, const QString &interface = {});

} // namespace bench
