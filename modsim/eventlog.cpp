#include "eventlog.h"

#include <cstdio>
#include <utility>

namespace modsim {

namespace {

constexpr size_t kMaxEvents = 4096;

} // namespace

EventLog::EventLog(std::string prefix)
    : prefix_(std::move(prefix))
{}

void EventLog::add(const std::string &text)
{
    // A host that never takes the events must not make the module grow
    // without bound over a long bench run.
    if (lines_.size() >= kMaxEvents)
        lines_.erase(lines_.begin(), lines_.begin() + kMaxEvents / 2);
    lines_.push_back(prefix_ + text);
}

std::vector<std::string> EventLog::take()
{
    return std::exchange(lines_, {});
}

std::string hexId(uint16_t id)
{
    char text[8];
    std::snprintf(text, sizeof text, "%03x", id);
    return text;
}

std::string hexByte(uint8_t byte)
{
    char text[4];
    std::snprintf(text, sizeof text, "%02X", byte);
    return text;
}

} // namespace modsim
