// One adapter of the bench: a bus that carries frames between the
// interface's clients, the simulated modules and test peers. The base class
// fans a completed frame out (trace, interface, peers); a backend only moves
// frames to and from its bus.
#pragma once

#include "benchconfig.h"
#include "canapi.h"
#include "simhooks.h"
#include "trace.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace canapi {

class Adapter;

// The interface side of every adapter.
class AdapterSink
{
public:
    virtual ~AdapterSink() = default;
    // A frame completed on the adapter's bus at monotonic time monoNs; origin
    // is the node that sent it (0 = a node outside the process).
    virtual void onBusFrame(const Adapter &adapter, const ApiFrame &frame, uint64_t origin, int64_t monoNs) = 0;
};

ApiFrame toApiFrame(const sim::BusFrame &frame);
sim::BusFrame toBusFrame(const ApiFrame &frame);

class Adapter : public std::enable_shared_from_this<Adapter>
{
public:
    Adapter(const AdapterConfig &config, AdapterSink &sink, std::shared_ptr<TraceFile> trace);
    virtual ~Adapter() = default;
    Adapter(const Adapter &) = delete;
    Adapter &operator=(const Adapter &) = delete;

    const AdapterConfig &config() const { return config_; }

    // A net was registered at bitRate: the bus runs at that rate from now on.
    // Returns once the bus can carry frames (a device is connected).
    virtual bool open(uint32_t bitRate, std::string *error) = 0;
    // Puts a frame on the bus from origin, at monotonic time atNs (0 = now).
    virtual bool transmit(const ApiFrame &frame, uint64_t origin, int64_t atNs) = 0;
    // The device's own status word; empty where the interface keeps the word.
    virtual std::optional<uint16_t> deviceStatus() { return std::nullopt; }
    // Stops the adapter's threads and devices; the adapter carries nothing
    // afterwards. Safe to call more than once.
    virtual void stop() = 0;
    virtual sim::BusStats stats() const { return {}; }
    virtual void resetStats() {}

    std::unique_ptr<sim::Peer> attachPeer(std::function<void(const sim::BusFrame &)> onFrame);

    // A change of the controller's bus state (CanErrBusOff, CanErrRestarted)
    // at monotonic time monoNs, recorded in the trace.
    void traceBusState(uint32_t errorClass, int64_t monoNs) const;

protected:
    // Every frame that completed on the bus goes through here exactly once.
    void publish(const ApiFrame &frame, uint64_t origin, int64_t monoNs);

private:
    struct PeerSlot
    {
        uint64_t origin = 0;
        std::mutex mutex;
        bool active = true;
        std::function<void(const sim::BusFrame &)> onFrame;
    };
    class PeerHandle;

    void detachPeer(const std::shared_ptr<PeerSlot> &slot);

    AdapterConfig config_;
    std::string traceName_;
    AdapterSink &sink_;
    std::shared_ptr<TraceFile> trace_;
    int64_t realtimeOffsetNs_;
    std::mutex peersMutex_;
    std::vector<std::shared_ptr<PeerSlot>> peers_;
};

} // namespace canapi
