#include "receivequeue.h"

#include "bustiming.h"

#include <algorithm>

namespace canapi {

namespace {

auto ofNet(uint8_t wanted)
{
    return [wanted](const Received &r) { return wanted == 0 || r.net == wanted; };
}

} // namespace

bool acceptedBy(const std::vector<MessageRange> &ranges, uint8_t net, const ApiFrame &frame)
{
    const bool extended = (frame.type & API_FRAME_EXT) != 0;
    const uint32_t id = wireId(frame);
    return std::any_of(ranges.begin(), ranges.end(), [&](const MessageRange &r) {
        return r.net == net && (r.extended || !extended) && id >= r.first && id <= r.last;
    });
}

bool ReceiveQueue::push(const Received &frame)
{
    if (frames_.size() >= kClientQueueCapacity) {
        ++dropped_;
        return false;
    }
    frames_.push_back(frame);
    return true;
}

std::optional<Received> ReceiveQueue::take(uint8_t wanted)
{
    const auto it = std::find_if(frames_.begin(), frames_.end(), ofNet(wanted));
    if (it == frames_.end())
        return std::nullopt;
    const Received taken = *it;
    frames_.erase(it);
    return taken;
}

bool ReceiveQueue::holds(uint8_t wanted) const
{
    return std::any_of(frames_.begin(), frames_.end(), ofNet(wanted));
}

ApiResult ReceiveQueue::read(uint8_t wanted, bool busOff, ApiFrame *frame, uint8_t *net, ApiTimeStamp *ts)
{
    const std::optional<Received> taken = take(wanted);
    if (!taken)
        return busOff ? API_ERR_BUSOFF : API_ERR_QRCVEMPTY;
    *frame = taken->frame;
    if (net != nullptr)
        *net = taken->net;
    if (ts != nullptr)
        *ts = taken->ts;
    // While the bus is off the reader reads on, to the bus-off report.
    const bool more = busOff || holds(wanted);
    return more ? API_OK : API_MORE_QUEUED;
}

void ReceiveQueue::forgetNet(uint8_t net)
{
    std::erase_if(frames_, [net](const Received &r) { return r.net == net; });
}

} // namespace canapi
