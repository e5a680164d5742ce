// A simulated high-voltage module: the modules' side of the flash protocol as a
// pure state machine. No threads, no clocks of its own: the host hands it every
// frame seen on its bus and calls advance() at the deadlines it names.
#pragma once

#include "moduleconfig.h"
#include "image.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace modsim {

struct Frame {
    uint16_t id = 0; // 11-bit identifier as on the wire
    uint8_t len = 0;
    std::array<uint8_t, 8> data{};
};

class Module {
public:
    explicit Module(ModuleConfig config);

    // A frame on the bus (never one of the module's own), at host time nowUs.
    void receive(const Frame &frame, int64_t nowUs);
    // Runs the timers due at nowUs.
    void advance(int64_t nowUs);
    // Next host time at which advance() has work; INT64_MAX when none.
    int64_t nextDeadlineUs() const;
    // Frames to put on the bus, oldest first; the host sends them in this order.
    std::vector<Frame> takeOutgoing();
    // One line per protocol event, for the standalone program's log.
    std::vector<std::string> takeEvents();

    const ModuleConfig &config() const { return cfg_; }
    const Image &image() const { return image_; }
    // Writes the image to config().imagePath (no-op when empty). Called by the
    // module itself at every restart; the host calls it when the bench ends.
    bool saveImage(std::string *error) const;

private:
    ModuleConfig cfg_;
    Image image_;
    // state kept by the implementation
};

} // namespace modsim
