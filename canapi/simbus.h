// A simulated adapter: an in-process CAN bus with bit timing. Frames take
// the bus one at a time in the order they were handed over, each for its
// length in bits at the bus's bit rate, and are delivered when their slot
// ends. The simulated modules of the bench sit on this bus.
#pragma once

#include "adapter.h"
#include "module.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <thread>

namespace canapi {

class SimBus final : public Adapter {
public:
    static constexpr uint32_t kDefaultBitRate = 125000;

    SimBus(const AdapterConfig &config, AdapterSink &sink, std::shared_ptr<TraceFile> trace,
           const QList<ModuleEntry> &modules);
    ~SimBus() override;

    bool open(uint32_t bitRate, std::string *error) override;
    bool transmit(const ApiFrame &frame, uint64_t origin, int64_t atNs) override;
    void stop() override;
    sim::BusStats stats() const override;
    void resetStats() override;

private:
    struct Pending {
        ApiFrame frame{};
        uint64_t origin = 0;
        int64_t readyNs = 0; // earliest start of its slot
    };
    struct Slot {
        Pending pending;
        int64_t endNs = 0;
        int bits = 0;
    };
    struct Node {
        std::unique_ptr<modsim::Module> module;
        uint64_t origin = 0;
    };

    void run();
    void startSlot(int64_t startNs);
    void completeSlot(std::unique_lock<std::mutex> &lock, int64_t nowNs);
    void runModuleTimers(std::unique_lock<std::mutex> &lock, int64_t deadlineNs);
    void collectModuleFrames(int64_t readyNs);
    int64_t nextModuleDeadlineNs() const;
    int64_t moduleUs(int64_t monoNs) const { return (monoNs - epochNs_) / 1000; }
    void saveImages();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    bool stopped_ = false;
    uint32_t bitRate_ = kDefaultBitRate;
    std::deque<Pending> queue_;
    std::multimap<int64_t, Pending> scheduled_;
    std::optional<Slot> slot_;
    int64_t busFreeNs_ = 0;
    sim::BusStats stats_;

    // Touched by the bus thread only (and by stop() once it has ended).
    std::vector<Node> nodes_;
    std::vector<Pending> outgoing_;
    int64_t epochNs_;

    std::thread thread_;
};

} // namespace canapi
