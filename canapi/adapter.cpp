#include "adapter.h"

#include "apiclock.h"
#include "bustiming.h"
#include "registry.h"

#include <algorithm>
#include <cstring>

namespace canapi {

ApiFrame toApiFrame(const sim::BusFrame &frame)
{
    ApiFrame f{};
    f.id = frame.id;
    f.type = static_cast<uint8_t>((frame.extended ? API_FRAME_EXT : 0u) | (frame.remote ? API_FRAME_RTR : 0u));
    f.length = std::min<uint8_t>(frame.len, 8);
    std::memcpy(f.data, frame.data, sizeof f.data);
    return f;
}

sim::BusFrame toBusFrame(const ApiFrame &frame)
{
    sim::BusFrame f;
    f.id = frame.id;
    f.extended = (frame.type & API_FRAME_EXT) != 0;
    f.remote = (frame.type & API_FRAME_RTR) != 0;
    f.len = std::min<uint8_t>(frame.length, 8);
    std::memcpy(f.data, frame.data, sizeof f.data);
    return f;
}

class Adapter::PeerHandle final : public sim::Peer
{
public:
    PeerHandle(std::weak_ptr<Adapter> adapter, std::shared_ptr<PeerSlot> slot)
        : adapter_(std::move(adapter))
        , slot_(std::move(slot))
    {}
    ~PeerHandle() override
    {
        if (auto adapter = adapter_.lock())
            adapter->detachPeer(slot_);
        // Waits for a call of onFrame that is running on the bus thread.
        std::lock_guard lock(slot_->mutex);
        slot_->active = false;
    }
    void send(const sim::BusFrame &frame) override
    {
        if (auto adapter = adapter_.lock())
            adapter->transmit(toApiFrame(frame), slot_->origin, 0);
    }

private:
    std::weak_ptr<Adapter> adapter_;
    std::shared_ptr<PeerSlot> slot_;
};

Adapter::Adapter(const AdapterConfig &config, AdapterSink &sink, std::shared_ptr<TraceFile> trace)
    : config_(config)
    , traceName_(config.traceName.toStdString())
    , sink_(sink)
    , trace_(std::move(trace))
    , realtimeOffsetNs_(realtimeNs() - monotonicNs())
{}

std::unique_ptr<sim::Peer> Adapter::attachPeer(std::function<void(const sim::BusFrame &)> onFrame)
{
    auto slot = std::make_shared<PeerSlot>();
    slot->origin = newOriginId();
    slot->onFrame = std::move(onFrame);
    {
        std::lock_guard lock(peersMutex_);
        peers_.push_back(slot);
    }
    return std::make_unique<PeerHandle>(weak_from_this(), slot);
}

void Adapter::detachPeer(const std::shared_ptr<PeerSlot> &slot)
{
    std::lock_guard lock(peersMutex_);
    std::erase(peers_, slot);
}

void Adapter::traceBusState(uint32_t errorClass, int64_t monoNs) const
{
    if (trace_)
        trace_->writeError(monoNs + realtimeOffsetNs_, traceName_, errorClass);
}

void Adapter::publish(const ApiFrame &sent, uint64_t origin, int64_t monoNs)
{
    ApiFrame frame = sent;
    frame.id = wireId(sent);
    if (trace_)
        trace_->write(monoNs + realtimeOffsetNs_, traceName_, frame);
    sink_.onBusFrame(*this, frame, origin, monoNs);
    std::vector<std::shared_ptr<PeerSlot>> peers;
    {
        std::lock_guard lock(peersMutex_);
        peers = peers_;
    }
    const sim::BusFrame busFrame = toBusFrame(frame);
    for (const auto &peer : peers) {
        if (peer->origin == origin)
            continue;
        std::lock_guard lock(peer->mutex);
        if (peer->active && peer->onFrame)
            peer->onFrame(busFrame);
    }
}

} // namespace canapi
