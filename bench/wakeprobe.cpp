#include "wakeprobe.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace bench {

namespace {

// Long enough for the waiting CPU to enter its idle state.
constexpr auto kPause = std::chrono::milliseconds(1);
// A wake-up that has not come by then is not a sample worth keeping.
constexpr auto kGiveUp = std::chrono::seconds(1);

using Clock = std::chrono::steady_clock;

bool pinTo(int cpu)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return pthread_setaffinity_np(pthread_self(), sizeof set, &set) == 0;
}

std::optional<std::pair<int, int>> twoAllowedCpus()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0)
        return std::nullopt;
    std::vector<int> cpus;
    for (int cpu = 0; cpu < CPU_SETSIZE && cpus.size() < 2; ++cpu) {
        if (CPU_ISSET(cpu, &set))
            cpus.push_back(cpu);
    }
    if (cpus.size() < 2)
        return std::nullopt;
    return std::make_pair(cpus[0], cpus[1]);
}

class Probe
{
public:
    explicit Probe(int samples)
        : samples_(samples)
    {}

    std::optional<std::vector<double>> run(int waiterCpu, int wakerCpu)
    {
        event_ = eventfd(0, EFD_CLOEXEC);
        if (event_ < 0)
            return std::nullopt;
        std::thread waiter([this, waiterCpu] { waitLoop(waiterCpu); });
        const bool ok = pinTo(wakerCpu) && wakeLoop();
        stop_ = true;
        signal();
        waiter.join();
        close(event_);
        if (!ok || static_cast<int>(latenciesUs_.size()) < samples_)
            return std::nullopt;
        return latenciesUs_;
    }

private:
    void signal()
    {
        const uint64_t one = 1;
        (void)write(event_, &one, sizeof one);
    }

    // The next write waits for the waiter's acknowledgement, so that two
    // writes never merge into one wake-up.
    bool wakeLoop()
    {
        for (int i = 0; i < samples_; ++i) {
            std::this_thread::sleep_for(kPause);
            const Clock::time_point giveUp = Clock::now() + kGiveUp;
            while (taken_.load() < i) {
                if (Clock::now() > giveUp)
                    return false;
                std::this_thread::yield();
            }
            sentNs_ = Clock::now().time_since_epoch().count();
            signal();
        }
        const Clock::time_point giveUp = Clock::now() + kGiveUp;
        while (taken_.load() < samples_ && Clock::now() < giveUp)
            std::this_thread::yield();
        return taken_.load() == samples_;
    }

    void waitLoop(int cpu)
    {
        if (!pinTo(cpu))
            return;
        latenciesUs_.reserve(static_cast<size_t>(samples_));
        while (!stop_.load()) {
            uint64_t count = 0;
            if (read(event_, &count, sizeof count) != static_cast<ssize_t>(sizeof count) || stop_.load())
                return;
            const int64_t woke = Clock::now().time_since_epoch().count();
            latenciesUs_.push_back(static_cast<double>(woke - sentNs_.load()) / 1000.0);
            taken_.fetch_add(1);
        }
    }

    const int samples_;
    int event_ = -1;
    std::atomic<int64_t> sentNs_{0};
    std::atomic<int> taken_{0};
    std::atomic<bool> stop_{false};
    std::vector<double> latenciesUs_; // the waiter's until it has joined
};

} // namespace

std::optional<WakeLatency> summariseWakeLatency(std::vector<double> samplesUs)
{
    if (samplesUs.empty())
        return std::nullopt;
    std::sort(samplesUs.begin(), samplesUs.end());
    const size_t n = samplesUs.size();
    return WakeLatency{samplesUs[n / 2], samplesUs[std::min(n - 1, n * 9 / 10)]};
}

std::optional<WakeLatency> measureWakeLatency(int samples)
{
    const auto cpus = twoAllowedCpus();
    if (!cpus || samples <= 0)
        return std::nullopt;
    std::optional<std::vector<double>> latencies;
    // Pinning the caller would outlive the probe; a thread of its own keeps
    // the caller's affinity as it was.
    std::thread([&] { latencies = Probe(samples).run(cpus->first, cpus->second); }).join();
    return latencies ? summariseWakeLatency(std::move(*latencies)) : std::nullopt;
}

} // namespace bench
