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
    lastAck_ = std::chrono::steady_clock::now();
    return nextFrame();
}

QByteArray LineTransfer::acknowledged(uint16_t module, bool *through)
{
    std::lock_guard lock(mutex_);
    if (!active_ || module != module_ || acked_ >= sent_)
        return {};
    acked_ = sent_;
    lastAck_ = std::chrono::steady_clock::now();
    const QByteArray next = nextFrame();
    // The waiter sleeps through a line's frames: it is woken once the whole
    // line is acknowledged, not for every frame.
    if (next.isEmpty())
        through_.notify_all();
    if (through)
        *through = next.isEmpty();
    return next;
}

bool LineTransfer::waitComplete(std::chrono::milliseconds frameBound)
{
    std::unique_lock lock(mutex_);
    while (acked_ < firmwareLine_.size()) {
        // Each frame has its own bound, counted from the previous one's
        // acknowledgement; acknowledged() moves that start without waking us.
        const auto until = lastAck_ + frameBound;
        if (std::chrono::steady_clock::now() >= until) {
            active_ = false;
            return false;
        }
        through_.wait_until(lock, until);
    }
    active_ = false;
    return true;
}
