#include "trace.h"

#include "bustiming.h"
#include "outputfile.h"

#include <cerrno>
#include <cstring>
#include <ctime>

namespace canapi {

std::string candumpFrame(const ApiFrame &frame)
{
    static const char hex[] = "0123456789ABCDEF";
    char buf[64];
    const bool extended = (frame.type & API_FRAME_EXT) != 0;
    int n = std::snprintf(buf, sizeof buf, extended ? "%08X#" : "%03X#", wireId(frame));
    std::string out(buf, static_cast<size_t>(n));
    if (frame.type & API_FRAME_RTR) {
        out += 'R';
        if (frame.length > 0 && frame.length <= 8)
            out += hex[frame.length];
        return out;
    }
    for (int i = 0; i < frame.length && i < 8; ++i) {
        out += hex[frame.data[i] >> 4];
        out += hex[frame.data[i] & 0x0F];
    }
    return out;
}

std::string candumpErrorFrame(uint32_t errorClass)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%08X#0000000000000000", CanErrFlag | (errorClass & 0x1FFFFFFF));
    return buf;
}

namespace {

std::string stampedLine(int64_t realtimeNs, const std::string &interfaceName, const std::string &body)
{
    const int64_t micros = realtimeNs / 1000;
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, "(%lld.%06lld) ", static_cast<long long>(micros / 1000000),
                  static_cast<long long>(micros % 1000000));
    return stamp + interfaceName + ' ' + body + '\n';
}

} // namespace

std::string candumpLine(int64_t realtimeNs, const std::string &interfaceName, const ApiFrame &frame)
{
    return stampedLine(realtimeNs, interfaceName, candumpFrame(frame));
}

int64_t realtimeNs()
{
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

TraceFile::TraceFile(std::FILE *file, std::string path)
    : file_(file)
    , path_(std::move(path))
{}

TraceFile::~TraceFile()
{
    std::string error;
    if (!modsim::closeOutputFile(file_, path_, &error) && !failed_)
        reportLoss(error);
}

std::shared_ptr<TraceFile> TraceFile::create(const std::string &path, std::string *error)
{
    std::FILE *file = modsim::openOutputFile(path, error);
    if (file == nullptr)
        return nullptr;
    return std::shared_ptr<TraceFile>(new TraceFile(file, path));
}

void TraceFile::write(int64_t realtimeNs, const std::string &interfaceName, const ApiFrame &frame)
{
    writeLine(candumpLine(realtimeNs, interfaceName, frame));
}

void TraceFile::writeError(int64_t realtimeNs, const std::string &interfaceName, uint32_t errorClass)
{
    writeLine(stampedLine(realtimeNs, interfaceName, candumpErrorFrame(errorClass)));
}

void TraceFile::writeLine(const std::string &line)
{
    std::lock_guard lock(mutex_);
    if (failed_)
        return;
    // Flushed at once: a run that ends by a kill still leaves a readable trace.
    if (std::fputs(line.c_str(), file_) < 0 || std::fflush(file_) != 0) {
        failed_ = true;
        reportLoss(path_ + ": cannot be written: " + std::strerror(errno));
    }
}

// Once: the frames go on, but the record of the run is incomplete from here.
void TraceFile::reportLoss(const std::string &reason)
{
    std::fprintf(stderr, "tarvcanapi: trace incomplete: %s\n", reason.c_str());
}

std::shared_ptr<TraceFile> TraceFiles::open(const std::string &path, std::string *error)
{
    auto it = files_.find(path);
    if (it != files_.end())
        return it->second;
    auto file = TraceFile::create(path, error);
    if (file)
        files_.emplace(path, file);
    return file;
}

} // namespace canapi
