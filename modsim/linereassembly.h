// Joins the firmware text of flash data frames into lines. A line may be split
// anywhere across frames, and only CR LF ends one. Pure: no clock, no bus.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace modsim {

struct ReceivedLine
{
    std::string text; // without its CR LF; empty when too long
    bool tooLong = false;
};

class LineReassembly
{
public:
    // Longer than any S-record can be, so only a broken stream reaches it.
    static constexpr size_t kMaxLine = 600;

    // Takes the next byte of text; a line once CR LF has ended it.
    std::optional<ReceivedLine> push(uint8_t byte);
    // Drops the line begun so far. The byte before stays: a CR seen just before
    // a pass opens still pairs with an LF right after it.
    void discardPartialLine();

private:
    std::string buffer_;
    bool overflow_ = false;
    uint8_t previous_ = 0;
};

} // namespace modsim
