// The parameters of hardware, nets and clients as the interface hands them
// to a caller's buffer: numbers in the machine's byte order, texts cut to the
// buffer and always terminated.
#pragma once

#include "canapi.h"

#include <cstdint>
#include <span>
#include <string>

namespace canapi {

ApiResult putU32(void *buf, uint16_t len, uint32_t value);
ApiResult putU8(void *buf, uint16_t len, uint8_t value);
ApiResult putText(void *buf, uint16_t len, const std::string &text);

struct HardwareParams
{
    uint32_t kind = 0;
    std::string name;
    uint32_t nets = 0; // nets registered on the hardware
};

struct ClientParams
{
    std::string name;
    std::span<const bool> connected; // by net handle; element 0 is no net
    uint32_t event = 0;
    uint32_t param27 = 0;
};

ApiResult readHardwareParam(const HardwareParams &hw, uint16_t param, void *buf, uint16_t len);
ApiResult readNetParam(const std::string &name, uint8_t hw, uint16_t param, void *buf, uint16_t len);
ApiResult readClientParam(const ClientParams &client, uint16_t param, void *buf, uint16_t len);

} // namespace canapi
