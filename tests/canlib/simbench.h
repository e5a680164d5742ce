// A simulated bench for the driver library's tests: adapters of the interface
// stand-in, peers on their buses, and a line opened the way the flasher does.
#pragma once

#include "simhooks.h"
#include "tarvpcan3.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace canlibtest {

using namespace std::chrono_literals;

// Generous: the machine running the tests may be busy.
inline constexpr std::chrono::milliseconds kPatience = 5s;

// INI text of a bench with the given number of simulated adapters.
std::string benchIni(int adapters, const std::string &extraAdapterKeys = {});

// Another node on an adapter's bus that records what it sees.
class PeerLog
{
public:
    explicit PeerLog(int adapterIndex);
    void send(uint32_t id, std::vector<uint8_t> data, bool extended = false, bool remote = false);
    bool waitForCount(std::size_t count, std::chrono::milliseconds timeout = kPatience);
    std::vector<canapi::sim::BusFrame> frames() const;
    std::size_t count() const;

private:
    mutable std::mutex lock_;
    std::condition_variable arrived_;
    std::vector<canapi::sim::BusFrame> frames_;
    std::unique_ptr<canapi::sim::Peer> peer_;
};

struct Received
{
    uint16_t id = 0;
    uint8_t frame[9] = {};
    char text[13] = {};
};

// Waits for the line's next frame and takes it.
bool receive(uint16_t line, Received &out, std::chrono::milliseconds timeout = kPatience);

class SimBench : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Replaces the bench; closes the library's lines first.
    void configure(int adapters, const std::string &extraAdapterKeys = {});
    // ReInitCanSystem then ExtendedInitCan at 250 kbit/s; the result text is kept.
    bool openLine(uint16_t line, uint8_t extended = 0, const std::string &clientName = "tarvCanFLash");
    void closeAll();

    std::string lastText;
};

} // namespace canlibtest
