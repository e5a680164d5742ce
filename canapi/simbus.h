// A simulated adapter: an in-process CAN bus with bit timing. Frames take
// the bus one at a time in the order they were handed over, each for its
// length in bits at the bus's bit rate, and are delivered when their slot
// ends. The simulated modules of the bench sit on this bus.
//
// With a statistics file (adapter key "stats"), the bus writes it when it
// stops, one JSON object per line: a "phase" line each time a module's phase
// changed, with the bus totals up to that moment, then one "end" line with
// the totals and the CPU time of the bus thread:
//
//   {"event":"phase","atNs":T,"module":520,"phase":"flash","frames":N,"bits":B,
//    "busyNs":D,"sumLatenessNs":S,"maxLatenessNs":M}
//   {"event":"end","atNs":T,"frames":N,"bits":B,"busyNs":D,"sumLatenessNs":S,
//    "maxLatenessNs":M,"threadCpuNs":C,"realtime":false}
//
// atNs is the monotonic time on the bus's schedule (the end of the frame that
// caused the change); maxLatenessNs of a phase line covers the frames since
// the line before it; realtime tells whether the bus thread got the
// real-time scheduling that the adapter key "realtime" asks for.
#pragma once

#include "adapter.h"
#include "module.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <thread>

namespace canapi {

class SimBus final : public Adapter
{
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
    struct Pending
    {
        ApiFrame frame{};
        uint64_t origin = 0;
        int64_t readyNs = 0; // earliest start of its slot
    };
    struct Slot
    {
        Pending pending;
        int64_t endNs = 0;
        int bits = 0;
    };
    struct Node
    {
        std::unique_ptr<modsim::Module> module;
        uint64_t origin = 0;
        modsim::Module::Phase phase = modsim::Module::Phase::Idle;
    };
    struct PhaseMark
    {
        int64_t atNs = 0;
        uint16_t module = 0;
        modsim::Module::Phase phase = modsim::Module::Phase::Idle;
        sim::BusStats totals;
    };

    void run();
    void waitUntil(std::unique_lock<std::mutex> &lock, int64_t deadlineNs);
    void startSlot();
    void completeSlot(std::unique_lock<std::mutex> &lock, int64_t nowNs);
    void runModuleTimers(std::unique_lock<std::mutex> &lock, int64_t deadlineNs);
    void collectModuleFrames(int64_t readyNs);
    int64_t nextModuleDeadlineNs() const;
    int64_t moduleUs(int64_t monoNs) const { return (monoNs - epochNs_) / 1000; }
    void notePhaseChanges(int64_t atNs);
    static void reportLostImage(const modsim::Module &module);
    void saveImages();
    void writeStats() const;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    size_t drainLeft_ = 0; // frames still to send once stopping
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
    std::vector<PhaseMark> marks_;
    uint64_t markLatenessNs_ = 0;  // worst lateness since the last mark, under mutex_
    int64_t threadCpuNs_ = 0;      // set as the thread ends
    bool realtimeGranted_ = false; // set as the thread starts

    std::thread thread_;
};

} // namespace canapi
