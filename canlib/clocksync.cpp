#include "clocksync.h"

#include "apibinding.h"
#include "clockbase.h"
#include "clockmath.h"

#include <system_error>

#ifdef __linux__
#include <pthread.h>
#endif

namespace tarvpcan3 {

void applyClockDrift(int64_t drift)
{
    const auto correction = clockCorrectionMs(drift);
    if (!correction)
        return;
    const auto &ops = api();
    int32_t current = 0;
    // Without the current value a write would throw away earlier corrections.
    if (ops.readDriverParam(API_DRVPARAM_CLOCKCORR, &current, sizeof current) != API_OK)
        return;
    const auto sum = static_cast<uint32_t>(static_cast<int64_t>(current) + *correction);
    ops.writeDriverParam(API_DRVPARAM_CLOCKCORR, sum);
}

bool ClockSyncTimer(PcTime (*pcNow)())
{
    std::lock_guard correction(clockCorrectionLock());
    // A wide pair would feed the preemption's length into the interface's
    // clock as drift; the next tick measures again.
    const std::optional<ClockPair> pair = readClockPair(pcNow);
    if (!pair || pair->spread > kClockPairSpread)
        return false;
    const ClockBase base = clockBase();
    applyClockDrift(clockDrift(pair->pc.fileTime, base.fileTime, pair->stamp, base.stamp));
    return true;
}

ClockSyncThread::~ClockSyncThread()
{
    stop();
}

void ClockSyncThread::start()
{
    std::lock_guard control(control_);
    std::lock_guard lock(lock_);
    if (thread_.joinable())
        return;
    stopRequest_ = false;
    try {
        thread_ = std::thread(&ClockSyncThread::run, this);
        ++starts_;
    } catch (const std::system_error &) {
        // Lines work without the correction; the next opening tries again.
    }
}

void ClockSyncThread::stop()
{
    std::lock_guard control(control_);
    std::thread ending;
    {
        std::lock_guard lock(lock_);
        stopRequest_ = true;
        ending = std::move(thread_);
    }
    wake_.notify_all();
    if (ending.joinable())
        ending.join();
}

bool ClockSyncThread::running() const
{
    std::lock_guard lock(lock_);
    return thread_.joinable();
}

unsigned ClockSyncThread::starts() const
{
    std::lock_guard lock(lock_);
    return starts_;
}

void ClockSyncThread::run()
{
#ifdef __linux__
    pthread_setname_np(pthread_self(), "tarvpcan3-clock");
#endif
    std::unique_lock lock(lock_);
    auto wait = kPeriod;
    while (!wake_.wait_for(lock, wait, [this] { return stopRequest_; })) {
        lock.unlock();
        wait = ClockSyncTimer() ? kPeriod : kRetry;
        lock.lock();
    }
}

ClockSyncThread &clockSync()
{
    // Never destroyed, like the line table: at the process's end the system
    // has ended the thread already.
    static ClockSyncThread *const timer = new ClockSyncThread;
    return *timer;
}

} // namespace tarvpcan3
