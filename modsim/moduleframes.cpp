#include "moduleframes.h"

#include <algorithm>
#include <utility>

namespace modsim {

namespace {

constexpr uint8_t kLogOnStatus = 0x03;

uint8_t packedDecimal(unsigned twoDigits)
{
    return static_cast<uint8_t>(((twoDigits / 10) % 10) << 4 | (twoDigits % 10));
}

// "d.dd" as major and minor; digits that are not there count as 0, so a
// release that skipped validation cannot throw.
std::pair<unsigned, unsigned> releaseParts(const std::string &release)
{
    auto digit = [&](size_t i) {
        return i < release.size() && release[i] >= '0' && release[i] <= '9' ? unsigned(release[i] - '0') : 0u;
    };
    return {digit(0), digit(2) * 10 + digit(3)};
}

} // namespace

OwnFrame decodeOwnFrame(const Frame &frame)
{
    if (frame.len < 2)
        return {};
    const uint8_t b0 = frame.data[0];
    const uint8_t b1 = frame.data[1];
    if (b0 == 0xD8 && b1 == 0x00)
        return {OwnCommand::LogOff};
    if (b0 == 0xD8 && b1 == 0x01)
        return {OwnCommand::LogOn};
    if (b0 == 0x12 && b1 == 0xA0)
        return {OwnCommand::LogOnFollowUp};
    if (b0 == 0x15)
        return {OwnCommand::Update, b1};
    return {};
}

Request decodeRequest(const Frame &frame)
{
    if (frame.len < 2)
        return Request::None;
    const uint8_t b0 = frame.data[0];
    const uint8_t b1 = frame.data[1];
    if (b0 == 0x15 && b1 == 0x00)
        return Request::FlashData;
    if (b0 != 0x12)
        return Request::None;
    switch (b1) {
    case 0x00:
        return Request::DeviceInfo;
    case 0x01:
        return Request::Release;
    case 0x03:
        return Request::Name;
    default:
        return Request::None;
    }
}

std::span<const uint8_t> flashDataText(const Frame &frame)
{
    const size_t end = std::min<size_t>(frame.len, frame.data.size());
    if (end <= 2)
        return {};
    return std::span<const uint8_t>(frame.data.data() + 2, end - 2);
}

bool isLogOnRequest(const Frame &frame)
{
    return frame.len >= 2 && frame.data[0] == 0xD8 && frame.data[1] == 0x01;
}

bool isOpeningSequence(const Frame &frame)
{
    return frame.len == 3 && frame.data[0] == 0xF4 && frame.data[1] == 0x15 && frame.data[2] == 0xE6;
}

std::optional<uint8_t> closingSequence(const Frame &frame)
{
    if (frame.len == 1 && (frame.data[0] == 0xC8 || frame.data[0] == 0xCC || frame.data[0] == 0xC4))
        return frame.data[0];
    return std::nullopt;
}

bool isLogOnAnswer(const Frame &frame)
{
    return frame.len >= 2
           && (frame.data[0] == 0xD8 || (frame.data[0] == 0x15 && frame.data[1] == kReupdateLogOn));
}

Frame frameOf(uint16_t sendId, std::initializer_list<uint8_t> bytes)
{
    Frame f;
    f.id = sendId;
    f.len = static_cast<uint8_t>(std::min<size_t>(bytes.size(), 8));
    std::copy_n(bytes.begin(), f.len, f.data.begin());
    return f;
}

Frame logOnFrame(uint16_t sendId, uint8_t deviceClass)
{
    return frameOf(sendId, {0xD8, kLogOnStatus, deviceClass});
}

Frame deviceInfoFrame(uint16_t sendId, uint32_t serial, const std::string &release, uint8_t channels)
{
    const auto [major, minor] = releaseParts(release);
    return frameOf(sendId, {0xE0, packedDecimal(serial / 10000), packedDecimal(serial / 100),
                            packedDecimal(serial), static_cast<uint8_t>(major), packedDecimal(minor), channels});
}

Frame releaseFrame(uint16_t sendId, const std::string &release)
{
    const auto [major, minor] = releaseParts(release);
    return frameOf(sendId, {0x12, 0x01, 0x00, static_cast<uint8_t>(major), static_cast<uint8_t>(minor)});
}

Frame nameFrame(uint16_t sendId, const std::string &name)
{
    Frame f = frameOf(sendId, {0x12, 0x03});
    for (size_t i = 0; i < name.size() && i < 6; ++i)
        f.data[2 + i] = static_cast<uint8_t>(name[i]);
    f.len = static_cast<uint8_t>(2 + std::min<size_t>(name.size(), 6));
    return f;
}

Frame statusFrame(uint16_t sendId, uint8_t code)
{
    return frameOf(sendId, {0x15, code});
}

} // namespace modsim
