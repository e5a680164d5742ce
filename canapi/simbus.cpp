#include "simbus.h"

#include "apiclock.h"
#include "apimoduleframes.h"
#include "bustiming.h"
#include "outputfile.h"
#include "registry.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>

namespace canapi {

namespace {

constexpr size_t kTransmitQueueCapacity = 65536;
constexpr int64_t kNever = INT64_MAX;

bool reachesModules(const ApiFrame &frame)
{
    // The modules speak 11-bit data frames only.
    return (frame.type & (API_FRAME_EXT | API_FRAME_RTR)) == 0;
}

const char *phaseName(modsim::Module::Phase phase)
{
    using Phase = modsim::Module::Phase;
    switch (phase) {
    case Phase::Idle:
        return "idle";
    case Phase::Preparing:
        return "preparing";
    case Phase::Update:
        return "update";
    case Phase::Flash:
        return "flash";
    case Phase::Compare:
        return "compare";
    case Phase::Restarting:
        return "restarting";
    case Phase::Dead:
        return "dead";
    }
    return "unknown";
}

int64_t threadCpuNs()
{
    timespec ts{};
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts) != 0)
        return 0;
    return int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

void writeTotals(std::FILE *file, const sim::BusStats &s)
{
    std::fprintf(file,
                 "\"frames\":%" PRIu64 ",\"bits\":%" PRIu64 ",\"busyNs\":%" PRIu64 ",\"sumLatenessNs\":%" PRIu64
                 ",\"maxLatenessNs\":%" PRIu64,
                 s.frames, s.bits, s.busyNs, s.sumLatenessNs, s.maxLatenessNs);
}

} // namespace

SimBus::SimBus(const AdapterConfig &config, AdapterSink &sink, std::shared_ptr<TraceFile> trace,
               const QList<ModuleEntry> &modules)
    : Adapter(config, sink, std::move(trace))
    , epochNs_(monotonicNs())
{
    for (const ModuleEntry &entry : modules) {
        auto module = std::make_unique<modsim::Module>(entry.config);
        std::string error;
        if (!module->restoreImage(&error))
            std::fprintf(stderr, "tarvcanapi: module %03X: image not read: %s; the module stays silent\n",
                         unsigned{entry.config.id()}, error.c_str());
        nodes_.push_back(Node{std::move(module), newOriginId()});
    }
    collectModuleFrames(epochNs_);
    queue_.insert(queue_.end(), outgoing_.begin(), outgoing_.end());
    outgoing_.clear();
    thread_ = std::thread([this] { run(); });
}

SimBus::~SimBus()
{
    stop();
}

bool SimBus::open(uint32_t bitRate, std::string *error)
{
    if (bitRate == 0) {
        if (error)
            *error = "no bit rate";
        return false;
    }
    std::lock_guard lock(mutex_);
    bitRate_ = bitRate;
    return true;
}

bool SimBus::transmit(const ApiFrame &frame, uint64_t origin, int64_t atNs)
{
    const int64_t now = monotonicNs();
    {
        std::lock_guard lock(mutex_);
        if (stopping_ || queue_.size() + scheduled_.size() >= kTransmitQueueCapacity)
            return false;
        if (atNs > now)
            scheduled_.emplace(atNs, Pending{frame, origin, atNs});
        else
            queue_.push_back(Pending{frame, origin, now});
    }
    wake_.notify_one();
    return true;
}

void SimBus::stop()
{
    {
        std::lock_guard lock(mutex_);
        if (stopping_)
            return;
        stopping_ = true;
        // A frame the adapter accepted goes out, also when the line closes
        // right after it (the last frame of the closing sequence).
        drainLeft_ = queue_.size() + (slot_ ? 1 : 0);
    }
    wake_.notify_one();
    if (thread_.joinable())
        thread_.join();
    saveImages();
    writeStats();
}

sim::BusStats SimBus::stats() const
{
    std::lock_guard lock(mutex_);
    return stats_;
}

void SimBus::resetStats()
{
    std::lock_guard lock(mutex_);
    stats_ = {};
    markLatenessNs_ = 0;
}

