#include "linerecord.h"

#include "apibinding.h"

#include <system_error>

namespace tarvpcan3 {

namespace {

// After a waiting caller leaves, the reader waits this long before it takes
// the event back: a caller in a receive loop is back within microseconds, and
// each hand-over costs both of them a wake-up.
constexpr auto kHandBack = std::chrono::milliseconds(50);

} // namespace

LineRecord::LineRecord(LineSetup setup)
    : setup_(std::move(setup))
    , client_(setup_.client)
{}

LineRecord::~LineRecord()
{
    stop();
}

bool LineRecord::start()
{
    std::lock_guard guard(stopLock_);
    {
        std::lock_guard lock(queueLock_);
        if (started_ || stopped_)
            return false;
    }
    if (!event_.create() || !readerKick_.create() || !leaderKick_.create()) {
        closeEvents();
        return false;
    }
    const auto &ops = api();
    ops.writeClientParam(setup_.client, API_CLIENTPARAM_EVENT, event_.interfaceHandle());
    ops.writeClientParam(setup_.client, API_CLIENTPARAM_27, 0);
    pinLibrary();
    try {
        readerActive_ = true;
        reader_ = std::thread(&LineRecord::LineReader, this);
    } catch (const std::system_error &) {
        readerActive_ = false;
        unregisterEvent();
        closeEvents();
        return false;
    }
    std::lock_guard lock(queueLock_);
    started_ = true;
    return true;
}

void LineRecord::stop()
{
    std::lock_guard guard(stopLock_);
    {
        std::lock_guard lock(queueLock_);
        if (stopped_)
            return;
        stopped_ = true;
        stopRequest_ = true;
    }
    frameQueued_.notify_all();
    readerResume_.notify_all();
    if (reader_.joinable()) {
        readerKick_.signal();
        reader_.join();
    }
    {
        // The leading caller waits on the events closed below.
        std::unique_lock lock(queueLock_);
        if (leader_)
            leaderKick_.signal();
        leaderGone_.wait(lock, [this] { return !leader_; });
    }
    closeEvents();
    std::deque<RxRecord> discarded;
    std::lock_guard lock(queueLock_);
    queue_.swap(discarded);
}

void LineRecord::closeEvents()
{
    for (RxEvent *event : {&event_, &readerKick_, &leaderKick_})
        event->close();
}

bool LineRecord::take(RxRecord &out)
{
    std::lock_guard lock(queueLock_);
    if (stopped_ || queue_.empty())
        return false;
    out = queue_.front();
    queue_.pop_front();
    return true;
}

bool LineRecord::waitForFrame(std::chrono::milliseconds timeout)
{
    const TimePoint deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock lock(queueLock_);
    while (!stopped_ && queue_.empty()) {
        if (started_ && !leader_) {
            lead(lock, deadline);
        } else {
            ++followers_;
            frameQueued_.wait_until(lock, deadline);
            --followers_;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            break;
    }
    return !stopped_ && !queue_.empty();
}

// Called and left with queueLock_ held; waits on the event without it.
void LineRecord::lead(std::unique_lock<std::mutex> &lock, TimePoint deadline)
{
    leader_ = true;
    const bool kickReader = readerWaiting_;
    lock.unlock();
    if (kickReader)
        readerKick_.signal();
    bool queued = false;
    // A kick means the reader queued frames first, or the line is stopping.
    while (!queued && waitForEvent(&deadline, leaderKick_) == Woken::Event)
        queued = drainInterface();
    lock.lock();
    leader_ = false;
    leaderLeft_ = std::chrono::steady_clock::now();
    if (followers_ > 0)
        frameQueued_.notify_all(); // one of them leads from here
    leaderGone_.notify_all();
}

bool LineRecord::isOpen() const
{
    std::lock_guard lock(queueLock_);
    return started_ && !stopped_;
}

bool LineRecord::readerRunning() const
{
    return readerActive_.load();
}

std::size_t LineRecord::queued() const
{
    std::lock_guard lock(queueLock_);
    return queue_.size();
}

void LineRecord::useClient(uint8_t client)
{
    previousClient_ = client_.exchange(client);
}

void LineRecord::LineReader()
{
    prepareReaderThread();
    while (!stopRequest_) {
        parkWhileCallersWait();
        if (stopRequest_)
            break;
        const Woken woken = waitForEvent(nullptr, readerKick_);
        if (woken == Woken::Event && !stopRequest_ && drainInterface()) {
            std::lock_guard lock(queueLock_);
            readerWaiting_ = false;
            // A caller that began to lead meanwhile waits on the event the
            // reader has just reset.
            if (leader_)
                leaderKick_.signal();
        } else {
            std::lock_guard lock(queueLock_);
            readerWaiting_ = false;
        }
    }
    unregisterEvent();
    readerActive_ = false;
}

void LineRecord::parkWhileCallersWait()
{
    std::unique_lock lock(queueLock_);
    while (!stopRequest_ && (leader_ || std::chrono::steady_clock::now() - leaderLeft_ < kHandBack))
        readerResume_.wait_for(lock, kHandBack);
    readerWaiting_ = !stopRequest_;
}

// Waits for the interface's event or the other event until the deadline
// (none: for ever).
LineRecord::Woken LineRecord::waitForEvent(const TimePoint *deadline, RxEvent &other)
{
    switch (waitForEither(event_, other, deadline)) {
    case Signalled::First:
        return Woken::Event;
    case Signalled::Second:
        return Woken::Kick;
    case Signalled::Neither:
        break;
    }
    return Woken::Failed;
}

// True when at least one frame was queued.
bool LineRecord::drainInterface()
{
    std::lock_guard drain(drainLock_);
    const auto &ops = api();
    bool queued = false;
    for (;;) {
        ApiFrame frame{};
        uint8_t net = setup_.net;
        const ApiResult result = ops.readFrame(client_.load(), &frame, &net, &lastStamp_);
        if ((result & API_ERR_RXMASK) != 0) {
            if (result == API_ERR_BUSOFF)
                ops.resetHardware(setup_.hardware);
            return queued;
        }
        if (const auto record = rxRecordFrom(frame, lastStamp_, setup_.line, setup_.net))
            queued = append(*record) || queued;
        // A flood must not keep a closing line's reader from ending.
        if (result != API_OK || stopRequest_)
            return queued;
    }
}

bool LineRecord::append(const RxRecord &record)
{
    {
        std::lock_guard lock(queueLock_);
        try {
            queue_.push_back(record);
        } catch (const std::bad_alloc &) {
            return false; // out of memory: the frame is lost, the reader lives on
        }
    }
    frameQueued_.notify_all();
    return true;
}

// The event is closed after the reader ends, and a number the interface still
// held could by then name another file or handle; so every client that may
// carry it is told first.
void LineRecord::unregisterEvent()
{
    const auto &ops = api();
    const uint8_t current = client_.load();
    ops.writeClientParam(current, API_CLIENTPARAM_EVENT, 0);
    if (current != setup_.client)
        ops.writeClientParam(setup_.client, API_CLIENTPARAM_EVENT, 0);
}

} // namespace tarvpcan3
