#include "linerecord.h"

#include "apibinding.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <system_error>
#include <unistd.h>

namespace tarvpcan3 {

namespace {

// Two steps below the process's own level, like the lowest normal thread
// priority elsewhere. Deeper (nice 19, SCHED_IDLE) a busy machine starves the
// reader for hundreds of milliseconds, and every frame of the line waits.
constexpr int kReaderNiceSteps = 2;

void lowerThreadPriority()
{
    const pid_t self = gettid();
    errno = 0;
    const int current = getpriority(PRIO_PROCESS, static_cast<id_t>(self));
    if (errno != 0)
        return;
    // Failure only means the reader keeps the normal priority.
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(self), current + kReaderNiceSteps);
}

// The interface takes 0 for "no event", so the descriptor must not be 0; it is
// kept clear of the standard streams altogether.
int makeEvent()
{
    int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd >= 0 && fd < 3) {
        const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
        close(fd);
        fd = moved;
    }
    return fd;
}

} // namespace

LineRecord::LineRecord(LineSetup setup)
    : setup_(std::move(setup)), client_(setup_.client)
{
}

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
    event_ = makeEvent();
    if (event_ < 0)
        return false;
    const auto &ops = api();
    ops.writeClientParam(setup_.client, API_CLIENTPARAM_EVENT, static_cast<uint32_t>(event_));
    ops.writeClientParam(setup_.client, API_CLIENTPARAM_27, 0);
    try {
        readerActive_ = true;
        reader_ = std::thread(&LineRecord::LineReader, this);
    } catch (const std::system_error &) {
        readerActive_ = false;
        unregisterEvent();
        close(event_);
        event_ = -1;
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
    }
    frameQueued_.notify_all();
    if (reader_.joinable()) {
        stopRequest_ = true;
        signalEvent();
        reader_.join();
    }
    if (event_ >= 0) {
        close(event_);
        event_ = -1;
    }
    std::deque<RxRecord> discarded;
    std::lock_guard lock(queueLock_);
    queue_.swap(discarded);
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
    std::unique_lock lock(queueLock_);
    frameQueued_.wait_for(lock, timeout, [this] { return stopped_ || !queue_.empty(); });
    return !stopped_ && !queue_.empty();
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
    // A name of its own, so that tools that list threads (top -H, perf)
    // tell the reader apart from the caller's threads.
    pthread_setname_np(pthread_self(), "tarvpcan3-rx");
    lowerThreadPriority();
    while (!stopRequest_) {
        if (!waitForEvent() || stopRequest_)
            continue;
        drainInterface();
    }
    unregisterEvent();
    readerActive_ = false;
}

bool LineRecord::waitForEvent()
{
    pollfd wait{event_, POLLIN, 0};
    if (poll(&wait, 1, -1) < 0)
        return false;
    uint64_t count = 0;
    // Reading resets the counter: the event is auto-reset.
    return read(event_, &count, sizeof count) == static_cast<ssize_t>(sizeof count);
}

void LineRecord::drainInterface()
{
    const auto &ops = api();
    for (;;) {
        ApiFrame frame{};
        uint8_t net = setup_.net;
        const ApiResult result = ops.readFrame(client_.load(), &frame, &net, &lastStamp_);
        if ((result & API_ERR_RXMASK) != 0) {
            if (result == API_ERR_BUSOFF)
                ops.resetHardware(setup_.hardware);
            return;
        }
        if (const auto record = rxRecordFrom(frame, lastStamp_, setup_.line, setup_.net))
            append(*record);
        // A flood must not keep a closing line's reader from ending.
        if (result != API_OK || stopRequest_)
            return;
    }
}

void LineRecord::append(const RxRecord &record)
{
    {
        std::lock_guard lock(queueLock_);
        try {
            queue_.push_back(record);
        } catch (const std::bad_alloc &) {
            return; // out of memory: the frame is lost, the reader lives on
        }
    }
    frameQueued_.notify_all();
}

void LineRecord::signalEvent()
{
    const uint64_t one = 1;
    (void)write(event_, &one, sizeof one);
}

// The descriptor is closed after the reader ends, and a number the interface
// still held could by then name another file; so every client that may carry
// it is told first.
void LineRecord::unregisterEvent()
{
    const auto &ops = api();
    const uint8_t current = client_.load();
    ops.writeClientParam(current, API_CLIENTPARAM_EVENT, 0);
    if (current != setup_.client)
        ops.writeClientParam(setup_.client, API_CLIENTPARAM_EVENT, 0);
}

} // namespace tarvpcan3
