// The module's protocol events as lines for the standalone program's log, and
// the hexadecimal forms those lines show identifiers and bytes in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace modsim {

class EventLog
{
public:
    // prefix starts every line, naming the module.
    explicit EventLog(std::string prefix);

    void add(const std::string &text);
    // The lines since the last take, oldest first.
    std::vector<std::string> take();

private:
    std::string prefix_;
    std::vector<std::string> lines_;
};

// "2a8": an 11-bit identifier as the log shows it.
std::string hexId(uint16_t id);
// "9A": a byte as the log shows it.
std::string hexByte(uint8_t byte);

} // namespace modsim
