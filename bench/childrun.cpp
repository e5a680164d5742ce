#include "childrun.h"

#include "taskcpu.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace bench {

namespace {

// Often enough that a thread which ends loses little, rarely enough to cost
// the measured process nothing.
constexpr auto kSampleEvery = std::chrono::milliseconds(200);

double seconds(const timeval &tv)
{
    return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6;
}

std::vector<std::string> environment(const std::map<std::string, std::string> &added)
{
    std::vector<std::string> env;
    for (char **entry = environ; *entry; ++entry) {
        const std::string text(*entry);
        if (!added.count(text.substr(0, text.find('='))))
            env.push_back(text);
    }
    for (const auto &[key, value] : added)
        env.push_back(key + "=" + value);
    return env;
}

std::vector<char *> pointers(std::vector<std::string> &texts)
{
    std::vector<char *> list;
    for (std::string &text : texts)
        list.push_back(text.data());
    list.push_back(nullptr);
    return list;
}

bool spawn(const ChildSpec &spec, pid_t *pid, std::string *error)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, spec.stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, spec.stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> argv{spec.program};
    argv.insert(argv.end(), spec.args.begin(), spec.args.end());
    std::vector<std::string> envp = environment(spec.env);
    std::vector<char *> argvList = pointers(argv);
    std::vector<char *> envList = pointers(envp);
    const int rc = posix_spawn(pid, spec.program.c_str(), &actions, nullptr, argvList.data(), envList.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        *error = "cannot start " + spec.program + ": " + std::strerror(rc);
    return rc == 0;
}

// Until the child ends or the pause passes, whichever is first.
void waitAWhile(int pidfd)
{
    if (pidfd >= 0) {
        pollfd wait{pidfd, POLLIN, 0};
        poll(&wait, 1, static_cast<int>(kSampleEvery.count()));
    } else {
        std::this_thread::sleep_for(kSampleEvery);
    }
}

// Samples the child's tasks until it ends, killing it past its timeout; its
// wait status, or -1 when it was lost.
int waitForChild(pid_t pid, const ChildSpec &spec, std::chrono::steady_clock::time_point start, TaskCpu &tasks,
                 rusage *usage, ChildOutcome *outcome)
{
    // Without a process descriptor (old kernels) the end is seen one pause late.
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    int status = 0;
    for (;;) {
        tasks.sample();
        const pid_t done = wait4(pid, &status, WNOHANG, usage);
        if (done == pid)
            break;
        if (done < 0 && errno != EINTR) {
            outcome->error = std::string("lost the child: ") + std::strerror(errno);
            status = -1;
            break;
        }
        if (!outcome->timedOut && std::chrono::steady_clock::now() - start > spec.timeout) {
            outcome->timedOut = true;
            kill(pid, SIGKILL);
        }
        waitAWhile(pidfd);
    }
    if (pidfd >= 0)
        close(pidfd);
    return status;
}

} // namespace

ChildOutcome runChild(const ChildSpec &spec)
{
    ChildOutcome outcome;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (!spawn(spec, &pid, &outcome.error))
        return outcome;
    outcome.started = true;
    TaskCpu tasks(pid);
    rusage usage{};
    const int status = waitForChild(pid, spec, start, tasks, &usage, &outcome);
    outcome.wallS = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (status == -1)
        return outcome;
    if (WIFEXITED(status))
        outcome.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        outcome.signal = WTERMSIG(status);
    outcome.cpuS = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    // Not ru_maxrss: a spawned child inherits the high-water mark of the
    // memory it shared with this process until its exec.
    outcome.maxRssKiB = tasks.peakRssKiB();
    outcome.threadCpuS = tasks.byName();
    return outcome;
}

} // namespace bench
