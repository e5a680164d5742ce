#include "virtualbus.h"

#include "apimoduleframes.h"
#include "bustiming.h"
#include "canmessage.h"
#include "managecancommunication.h"
#include "module.h"
#include "trace.h"

#include <algorithm>
#include <climits>

namespace testkit {

namespace {

constexpr int64_t Never = INT64_MAX;
// The trace's clock: a fixed epoch, so that a run's trace repeats exactly.
constexpr int64_t TraceEpochNs = 1700000000LL * 1000000000LL;
constexpr int FlasherOrigin = -1;

int64_t nsOf(RunClock::Time time)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count();
}

} // namespace

struct VirtualBus::Pending
{
    ApiFrame frame{};
    int origin = FlasherOrigin; // index of the module that sent it
    int64_t readyNs = 0;
};

struct VirtualBus::Slot
{
    Pending pending;
    int64_t endNs = 0;
};

struct VirtualBus::Node
{
    // A module with an image file starts from it, as the stand-in's do.
    explicit Node(const modsim::ModuleConfig &config)
        : module(config)
    {
        module.restoreImage(nullptr);
    }
    modsim::Module module;
};

VirtualBus::VirtualBus(const Options &options, const std::vector<modsim::ModuleConfig> &modules)
    : options_(options)
{
    for (const modsim::ModuleConfig &config : modules)
        nodes_.push_back(std::make_unique<Node>(config));
    collectModuleFrames();
}

VirtualBus::~VirtualBus() = default;

const modsim::Module &VirtualBus::module(size_t index) const
{
    return nodes_.at(index)->module;
}

void VirtualBus::scheduleStop(int64_t atNs, std::function<void()> stop)
{
    stopAtNs_ = atNs;
    stop_ = std::move(stop);
}

RunClock::Time VirtualBus::now() const
{
    return Time(std::chrono::duration_cast<Time::duration>(std::chrono::nanoseconds(nowNs_)));
}

int64_t VirtualBus::wakeAt(Time deadline) const
{
    return nsOf(deadline) + options_.wakeLatencyNs;
}

bool VirtualBus::pauseUntil(Time deadline)
{
    runUntil(wakeAt(deadline), [this] { return waitsCut_; });
    return !waitsCut_;
}

bool VirtualBus::waitFor(ModuleTable::Event event, Time deadline)
{
    ModuleTable &modules = flasher_->modules();
    runUntil(wakeAt(deadline), [&] { return waitsCut_ || modules.holdsNow(event); });
    return modules.holdsNow(event);
}

bool VirtualBus::waitUntil(const std::function<bool()> &done, Time deadline)
{
    runUntil(wakeAt(deadline), done);
    return done();
}

void VirtualBus::sleepUntil(Time deadline)
{
    runUntil(wakeAt(deadline), [] { return false; });
}

// Only frames of the run's line reach its bus (the line is in the address
// word's top bits); a controller off the bus sends nothing.
void VirtualBus::send(const CanMessage &message)
{
    if ((message.address() >> 12) != options_.canLine || busOff_)
        return;
    Pending pending;
    pending.frame.id = message.address() & 0x7FFu;
    pending.frame.length = static_cast<uint8_t>(message.data().size());
    std::copy(message.data().begin(), message.data().end(), pending.frame.data);
    pending.readyNs = nowNs_;
    queue_.push_back(pending);
}

QByteArray VirtualBus::readStatus()
{
    return busOff_ ? QByteArrayLiteral("BUSOFF") : QByteArrayLiteral("OK");
}

void VirtualBus::runUntil(int64_t deadlineNs, const std::function<bool()> &done)
{
    while (!done()) {
        if (!step(deadlineNs)) {
            nowNs_ = std::max(nowNs_, deadlineNs);
            return;
        }
    }
}

