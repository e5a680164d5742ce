// The bytes of the frames a module receives and sends, laid out as the flasher
// decodes them. Pure: no clock, no bus, no state.
//   log-on           D8 status class
//   device info      E0 s1 s2 s3 0m nn ch   (serial as packed decimal digits,
//                                            release m.nn, m and nn packed decimal)
//   release          12 01 00 m nn          (m and nn binary)
//   name             12 03 c0..c5
//   status           15 code
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>

namespace modsim {

struct Frame
{
    uint16_t id = 0; // 11-bit identifier as on the wire
    uint8_t len = 0;
    std::array<uint8_t, 8> data{};
};

// Status codes of the 15 xx answers.
constexpr uint8_t kAccepted = 0x81;
constexpr uint8_t kFlashError = 0x91;
constexpr uint8_t kChecksumError = 0x92;
constexpr uint8_t kReupdateLogOn = 0x99;

// What a frame to the module's own identifier asks of it.
enum class OwnCommand { None, LogOff, LogOn, LogOnFollowUp, Update };
struct OwnFrame
{
    OwnCommand command = OwnCommand::None;
    uint8_t updateCode = 0; // for Update
};
OwnFrame decodeOwnFrame(const Frame &frame);

// What a frame to the module's request identifier asks of it.
enum class Request { None, FlashData, DeviceInfo, Release, Name };
Request decodeRequest(const Frame &frame);

// The firmware text a flash data frame carries, after its two command bytes.
std::span<const uint8_t> flashDataText(const Frame &frame);

bool isLogOnRequest(const Frame &frame);
bool isOpeningSequence(const Frame &frame);
// The closing sequence's byte (C8, CC or C4); none for any other frame.
std::optional<uint8_t> closingSequence(const Frame &frame);
// An answer to a log-on request, in either of the module's states.
bool isLogOnAnswer(const Frame &frame);

Frame frameOf(uint16_t sendId, std::initializer_list<uint8_t> bytes);
Frame logOnFrame(uint16_t sendId, uint8_t deviceClass);
Frame deviceInfoFrame(uint16_t sendId, uint32_t serial, const std::string &release, uint8_t channels);
Frame releaseFrame(uint16_t sendId, const std::string &release);
// At most the first six characters of the name fit.
Frame nameFrame(uint16_t sendId, const std::string &name);
Frame statusFrame(uint16_t sendId, uint8_t code);

} // namespace modsim
