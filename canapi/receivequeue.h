// What a client receives: the message ranges it takes from its nets, and its
// receive queue, which holds the frames those ranges let in, in the order
// they completed on the bus, up to a bound; a reader takes the oldest of one
// net or of any.
#pragma once

#include "canapi.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace canapi {

constexpr size_t kClientQueueCapacity = 32768;

// Identifiers first..last of one net; a range given with an extended bound
// takes extended and standard frames, any other standard frames only.
struct MessageRange
{
    uint8_t net = 0;
    uint32_t first = 0;
    uint32_t last = 0;
    bool extended = false;
};

// frame carries its identifier as it went over the wire.
bool acceptedBy(const std::vector<MessageRange> &ranges, uint8_t net, const ApiFrame &frame);

struct Received
{
    ApiFrame frame{};
    uint8_t net = 0;
    ApiTimeStamp ts{};
};

class ReceiveQueue
{
public:
    // False when the queue is full: the frame is dropped and counted.
    bool push(const Received &frame);
    // The oldest frame of net wanted (0: of any net), taken off the queue.
    std::optional<Received> take(uint8_t wanted);
    bool holds(uint8_t wanted) const;
    // The oldest frame of net wanted into the reader's places (net and ts may
    // be null): API_OK when more of that net wait, API_MORE_QUEUED for the
    // last one. While busOff the queue is read empty first and then reports
    // the bus off.
    ApiResult read(uint8_t wanted, bool busOff, ApiFrame *frame, uint8_t *net, ApiTimeStamp *ts);
    void clear() { frames_.clear(); }
    // The net went away: its frames must not reach the reader.
    void forgetNet(uint8_t net);
    size_t dropped() const { return dropped_; }

private:
    std::deque<Received> frames_;
    size_t dropped_ = 0;
};

} // namespace canapi
