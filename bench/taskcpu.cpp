#include "taskcpu.h"

#include <algorithm>
#include <charconv>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace bench {

namespace {

std::optional<uint64_t> numberAt(std::string_view text, size_t pos)
{
    uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data() + pos, text.data() + text.size(), value);
    if (ec != std::errc() || end == text.data() + pos)
        return std::nullopt;
    return value;
}

// Plain read(): a thread may end while its files are read, and the error
// that gives must mean "no text", not an exception out of a stream buffer.
std::string readFile(const std::string &path)
{
    std::string text;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return text;
    char buffer[512];
    ssize_t n = 0;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    close(fd);
    return text;
}

std::optional<uint64_t> taskCpuNs(const std::string &dir)
{
    if (const auto ns = cpuNsFromSchedstat(readFile(dir + "/schedstat")))
        return ns;
    const auto ticks = cpuTicksFromStat(readFile(dir + "/stat"));
    const long hz = sysconf(_SC_CLK_TCK);
    if (!ticks || hz <= 0)
        return std::nullopt;
    return *ticks * (1000000000 / static_cast<uint64_t>(hz));
}

} // namespace

std::optional<uint64_t> cpuNsFromSchedstat(std::string_view text)
{
    return numberAt(text, 0);
}

std::optional<uint64_t> cpuTicksFromStat(std::string_view text)
{
    // pid (name) state ppid ... field 14 utime, field 15 stime.
    const size_t close = text.rfind(')');
    if (close == std::string_view::npos)
        return std::nullopt;
    std::vector<std::string_view> fields;
    size_t pos = close + 1;
    while (pos < text.size() && fields.size() < 13) {
        while (pos < text.size() && text[pos] == ' ')
            ++pos;
        const size_t end = std::min(text.find(' ', pos), text.size());
        if (end > pos)
            fields.push_back(text.substr(pos, end - pos));
        pos = end;
    }
    // Fields after the name start at 3 (state); utime is 14, stime 15.
    if (fields.size() < 13)
        return std::nullopt;
    const auto utime = numberAt(fields[11], 0);
    const auto stime = numberAt(fields[12], 0);
    if (!utime || !stime)
        return std::nullopt;
    return *utime + *stime;
}

std::optional<long> peakRssKiBFromStatus(std::string_view text)
{
    static constexpr std::string_view key = "\nVmHWM:";
    const size_t at = text.find(key);
    if (at == std::string_view::npos)
        return std::nullopt;
    size_t pos = at + key.size();
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t'))
        ++pos;
    long value = 0;
    const auto [end, ec] = std::from_chars(text.data() + pos, text.data() + text.size(), value);
    if (ec != std::errc() || end == text.data() + pos
        || text.substr(static_cast<size_t>(end - text.data()), 3) != " kB")
        return std::nullopt;
    return value;
}

void TaskCpu::sample()
{
    // A process that has ended has no memory left to report.
    if (const auto peak = peakRssKiBFromStatus(readFile("/proc/" + std::to_string(pid_) + "/status")))
        peakRssKiB_ = std::max(peakRssKiB_, *peak);
    const std::string root = "/proc/" + std::to_string(pid_) + "/task";
    DIR *dir = opendir(root.c_str());
    if (!dir)
        return;
    while (const dirent *entry = readdir(dir)) {
        pid_t tid = 0;
        const std::string_view name(entry->d_name);
        if (std::from_chars(name.data(), name.data() + name.size(), tid).ec != std::errc())
            continue;
        const std::string taskDir = root + "/" + entry->d_name;
        const std::optional<uint64_t> ns = taskCpuNs(taskDir);
        if (!ns)
            continue;
        Task &task = tasks_[tid];
        task.cpuNs = std::max(task.cpuNs, *ns);
        std::string comm = readFile(taskDir + "/comm");
        while (!comm.empty() && (comm.back() == '\n' || comm.back() == ' '))
            comm.pop_back();
        if (!comm.empty())
            task.name = tid == pid_ ? "main" : comm;
    }
    closedir(dir);
}

std::map<std::string, double> TaskCpu::byName() const
{
    std::map<std::string, double> seconds;
    for (const auto &[tid, task] : tasks_)
        seconds[task.name.empty() ? "?" : task.name] += static_cast<double>(task.cpuNs) / 1e9;
    return seconds;
}

} // namespace bench