int64_t SimBus::nextModuleDeadlineNs() const
{
    int64_t due = kNever;
    for (const Node &node : nodes_) {
        const int64_t us = node.module->nextDeadlineUs();
        if (us == INT64_MAX)
            continue;
        const int64_t ns = us > (kNever - epochNs_) / 1000 ? kNever : epochNs_ + us * 1000;
        due = std::min(due, ns);
    }
    return due;
}

void SimBus::run()
{
    pthread_setname_np(pthread_self(), "tarvSimBus");
    // Frames end microseconds apart; with the default timer slack of 50 us
    // every one would be delivered about that late.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    if (config().realtime) {
        // The lowest real-time priority is enough to be woken ahead of every
        // ordinary thread; without the right to it the thread stays ordinary.
        const sched_param param{sched_get_priority_min(SCHED_FIFO)};
        realtimeGranted_ = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
    }
    std::unique_lock lock(mutex_);
    while (!stopping_ || drainLeft_ > 0) {
        const int64_t now = monotonicNs();
        while (!scheduled_.empty() && scheduled_.begin()->first <= now) {
            queue_.push_back(scheduled_.begin()->second);
            scheduled_.erase(scheduled_.begin());
        }
        const int64_t moduleDue = nextModuleDeadlineNs();
        if (moduleDue <= now && (!slot_ || moduleDue <= slot_->endNs)) {
            runModuleTimers(lock, moduleDue);
            continue;
        }
        if (!slot_ && !queue_.empty())
            startSlot();
        if (slot_ && slot_->endNs <= now) {
            completeSlot(lock, now);
            continue;
        }
        int64_t next = std::min(moduleDue, slot_ ? slot_->endNs : kNever);
        if (!scheduled_.empty())
            next = std::min(next, scheduled_.begin()->first);
        if (next == kNever)
            wake_.wait(lock);
        else
            waitUntil(lock, next);
    }
    threadCpuNs_ = threadCpuNs();
}

// Sleeps until the spin margin before the deadline, then spins the rest
// unlocked, so that transmit() is not held up meanwhile. The caller's loop
// comes back here after the early wake-up.
void SimBus::waitUntil(std::unique_lock<std::mutex> &lock, int64_t deadlineNs)
{
    const int64_t early = deadlineNs - int64_t{config().spinUs} * 1000;
    if (monotonicNs() < early) {
        wake_.wait_until(lock, std::chrono::steady_clock::time_point(std::chrono::nanoseconds(early)));
        return;
    }
    lock.unlock();
    while (monotonicNs() < deadlineNs)
        sched_yield();
    lock.lock();
}

void SimBus::startSlot()
{
    Slot slot;
    slot.pending = queue_.front();
    queue_.pop_front();
    slot.bits = frameBits(slot.pending.frame);
    // The slot follows the one before it, not the moment the thread got
    // round to it: deadlines are absolute, so a late wake-up does not
    // stretch the bus.
    const int64_t start = std::max(slot.pending.readyNs, busFreeNs_);
    slot.endNs = start + int64_t{slot.bits} * 1000000000 / bitRate_;
    slot_ = slot;
}

void SimBus::completeSlot(std::unique_lock<std::mutex> &lock, int64_t nowNs)
{
    const Slot slot = *slot_;
    slot_.reset();
    if (stopping_ && drainLeft_ > 0)
        --drainLeft_;
    const int64_t startNs = std::max(slot.pending.readyNs, busFreeNs_);
    busFreeNs_ = slot.endNs;
    const auto lateness = static_cast<uint64_t>(std::max<int64_t>(0, nowNs - slot.endNs));
    ++stats_.frames;
    stats_.bits += static_cast<uint64_t>(slot.bits);
    stats_.busyNs += static_cast<uint64_t>(slot.endNs - startNs);
    stats_.maxLatenessNs = std::max(stats_.maxLatenessNs, lateness);
    stats_.sumLatenessNs += lateness;
    markLatenessNs_ = std::max(markLatenessNs_, lateness);

    lock.unlock();
    const ApiFrame &frame = slot.pending.frame;
    publish(frame, slot.pending.origin, slot.endNs);
    if (reachesModules(frame)) {
        const modsim::Frame moduleFrame = toModuleFrame(frame);
        for (Node &node : nodes_) {
            if (node.origin != slot.pending.origin)
                node.module->receive(moduleFrame, moduleUs(slot.endNs));
        }
    }
    collectModuleFrames(slot.endNs);
    lock.lock();
    queue_.insert(queue_.end(), outgoing_.begin(), outgoing_.end());
    outgoing_.clear();
    notePhaseChanges(slot.endNs);
}

