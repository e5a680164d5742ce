// What each pass makes of one received line once no injected fault decided it:
// the status code the module answers and the event text that tells why. Pure
// apart from the image the flash pass writes to.
#pragma once

#include "image.h"

#include <cstdint>
#include <optional>
#include <string>

namespace modsim {

struct RecordVerdict
{
    uint8_t code = 0;
    std::string why;
};

// headerRefusal: the code an S0 header line is refused with; none to accept it.
RecordVerdict flashVerdict(const std::string &line, std::optional<uint8_t> headerRefusal, Image *image);
RecordVerdict compareVerdict(const std::string &line, std::optional<uint8_t> headerRefusal, const Image &image);

} // namespace modsim
