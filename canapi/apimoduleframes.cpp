#include "apimoduleframes.h"

#include "bustiming.h"

#include <algorithm>

namespace canapi {

modsim::Frame toModuleFrame(const ApiFrame &frame)
{
    modsim::Frame f;
    f.id = static_cast<uint16_t>(wireId(frame));
    f.len = std::min<uint8_t>(frame.length, 8);
    std::copy(frame.data, frame.data + f.len, f.data.begin());
    return f;
}

ApiFrame fromModuleFrame(const modsim::Frame &frame)
{
    ApiFrame f{};
    f.id = frame.id & 0x7FFu;
    f.length = std::min<uint8_t>(frame.len, 8);
    std::copy(frame.data.begin(), frame.data.begin() + f.length, f.data);
    return f;
}

} // namespace canapi
