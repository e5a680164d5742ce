// Helpers for tests that drive libtarvcanapi through its C functions, the way
// the driver library does.
#pragma once

#include "canapi.h"
#include "simhooks.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace canapitest {

using namespace std::chrono_literals;

// Bounds for waits: generous, a loaded machine may be slow.
constexpr auto kWait = 5s;

inline ApiFrame frame(uint32_t id, std::initializer_list<uint8_t> data, uint8_t type = 0)
{
    ApiFrame f{};
    f.id = id;
    f.type = type;
    f.length = static_cast<uint8_t>(data.size());
    std::copy(data.begin(), data.end(), f.data);
    return f;
}

inline canapi::sim::BusFrame busFrame(uint32_t id, std::initializer_list<uint8_t> data)
{
    canapi::sim::BusFrame f;
    f.id = id;
    f.len = static_cast<uint8_t>(data.size());
    std::copy(data.begin(), data.end(), f.data);
    return f;
}

inline bool present(uint8_t hw)
{
    uint32_t value = 0;
    return CanApi_ReadHwParam(hw, API_HWPARAM_PRESENT, &value, sizeof value) == API_OK;
}

// The (line + 1)-th present handle counted from 16 down, as the driver
// library finds a line's adapter; 0 when there is none.
inline uint8_t hardwareOfLine(int line)
{
    int seen = 0;
    for (int hw = 16; hw >= 1; --hw) {
        if (present(static_cast<uint8_t>(hw)) && seen++ == line)
            return static_cast<uint8_t>(hw);
    }
    return 0;
}

inline std::string hardwareName(uint8_t hw)
{
    char name[128] = {};
    return CanApi_ReadHwParam(hw, API_HWPARAM_NAME, name, sizeof name) == API_OK ? name : "";
}

inline bool waitReadable(int fd, std::chrono::milliseconds timeout)
{
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, static_cast<int>(timeout.count())) == 1;
}

inline void drainEvent(int fd)
{
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = read(fd, &count, sizeof count);
}

// One line as the driver library opens it: net "tarvnet<line>" on the line's
// adapter, a client with a range 0..0x7FF and an eventfd as its event.
struct Line
{
    uint8_t hw = 0;
    uint8_t net = 0;
    uint8_t client = 0;
    int event = -1;

    Line() = default;
    Line(const Line &) = delete;
    Line &operator=(const Line &) = delete;
    ~Line()
    {
        if (event >= 0)
            close(event);
    }

    // Frames until the queue is empty, waiting for the event in between,
    // until `count` frames came or the wait runs out.
    std::vector<ApiFrame> receive(size_t count, std::chrono::milliseconds timeout = kWait,
                                  std::vector<ApiTimeStamp> *stamps = nullptr)
    {
        std::vector<ApiFrame> got;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (got.size() < count) {
            ApiFrame f{};
            ApiTimeStamp ts{};
            uint8_t n = net;
            const ApiResult r = CanApi_ReadFrame(client, &f, &n, &ts);
            if ((r & API_ERR_RXMASK) == 0) {
                got.push_back(f);
                if (stamps)
                    stamps->push_back(ts);
                continue;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !waitReadable(event, left))
                break;
            drainEvent(event);
        }
        return got;
    }

    ApiResult send(const ApiFrame &f)
    {
        ApiTimeStamp ts{};
        return CanApi_SendFrame(client, net, &f, &ts);
    }
};

inline void openLine(Line &line, int number, uint16_t busTiming = 0xC723, const char *clientName = "tarvCanFLash")
{
    line.hw = hardwareOfLine(number);
    ASSERT_NE(line.hw, 0) << "no adapter for line " << number;
    const std::string netName = "tarvnet" + std::to_string(number);
    uint8_t hw = 0;
    char name[64] = {};
    bool exists = false;
    for (uint8_t n = 1; n <= 32 && !exists; ++n)
        exists = CanApi_ReadNetParam(n, API_NETPARAM_NAME, name, sizeof name) == API_OK && netName == name;
    if (!exists) {
        uint8_t net = 1;
        while (net <= 32 && CanApi_ReadNetParam(net, API_NETPARAM_HW, &hw, 1) != API_ERR_ILLNET)
            ++net;
        ASSERT_LE(net, 32);
        ASSERT_EQ(CanApi_RegisterNet(net, netName.c_str(), line.hw, busTiming), API_OK);
    }
    ASSERT_EQ(CanApi_RegisterClient(clientName, 0, &line.client), API_OK);
    ASSERT_EQ(CanApi_ConnectClient(line.client, netName.c_str(), &line.net), API_OK);
    const ApiRangeBound first{0, 1};
    const ApiRangeBound last{0x7FF, 1};
    ASSERT_EQ(CanApi_RegisterMsgRange(line.client, line.net, &first, &last), API_OK);
    line.event = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    ASSERT_GE(line.event, 0);
    ASSERT_EQ(CanApi_WriteClientParam(line.client, API_CLIENTPARAM_EVENT, static_cast<uint32_t>(line.event)),
              API_OK);
    ASSERT_EQ(CanApi_WriteClientParam(line.client, API_CLIENTPARAM_27, 0), API_OK);
}

// What a peer on the bus saw, with a wait for a count.
class Seen
{
public:
    void add(const canapi::sim::BusFrame &f)
    {
        std::lock_guard lock(mutex_);
        frames_.push_back(f);
        changed_.notify_all();
    }
    std::vector<canapi::sim::BusFrame> waitFor(size_t count, std::chrono::milliseconds timeout = kWait)
    {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, timeout, [&] { return frames_.size() >= count; });
        return frames_;
    }
    auto callback()
    {
        return [this](const canapi::sim::BusFrame &f) { add(f); };
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<canapi::sim::BusFrame> frames_;
};

inline void configure(const std::string &ini)
{
    std::string error;
    ASSERT_TRUE(canapi::sim::configure(ini, &error)) << error;
}

inline std::string simAdapter(const std::string &name, int index, const std::string &driver = "pcan_usb",
                              const std::string &extra = "")
{
    return "[adapter." + name + "]\nindex = " + std::to_string(index) + "\ndriver = " + driver
           + "\nbackend = sim\n" + extra + "\n";
}

} // namespace canapitest
