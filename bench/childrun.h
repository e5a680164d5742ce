// Runs a program to its end with its output in files, watching the CPU time
// of its threads, and reports what the kernel counted for it.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace bench {

struct ChildSpec
{
    std::string program;
    std::vector<std::string> args;
    std::map<std::string, std::string> env; // added to this process's environment
    std::string stdoutPath;
    std::string stderrPath;
    std::chrono::seconds timeout{600};
};

struct ChildOutcome
{
    bool started = false;
    bool timedOut = false; // killed when the timeout passed
    int exitCode = -1;     // -1 unless it exited normally
    int signal = 0;
    double wallS = 0;                         // start to end
    double cpuS = 0;                          // user + system time of every thread it had
    long maxRssKiB = 0;                       // peak resident memory, as of the last sample before the end
    std::map<std::string, double> threadCpuS; // by thread name, last sample of each
    std::string error;
};

ChildOutcome runChild(const ChildSpec &spec);

} // namespace bench
