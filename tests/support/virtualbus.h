// A whole update run in virtual time, single-threaded: the bus of the
// interface stand-in's simulated adapter (frames take the bus one at a time,
// each for its bit length at the bit rate, delivered when their slot ends)
// with the simulated modules on it, as the run's clock and its port. Every
// wait of the run steps the bus and the modules to their next event until
// the wait is over; the frames from the modules reach the flasher through
// the manager's own decoding. Nothing depends on the wall clock, so a run
// repeats byte for byte.
#pragma once

#include "busport.h"
#include "runclock.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class ManageCanCommunication;
namespace modsim {
class Module;
struct ModuleConfig;
} // namespace modsim

namespace testkit {

class VirtualBus final : public RunClock, public BusPort
{
public:
    struct Options
    {
        uint32_t bitRate = 125000;
        uint16_t canLine = 0;
        // The flasher's controller goes off the bus once this many frames
        // were on it (0: never); it stays off.
        uint64_t busOffAfterFrames = 0;
        // How late a timed wait ends past its deadline. A sleeping thread is
        // woken that late on a real machine, and the flasher's passes of 10
        // ms add it up: the log-on window's last request is due at the
        // moment its 300 passes would end without it.
        int64_t wakeLatencyNs = 60000;
        QString interfaceName = QStringLiteral("can0");
    };

    VirtualBus(const Options &options, const std::vector<modsim::ModuleConfig> &modules);
    ~VirtualBus() override;

    // Where the modules' frames go: the run's manager.
    void attach(ManageCanCommunication &flasher) { flasher_ = &flasher; }
    // Called once when the virtual time reaches atNs (a stop signal).
    void scheduleStop(int64_t atNs, std::function<void()> stop);

    Time now() const override;
    bool pauseUntil(Time deadline) override;
    bool waitFor(ModuleTable::Event event, Time deadline) override;
    bool waitUntil(const std::function<bool()> &done, Time deadline) override;
    void sleepUntil(Time deadline) override;
    void cutWaitsShort() override { waitsCut_ = true; }

    void send(const CanMessage &message) override;
    QByteArray readStatus() override;

    // After the line is closed: the frames it accepted go out, nothing after.
    void drain();
    int64_t nowNs() const { return nowNs_; }
    // The bus as candump -L writes it, stamped from a fixed epoch.
    const QByteArray &trace() const { return trace_; }
    const modsim::Module &module(size_t index) const;
    size_t moduleCount() const { return nodes_.size(); }

private:
    struct Pending;
    struct Slot;
    struct Node;

    int64_t wakeAt(Time deadline) const;
    // Steps the bus until done() holds or the deadline; done() is asked
    // after every event.
    void runUntil(int64_t deadlineNs, const std::function<bool()> &done);
    // One event at or before the deadline; false when there is none.
    bool step(int64_t deadlineNs);
    int64_t nextModuleDeadlineNs() const;
    void runModuleTimers(int64_t atNs);
    void startSlot();
    void completeSlot();
    void deliver(const Pending &frame);
    void collectModuleFrames();
    void writeTrace(const Pending &frame);
    void writeBusOff();
    void writeLine(const std::string &body);

    Options options_;
    ManageCanCommunication *flasher_ = nullptr;
    std::vector<std::unique_ptr<Node>> nodes_;
    std::deque<Pending> queue_;
    std::unique_ptr<Slot> slot_;
    int64_t nowNs_ = 0;
    int64_t busFreeNs_ = 0;
    uint64_t framesOnBus_ = 0;
    bool busOff_ = false;
    bool waitsCut_ = false;
    bool receiving_ = true;
    size_t drainLeft_ = 0;
    int64_t stopAtNs_ = -1;
    std::function<void()> stop_;
    QByteArray trace_;
};

} // namespace testkit