void SimBus::runModuleTimers(std::unique_lock<std::mutex> &lock, int64_t deadlineNs)
{
    lock.unlock();
    const int64_t dueUs = moduleUs(deadlineNs);
    for (Node &node : nodes_) {
        if (node.module->nextDeadlineUs() <= dueUs)
            node.module->advance(dueUs);
    }
    collectModuleFrames(deadlineNs);
    lock.lock();
    queue_.insert(queue_.end(), outgoing_.begin(), outgoing_.end());
    outgoing_.clear();
    notePhaseChanges(deadlineNs);
}

void SimBus::notePhaseChanges(int64_t atNs)
{
    const bool keep = !config().statsPath.isEmpty();
    for (Node &node : nodes_) {
        const modsim::Module::Phase phase = node.module->phase();
        if (phase == node.phase)
            continue;
        node.phase = phase;
        reportLostImage(*node.module);
        if (!keep)
            continue;
        PhaseMark mark{atNs, node.module->config().id(), phase, stats_};
        mark.totals.maxLatenessNs = markLatenessNs_;
        marks_.push_back(mark);
        markLatenessNs_ = 0;
    }
}

void SimBus::reportLostImage(const modsim::Module &module)
{
    if (module.phase() != modsim::Module::Phase::Restarting || module.imageProblem().empty())
        return;
    std::fprintf(stderr,
                 "tarvcanapi: module %03X: image not written: %s; the module stays silent after its restart\n",
                 unsigned{module.config().id()}, module.imageProblem().c_str());
}

void SimBus::collectModuleFrames(int64_t readyNs)
{
    for (Node &node : nodes_) {
        for (const modsim::Frame &f : node.module->takeOutgoing())
            outgoing_.push_back(Pending{fromModuleFrame(f), node.origin, readyNs});
    }
}

void SimBus::saveImages()
{
    for (const Node &node : nodes_) {
        std::string error;
        if (!node.module->saveImage(&error))
            std::fprintf(stderr, "tarvcanapi: module %03X: image not written: %s\n",
                         unsigned{node.module->config().id()}, error.c_str());
    }
}

void SimBus::writeStats() const
{
    const std::string path = config().statsPath.toStdString();
    if (path.empty())
        return;
    std::string error;
    std::FILE *file = modsim::openOutputFile(path, &error);
    if (!file) {
        std::fprintf(stderr, "tarvcanapi: statistics not written: %s\n", error.c_str());
        return;
    }
    for (const PhaseMark &mark : marks_) {
        std::fprintf(file, "{\"event\":\"phase\",\"atNs\":%" PRId64 ",\"module\":%u,\"phase\":\"%s\",", mark.atNs,
                     unsigned{mark.module}, phaseName(mark.phase));
        writeTotals(file, mark.totals);
        std::fputs("}\n", file);
    }
    std::fprintf(file, "{\"event\":\"end\",\"atNs\":%" PRId64 ",", busFreeNs_);
    writeTotals(file, stats_);
    std::fprintf(file, ",\"threadCpuNs\":%" PRId64 ",\"realtime\":%s}\n", threadCpuNs_,
                 realtimeGranted_ ? "true" : "false");
    if (!modsim::closeOutputFile(file, path, &error))
        std::fprintf(stderr, "tarvcanapi: statistics not written: %s\n", error.c_str());
}

} // namespace canapi
