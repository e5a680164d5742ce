#include "linereassembly.h"

namespace modsim {

std::optional<ReceivedLine> LineReassembly::push(uint8_t byte)
{
    if (byte == '\n' && previous_ == '\r') {
        if (!buffer_.empty() && buffer_.back() == '\r')
            buffer_.pop_back();
        previous_ = 0;
        ReceivedLine line{overflow_ ? std::string() : buffer_, overflow_};
        discardPartialLine();
        return line;
    }
    if (buffer_.size() < kMaxLine)
        buffer_.push_back(static_cast<char>(byte));
    else
        overflow_ = true;
    previous_ = byte;
    return std::nullopt;
}

void LineReassembly::discardPartialLine()
{
    buffer_.clear();
    overflow_ = false;
}

} // namespace modsim
