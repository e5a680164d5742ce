#include "linetransfer.h"

#include "protocol.h"

QByteArray LineTransfer::nextFrame()
{
    const QByteArray frame = firmwareLine_.mid(sent_, protocol::FlashTextPerFrame);
    sent_ += frame.size();
    return frame;
}

QByteArray LineTransfer::start(uint16_t module, const QByteArray &firmwareLine)
{
    std::lock_guard lock(mutex_);
    active_ = true;
    module_ = module;
    firmwareLine_ = firmwareLine;
    sent_ = acked_ = 0;
    lastAck_ = clock_.now();
    return nextFrame();
}

QByteArray LineTransfer::acknowledged(uint16_t module, bool *through)
{
    std::lock_guard lock(mutex_);
    if (!active_ || module != module_ || acked_ >= sent_)
        return {};
    acked_ = sent_;
    lastAck_ = clock_.now();
    const QByteArray next = nextFrame();
    if (through)
        *through = next.isEmpty();
    return next;
}

bool LineTransfer::through()
{
    std::lock_guard lock(mutex_);
    return acked_ >= firmwareLine_.size();
}

// The waiter sleeps through a line's frames: the acknowledgement that
// completes a line changes the module table after it (its queued codes are
// cleared), and that change wakes the waiter.
bool LineTransfer::waitComplete(std::chrono::milliseconds frameBound)
{
    for (;;) {
        RunClock::Time until;
        {
            std::lock_guard lock(mutex_);
            if (acked_ >= firmwareLine_.size()) {
                active_ = false;
                return true;
            }
            // Each frame has its own bound, counted from the previous one's
            // acknowledgement; acknowledged() moves that start on.
            until = lastAck_ + frameBound;
            if (clock_.now() >= until) {
                active_ = false;
                return false;
            }
        }
        clock_.waitUntil([this] { return through(); }, until);
    }
}
