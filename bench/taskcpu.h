// CPU time of the threads of another process, and its peak resident memory,
// read from /proc while it runs. A thread's time is known up to the last
// sample before it ended.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace bench {

// Nanoseconds on the CPU: the first field of /proc/.../schedstat.
std::optional<uint64_t> cpuNsFromSchedstat(std::string_view text);
// utime + stime in clock ticks from /proc/.../stat; the name field may hold
// spaces and parentheses.
std::optional<uint64_t> cpuTicksFromStat(std::string_view text);
// The high-water mark of resident memory (VmHWM) from /proc/PID/status, in KiB.
std::optional<long> peakRssKiBFromStatus(std::string_view text);

class TaskCpu
{
public:
    explicit TaskCpu(pid_t pid)
        : pid_(pid)
    {}
    // Reads every thread of the process once; threads that ended keep the
    // time of their last sample.
    void sample();
    // CPU seconds by thread name; the process's first thread is "main".
    std::map<std::string, double> byName() const;
    // The process's own peak resident memory as of the last sample; 0 when
    // no sample found it. Unlike the rusage of a child, this never holds the
    // memory of the process that started it.
    long peakRssKiB() const { return peakRssKiB_; }

private:
    struct Task
    {
        std::string name;
        uint64_t cpuNs = 0;
    };
    pid_t pid_;
    std::map<pid_t, Task> tasks_;
    long peakRssKiB_ = 0;
};

} // namespace bench
