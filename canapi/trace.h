// Trace of the frames on an adapter's bus in the candump log format, one line
// per frame:
//
//   (1700000000.123456) can0 205#D80311
//
// seconds.microseconds of the wall clock, interface name, identifier in hex
// (3 digits for a standard frame, 8 for an extended one), '#', the data bytes
// in hex; a remote request shows "R" and its length code instead of data.
// A change of the controller's bus state shows as SocketCAN's error frame, as
// candump writes the kernel's: CAN_ERR_FLAG and the error class in 8 digits.
#pragma once

#include "canapi.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace canapi {

constexpr uint32_t CanErrFlag = 0x20000000;
constexpr uint32_t CanErrBusOff = 0x40;
constexpr uint32_t CanErrRestarted = 0x100;

std::string candumpFrame(const ApiFrame &frame);
std::string candumpErrorFrame(uint32_t errorClass);
std::string candumpLine(int64_t realtimeNs, const std::string &interfaceName, const ApiFrame &frame);

int64_t realtimeNs();

// One trace file; several adapters may write into the same file.
class TraceFile
{
public:
    ~TraceFile();
    // Refuses a link, FIFO, device or folder at path (modsim/outputfile.h).
    static std::shared_ptr<TraceFile> create(const std::string &path, std::string *error);
    // The first write that fails is reported on standard error, and the
    // trace ends there.
    void write(int64_t realtimeNs, const std::string &interfaceName, const ApiFrame &frame);
    void writeError(int64_t realtimeNs, const std::string &interfaceName, uint32_t errorClass);

private:
    void writeLine(const std::string &line);
    TraceFile(std::FILE *file, std::string path);
    static void reportLoss(const std::string &reason);

    std::mutex mutex_;
    std::FILE *file_;
    std::string path_;
    bool failed_ = false;
};

// Opens each path once, so that adapters sharing a file share the writer.
class TraceFiles
{
public:
    std::shared_ptr<TraceFile> open(const std::string &path, std::string *error);

private:
    std::map<std::string, std::shared_ptr<TraceFile>> files_;
};

} // namespace canapi
