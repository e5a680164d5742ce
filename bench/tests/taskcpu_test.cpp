#include "taskcpu.h"

#include <gtest/gtest.h>

#include <atomic>
#include <pthread.h>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace {

TEST(ProcFields, SchedstatGivesNanoseconds)
{
    EXPECT_EQ(bench::cpuNsFromSchedstat("123456789 4567 89\n"), 123456789u);
    EXPECT_FALSE(bench::cpuNsFromSchedstat(""));
    EXPECT_FALSE(bench::cpuNsFromSchedstat("x 1 2"));
}

TEST(ProcFields, StatGivesUserPlusSystemTicksWhateverTheName)
{
    // The name may hold spaces and parentheses; only the last ')' ends it.
    const char *stat = "4242 (odd) name) S 1 4242 4242 0 -1 4194304 100 0 0 0 "
                       "37 5 0 0 20 0 3 0 5000 1000000 200 18446744073709551615\n";
    EXPECT_EQ(bench::cpuTicksFromStat(stat), 42u);
    EXPECT_FALSE(bench::cpuTicksFromStat("4242 (cut) S 1 2 3"));
    EXPECT_FALSE(bench::cpuTicksFromStat("no parenthesis at all"));
}

TEST(ProcFields, StatusGivesThePeakResidentMemory)
{
    const char *status = "Name:\ttarvCanFlash\nVmPeak:\t  300000 kB\nVmHWM:\t   36508 kB\nVmRSS:\t   10824 kB\n";
    EXPECT_EQ(bench::peakRssKiBFromStatus(status), 36508);
    EXPECT_FALSE(bench::peakRssKiBFromStatus("Name:\tzombie\nState:\tZ (zombie)\n"));
    EXPECT_FALSE(bench::peakRssKiBFromStatus("Name:\tx\nVmHWM:\t   many kB\n"));
    EXPECT_FALSE(bench::peakRssKiBFromStatus("Name:\tx\nVmHWM:\t   12 pages\n"));
}

double threadCpuS()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

TEST(TaskCpu, FindsANamedThreadAndWhatItBurnt)
{
    std::atomic<bool> burnt{false};
    std::atomic<bool> release{false};
    std::thread worker([&] {
        pthread_setname_np(pthread_self(), "benchBurner");
        volatile uint64_t sink = 0;
        while (threadCpuS() < 0.05)
            sink = sink + 1;
        burnt = true;
        while (!release)
            std::this_thread::yield();
    });
    while (!burnt)
        std::this_thread::yield();
    bench::TaskCpu tasks(getpid());
    tasks.sample();
    release = true;
    worker.join();
    // The thread has ended: its last sample still counts.
    tasks.sample();
    const std::map<std::string, double> byName = tasks.byName();
    ASSERT_TRUE(byName.count("benchBurner")) << "threads seen: " << byName.size();
    EXPECT_GE(byName.at("benchBurner"), 0.04);
    EXPECT_TRUE(byName.count("main"));
}

} // namespace
