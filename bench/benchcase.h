// What one benchmark case is, the sets of cases the modes run, and the bench
// configuration that puts the case's modules on a simulated bus.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace bench {

struct Case {
    int dataKiB = 16;
    int bytesPerRecord = 16;
    int bitRateK = 1000; // 125, 250 or 1000, as the flasher takes it
    int modules = 1;

    std::string name() const; // e.g. "256KiB-16B-1000k-4m"
    bool operator==(const Case &) const = default;
};

// Every combination of 16/64/256 KiB, 16/32 bytes per record, 125/250/1000
// kbit/s and 1/4 modules, then the 1 MiB file for the memory target.
std::vector<Case> fullCases();
// A few small cases that together take well under two minutes.
std::vector<Case> shortCases();

// "SIZE:RECORD:RATE:MODULES" in KiB, bytes, kbit/s and count, e.g. "64:32:250:4".
std::optional<Case> parseCase(const std::string &text, std::string *error);

// First module address; module n (from 0) has address kFirstAddress + n, so
// its identifier is 0x200 + 8 * address.
constexpr int kFirstAddress = 1;
int moduleId(int index);
std::string imageName(int index);

// The bench configuration: one simulated adapter that writes its statistics
// to statsPath, and the case's modules with every processing delay at zero.
// Relative names are relative to the configuration file's folder.
std::string benchIni(const Case &c, const std::string &statsPath);

} // namespace bench
