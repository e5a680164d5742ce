#include "simbench.h"

#include <cstring>

namespace canlibtest {

std::string benchIni(int adapters, const std::string &extraAdapterKeys)
{
    std::string ini;
    for (int i = 0; i < adapters; ++i) {
        ini += "[adapter.a" + std::to_string(i) + "]\n";
        ini += "index = " + std::to_string(i) + "\n";
        ini += "driver = pcan_usb\nbackend = sim\n";
        ini += extraAdapterKeys;
        ini += "\n";
    }
    return ini;
}

PeerLog::PeerLog(int adapterIndex)
{
    peer_ = canapi::sim::attachPeer(adapterIndex, [this](const canapi::sim::BusFrame &frame) {
        {
            std::lock_guard lock(lock_);
            frames_.push_back(frame);
        }
        arrived_.notify_all();
    });
}

void PeerLog::send(uint32_t id, std::vector<uint8_t> data, bool extended, bool remote)
{
    canapi::sim::BusFrame frame;
    frame.id = id;
    frame.extended = extended;
    frame.remote = remote;
    frame.len = static_cast<uint8_t>(data.size());
    if (!data.empty())
        std::memcpy(frame.data, data.data(), std::min<std::size_t>(data.size(), 8));
    peer_->send(frame);
}

bool PeerLog::waitForCount(std::size_t count, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(lock_);
    return arrived_.wait_for(lock, timeout, [&] { return frames_.size() >= count; });
}

std::vector<canapi::sim::BusFrame> PeerLog::frames() const
{
    std::lock_guard lock(lock_);
    return frames_;
}

std::size_t PeerLog::count() const
{
    std::lock_guard lock(lock_);
    return frames_.size();
}

bool receive(uint16_t line, Received &out, std::chrono::milliseconds timeout)
{
    if (!WaitForFrame(line, static_cast<uint32_t>(timeout.count())))
        return false;
    return ReadfBuff(line, &out.id, out.frame, out.text) != 0;
}

void SimBench::SetUp()
{
    configure(1);
}

void SimBench::TearDown()
{
    closeAll();
}

void SimBench::configure(int adapters, const std::string &extraAdapterKeys)
{
    closeAll();
    std::string error;
    ASSERT_TRUE(canapi::sim::configure(benchIni(adapters, extraAdapterKeys), &error)) << error;
    ASSERT_EQ(ConnectCANHw2Driver(TARVPCAN3_KIND_USB), 1);
}

bool SimBench::openLine(uint16_t line, uint8_t extended, const std::string &clientName)
{
    char text[200] = {};
    std::snprintf(text, sizeof text, "%s", clientName.c_str());
    ReInitCanSystem(line);
    const bool opened = ExtendedInitCan(line, 250, 0, extended, text) != 0;
    lastText = text;
    return opened;
}

void SimBench::closeAll()
{
    for (uint16_t line = 0; line < 4; ++line)
        ReInitCanSystem(line);
}

} // namespace canlibtest
