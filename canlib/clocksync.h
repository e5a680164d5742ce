// Keeps the interface's clock in step with the PC's: every 10 s the drift since
// the clock bases is measured and, beyond 50 ms, fed into the interface's clock
// correction (driver parameter 95).
#pragma once

#include "clockbase.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace tarvpcan3 {

// One correction for a drift in 100-ns units (PC ahead is positive).
void applyClockDrift(int64_t drift);
// One timer tick: measures the drift and applies it. False when the
// measurement could not be trusted and nothing was applied.
bool ClockSyncTimer(PcTime (*pcNow)() = pcTimeNow);

// The library's one timer thread; it runs while any line is open.
class ClockSyncThread
{
public:
    static constexpr std::chrono::milliseconds kPeriod{10000};
    // After a tick that measured nothing: soon, not a whole period later.
    static constexpr std::chrono::milliseconds kRetry{200};

    ~ClockSyncThread();
    void start();
    void stop();
    bool running() const;
    // Threads started so far, for checking that lines share one timer.
    unsigned starts() const;

private:
    void run();

    std::mutex control_; // start and stop never overlap
    mutable std::mutex lock_;
    std::condition_variable wake_;
    bool stopRequest_ = false;
    unsigned starts_ = 0;
    std::thread thread_;
};

ClockSyncThread &clockSync();

} // namespace tarvpcan3
