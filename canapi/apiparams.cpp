#include "apiparams.h"

#include <algorithm>
#include <cstring>

namespace canapi {

ApiResult putU32(void *buf, uint16_t len, uint32_t value)
{
    if (buf == nullptr || len < sizeof value)
        return API_ERR_ILLPARAM;
    std::memcpy(buf, &value, sizeof value);
    return API_OK;
}

ApiResult putU8(void *buf, uint16_t len, uint8_t value)
{
    if (buf == nullptr || len < 1)
        return API_ERR_ILLPARAM;
    *static_cast<uint8_t *>(buf) = value;
    return API_OK;
}

ApiResult putText(void *buf, uint16_t len, const std::string &text)
{
    if (buf == nullptr || len < 1)
        return API_ERR_ILLPARAM;
    const size_t n = std::min<size_t>(text.size(), len - 1u);
    std::memcpy(buf, text.data(), n);
    static_cast<char *>(buf)[n] = '\0';
    return API_OK;
}

ApiResult readHardwareParam(const HardwareParams &hw, uint16_t param, void *buf, uint16_t len)
{
    switch (param) {
    case API_HWPARAM_KIND:
        return putU32(buf, len, hw.kind);
    case API_HWPARAM_NAME:
        return putText(buf, len, hw.name);
    case API_HWPARAM_NETS:
        return putU32(buf, len, hw.nets);
    case API_HWPARAM_PRESENT:
        return putU32(buf, len, 1);
    default:
        return API_ERR_ILLPARAM;
    }
}

ApiResult readNetParam(const std::string &name, uint8_t hw, uint16_t param, void *buf, uint16_t len)
{
    switch (param) {
    case API_NETPARAM_NAME:
        return putText(buf, len, name);
    case API_NETPARAM_HW:
        return putU8(buf, len, hw);
    default:
        return API_ERR_ILLPARAM;
    }
}

namespace {

// One byte per net, as far as the caller's table reaches.
ApiResult putNetTable(void *buf, uint16_t len, std::span<const bool> connected)
{
    if (buf == nullptr || len < 1)
        return API_ERR_ILLPARAM;
    auto *table = static_cast<uint8_t *>(buf);
    std::memset(table, 0, len);
    const int nets = static_cast<int>(connected.size()) - 1;
    for (int n = 1; n <= nets && n <= len; ++n)
        table[n - 1] = connected[static_cast<size_t>(n)] ? 1 : 0;
    return API_OK;
}

} // namespace

ApiResult readClientParam(const ClientParams &client, uint16_t param, void *buf, uint16_t len)
{
    switch (param) {
    case API_CLIENTPARAM_NAME:
        return putText(buf, len, client.name);
    case API_CLIENTPARAM_NETS:
        return putNetTable(buf, len, client.connected);
    case API_CLIENTPARAM_EVENT:
        return putU32(buf, len, client.event);
    case API_CLIENTPARAM_27:
        return putU32(buf, len, client.param27);
    default:
        return API_ERR_ILLPARAM;
    }
}

} // namespace canapi