// Events in time order; at the same moment module timers run before a slot
// ends, as on the stand-in's bus.
bool VirtualBus::step(int64_t deadlineNs)
{
    if (!slot_ && !queue_.empty())
        startSlot();
    const int64_t moduleDue = nextModuleDeadlineNs();
    const int64_t slotEnd = slot_ ? slot_->endNs : Never;
    const int64_t stopAt = stop_ ? stopAtNs_ : Never;
    const int64_t next = std::min({moduleDue, slotEnd, stopAt});
    if (next > deadlineNs || next == Never)
        return false;
    nowNs_ = std::max(nowNs_, next);
    if (next == stopAt) {
        const std::function<void()> stop = std::move(stop_);
        stop_ = nullptr;
        stop();
    } else if (moduleDue <= slotEnd) {
        runModuleTimers(moduleDue);
    } else {
        completeSlot();
    }
    return true;
}

int64_t VirtualBus::nextModuleDeadlineNs() const
{
    int64_t due = Never;
    for (const auto &node : nodes_) {
        const int64_t us = node->module.nextDeadlineUs();
        if (us != INT64_MAX)
            due = std::min(due, us * 1000);
    }
    return due;
}

void VirtualBus::runModuleTimers(int64_t atNs)
{
    const int64_t dueUs = atNs / 1000;
    for (const auto &node : nodes_) {
        if (node->module.nextDeadlineUs() <= dueUs)
            node->module.advance(std::max(dueUs, nowNs_ / 1000));
    }
    collectModuleFrames();
}

void VirtualBus::startSlot()
{
    auto slot = std::make_unique<Slot>();
    slot->pending = queue_.front();
    queue_.pop_front();
    const int64_t bits = canapi::frameBits(slot->pending.frame);
    const int64_t start = std::max(slot->pending.readyNs, busFreeNs_);
    slot->endNs = start + bits * 1000000000 / options_.bitRate;
    slot_ = std::move(slot);
}

void VirtualBus::completeSlot()
{
    const Slot slot = *slot_;
    slot_.reset();
    busFreeNs_ = slot.endNs;
    writeTrace(slot.pending);
    deliver(slot.pending);
    if (++framesOnBus_ == options_.busOffAfterFrames && !busOff_) {
        busOff_ = true;
        writeBusOff();
        // What the controller still held never reaches the bus.
        std::erase_if(queue_, [](const Pending &p) { return p.origin == FlasherOrigin; });
    }
    if (drainLeft_ > 0)
        --drainLeft_;
}

// The modules hear it first and queue their answers at once; the flasher's
// reaction comes after them.
void VirtualBus::deliver(const Pending &frame)
{
    const modsim::Frame moduleFrame = canapi::toModuleFrame(frame.frame);
    for (size_t i = 0; i < nodes_.size(); ++i) {
        if (static_cast<int>(i) != frame.origin)
            nodes_[i]->module.receive(moduleFrame, nowNs_ / 1000);
    }
    collectModuleFrames();
    if (frame.origin == FlasherOrigin || busOff_ || !receiving_ || !flasher_)
        return;
    const uint16_t word = static_cast<uint16_t>(options_.canLine << 12 | frame.frame.id);
    flasher_->receiveFrame(word, frame.frame.length, frame.frame.data);
}

void VirtualBus::collectModuleFrames()
{
    for (size_t i = 0; i < nodes_.size(); ++i) {
        for (const modsim::Frame &frame : nodes_[i]->module.takeOutgoing())
            queue_.push_back(Pending{canapi::fromModuleFrame(frame), static_cast<int>(i), nowNs_});
    }
}

void VirtualBus::writeTrace(const Pending &frame)
{
    writeLine(canapi::candumpFrame(frame.frame));
}

void VirtualBus::writeBusOff()
{
    writeLine(canapi::candumpErrorFrame(canapi::CanErrBusOff));
}

void VirtualBus::writeLine(const std::string &body)
{
    const int64_t micros = (TraceEpochNs + nowNs_) / 1000;
    trace_ += QByteArray("(") + QByteArray::number(micros / 1000000) + '.'
              + QByteArray::number(micros % 1000000).rightJustified(6, '0') + ") "
              + options_.interfaceName.toLatin1() + ' ' + QByteArray::fromStdString(body) + '\n';
}

// As the stand-in's adapter when its line closes: what it accepted goes out,
// and the flasher no longer reads.
void VirtualBus::drain()
{
    receiving_ = false;
    drainLeft_ = queue_.size() + (slot_ ? 1 : 0);
    while (drainLeft_ > 0 && step(Never - 1)) {
    }
}

} // namespace testkit
