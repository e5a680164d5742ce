// Drives one simulated module frame by frame with a virtual clock, the way a
// host does, and decodes its frames the way the flasher's receive table does.
#pragma once

#include "module.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace modsim::test {

struct Sent
{
    int64_t atUs;
    Frame frame;
};

inline std::vector<uint8_t> bytesOf(const Frame &f)
{
    return {f.data.begin(), f.data.begin() + f.len};
}

class ModuleBench
{
public:
    explicit ModuleBench(ModuleConfig config)
        : module(std::move(config))
    {}

    void send(uint16_t id, std::vector<uint8_t> bytes)
    {
        Frame f;
        f.id = id;
        f.len = static_cast<uint8_t>(bytes.size());
        std::copy(bytes.begin(), bytes.end(), f.data.begin());
        module.receive(f, now);
        collect();
    }
    void toModule(std::vector<uint8_t> bytes) { send(module.config().id(), std::move(bytes)); }
    void request(std::vector<uint8_t> bytes) { send(module.config().id() | 1, std::move(bytes)); }

    // Lets host time pass, running the module's timers on the way.
    void runFor(int64_t us)
    {
        const int64_t target = now + us;
        while (module.nextDeadlineUs() <= target) {
            now = std::max(now, module.nextDeadlineUs());
            module.advance(now);
            collect();
        }
        now = target;
    }

    // Sends one text line as the flasher does: CR LF appended, six bytes per
    // 15 00 frame. Returns how many of the frames were acknowledged.
    int sendLine(const std::string &text)
    {
        const std::string wire = text + "\r\n";
        int acks = 0;
        for (size_t off = 0; off < wire.size(); off += 6) {
            std::vector<uint8_t> frame{0x15, 0x00};
            for (size_t i = off; i < wire.size() && i < off + 6; ++i)
                frame.push_back(static_cast<uint8_t>(wire[i]));
            const size_t before = out.size();
            request(frame);
            runFor(cfgAnswerDelay());
            for (size_t i = before; i < out.size(); ++i)
                acks += bytesOf(out[i].frame) == std::vector<uint8_t>{0x15, 0x00} ? 1 : 0;
        }
        return acks;
    }

    // The status code that answered the last line, or -1 when none came.
    int lineAnswer(const std::string &text)
    {
        take();
        sendLine(text);
        int code = -1;
        for (const Sent &s : take()) {
            if (s.frame.len == 2 && s.frame.data[0] == 0x15 && s.frame.data[1] != 0x00)
                code = s.frame.data[1];
        }
        return code;
    }

    // Update command 0 until ready, then 0 again, as the flasher's sequence.
    bool enterUpdateMode()
    {
        toModule({0x15, 0x00});
        runFor(int64_t(module.config().readyDelayMs) * 1000 + cfgAnswerDelay() + 1000);
        const auto frames = take();
        const bool ready = frames.size() == 1 && bytesOf(frames[0].frame) == std::vector<uint8_t>{0x15, 0x81};
        toModule({0x15, 0x00});
        return ready;
    }
    void startPass(uint8_t command)
    {
        toModule({0x15, command});
        runFor(int64_t(module.config().eraseDelayMs) * 1000 + 1000);
        take();
    }

    std::vector<Sent> take() { return std::exchange(out, {}); }

    Module module;
    int64_t now = 1'000'000;
    std::vector<Sent> out;

private:
    int64_t cfgAnswerDelay() const { return module.config().answerDelayUs; }
    void collect()
    {
        for (const Frame &f : module.takeOutgoing())
            out.push_back({now, f});
        module.takeEvents();
    }
};

// Flasher-side decoding of the E0 frame: the three serial bytes in hex, read
// back as a decimal number up to the first non-digit.
inline uint32_t decodeSerial(const Frame &f)
{
    char hex[16];
    std::snprintf(hex, sizeof hex, "%x", (f.data[1] << 16) | (f.data[2] << 8) | f.data[3]);
    uint32_t value = 0;
    for (const char *p = hex; *p >= '0' && *p <= '9'; ++p)
        value = value * 10 + static_cast<uint32_t>(*p - '0');
    return value;
}

inline std::string decodeReleaseText(const Frame &f)
{
    return {char('0' + (f.data[4] & 0x0F)), '.', char('0' + (f.data[5] >> 4)), char('0' + (f.data[5] & 0x0F))};
}

inline ModuleConfig quickConfig()
{
    ModuleConfig c;
    c.address = 1;
    c.name = "K3B7";
    c.serial = 123456;
    c.release = "2.15";
    c.channels = 1;
    c.deviceClass = 0x11;
    c.logonDelayMs = 20;
    c.readyDelayMs = 50;
    c.eraseDelayMs = 100;
    c.restartMs = 500;
    return c;
}

} // namespace modsim::test
