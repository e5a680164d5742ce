// A stand-in for the adapter maker's CANAPI2.dll, for the Windows tests of
// tarvpcan3 only: the interface's bookkeeping of the Linux stand-in (hardware,
// nets, clients, receive queues, clock) on one USB adapter whose bus carries a
// single module. The module, address 1, answers a log-on sent to it or to all
// (0x7FF) with its own log-on frame from 0x208. Reception events are event
// objects. The functions leave the DLL by ordinal only (canapi2.def), as
// tarvpcan3 binds them.
#include "apiclock.h"
#include "bustiming.h"
#include "canapi.h"
#include "registry.h"

#include <windows.h>

#include <cstring>
#include <mutex>

using namespace canapi;

namespace {

constexpr uint8_t kHardware = 16; // where the driver lists its first adapter
constexpr uint32_t kKindUsb = 11; // above 9: no clean-up pass takes it for stale
constexpr uint32_t kModuleId = 0x208;
constexpr uint32_t kLogOnAll = 0x7FF;
constexpr uint8_t kLogOnStatus = 0x03;
constexpr uint8_t kDeviceClass = 0x11;

// A 64-bit process's handles keep their value when cut to 32 bits and
// sign-extended back.
HANDLE handleOf(uint32_t value)
{
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(static_cast<int32_t>(value)));
}

class EventObjects final : public EventSink
{
public:
    bool isEvent(uint32_t handle) const override
    {
        DWORD flags = 0;
        return handle != 0 && GetHandleInformation(handleOf(handle), &flags) != 0;
    }
    void signal(uint32_t handle) override { SetEvent(handleOf(handle)); }
};

struct Loopback
{
    std::mutex lock;
    EventObjects events;
    Registry registry{events};
    ApiClock clock{monotonicNs()};
    uint64_t moduleOrigin = newOriginId();
};

Loopback &bus()
{
    static Loopback loopback;
    return loopback;
}

ApiTimeStamp clockNow()
{
    return bus().clock.at(monotonicNs());
}

bool asksForLogOn(const ApiFrame &frame)
{
    const uint32_t id = wireId(frame);
    return (frame.type & (API_FRAME_RTR | API_FRAME_EXT)) == 0 && frame.length >= 2 && frame.data[0] == 0xD8
           && frame.data[1] == 0x01 && (id == kLogOnAll || id == kModuleId);
}

ApiFrame logOnAnswer()
{
    ApiFrame answer{};
    answer.id = kModuleId;
    answer.length = 3;
    answer.data[0] = 0xD8;
    answer.data[1] = kLogOnStatus;
    answer.data[2] = kDeviceClass;
    return answer;
}

// Every call but the clock's goes through the registry under the one lock.
template <typename Call>
ApiResult locked(Call call)
{
    std::lock_guard guard(bus().lock);
    return call(bus().registry);
}

} // namespace

extern "C" {

ApiResult CanApi_LoadDriver(const char *driverName)
{
    if (driverName == nullptr)
        return API_ERR_NODRIVER;
    const bool listsUsb = std::strcmp(driverName, "pcan_usb") == 0 || std::strcmp(driverName, "peakcan") == 0;
    if (!listsUsb && std::strcmp(driverName, "pcan_pci") != 0)
        return API_ERR_NODRIVER;
    return locked([&](Registry &r) {
        if (listsUsb && !r.isPresent(kHardware))
            r.plugHardware(kHardware, HardwareInfo{kKindUsb, "PCAN-USB (loopback)", 0, 0, false});
        return API_OK;
    });
}

ApiResult CanApi_ReadHwParam(uint8_t hw, uint16_t param, void *buf, uint16_t len)
{
    return locked([&](Registry &r) { return r.readHwParam(hw, param, buf, len); });
}

ApiResult CanApi_ReadNetParam(uint8_t net, uint16_t param, void *buf, uint16_t len)
{
    return locked([&](Registry &r) { return r.readNetParam(net, param, buf, len); });
}

ApiResult CanApi_ReadClientParam(uint8_t client, uint16_t param, void *buf, uint16_t len)
{
    return locked([&](Registry &r) { return r.readClientParam(client, param, buf, len); });
}

ApiResult CanApi_ReadDriverParam(uint16_t param, void *buf, uint16_t len)
{
    if (param != API_DRVPARAM_CLOCKCORR || buf == nullptr || len < sizeof(int32_t))
        return API_ERR_ILLPARAM;
    const int32_t correction = bus().clock.correctionMs();
    std::memcpy(buf, &correction, sizeof correction);
    return API_OK;
}

ApiResult CanApi_WriteDriverParam(uint16_t param, uint32_t value)
{
    if (param != API_DRVPARAM_CLOCKCORR)
        return API_ERR_ILLPARAM;
    bus().clock.setCorrectionMs(static_cast<int32_t>(value));
    return API_OK;
}

ApiResult CanApi_WriteClientParam(uint8_t client, uint16_t param, uint32_t value)
{
    return locked([&](Registry &r) { return r.writeClientParam(client, param, value); });
}

ApiResult CanApi_RegisterNet(uint8_t net, const char *name, uint8_t hw, uint16_t btr0btr1)
{
    const uint32_t bitRate = bitRateFromBusTiming(btr0btr1);
    return locked([&](Registry &r) { return r.registerNet(net, name, hw, btr0btr1, bitRate); });
}

ApiResult CanApi_RegisterClient(const char *name, uint32_t notify, uint8_t *client)
{
    return locked([&](Registry &r) { return r.registerClient(name, notify, client); });
}

ApiResult CanApi_ConnectClient(uint8_t client, const char *netName, uint8_t *net)
{
    return locked([&](Registry &r) { return r.connectClient(client, netName, net); });
}

ApiResult CanApi_RegisterMsgRange(uint8_t client, uint8_t net, const ApiRangeBound *first,
                                  const ApiRangeBound *last)
{
    return locked([&](Registry &r) { return r.registerMsgRange(client, net, first, last); });
}

ApiResult CanApi_ResetClient(uint8_t client)
{
    return locked([&](Registry &r) { return r.resetClient(client); });
}

ApiResult CanApi_ResetHardware(uint8_t hw)
{
    return locked([&](Registry &r) { return r.resetHardware(hw); });
}

ApiResult CanApi_RemoveClient(uint8_t client)
{
    return locked([&](Registry &r) { return r.removeClient(client); });
}

ApiResult CanApi_DetachClient(uint8_t client, uint8_t net)
{
    return locked([&](Registry &r) { return r.detachClient(client, net); });
}

ApiResult CanApi_RemoveNet(uint8_t net)
{
    return locked([&](Registry &r) { return r.removeNet(net); });
}

ApiResult CanApi_RemoveHardware(uint8_t hw)
{
    return locked([&](Registry &r) { return r.removeHardware(hw); });
}

ApiResult CanApi_ReadClock(ApiTimeStamp *now)
{
    if (now == nullptr)
        return API_ERR_ILLPARAM;
    *now = clockNow();
    return API_OK;
}

ApiResult CanApi_ReadFrame(uint8_t client, ApiFrame *frame, uint8_t *net, ApiTimeStamp *ts)
{
    return locked([&](Registry &r) { return r.readFrame(client, frame, net, ts); });
}

ApiResult CanApi_ReadBusStatus(uint8_t hw)
{
    return locked([&](Registry &r) { return ApiResult{r.busStatus(hw)}; });
}

// The bus is idle but for the module: a frame is on it at once, and the
// module's answer right after.
ApiResult CanApi_SendFrame(uint8_t client, uint8_t net, const ApiFrame *frame, ApiTimeStamp *ts)
{
    return locked([&](Registry &r) {
        uint8_t hw = 0;
        uint64_t origin = 0;
        const ApiResult checked = r.checkSend(client, net, frame, &hw, &origin);
        if (checked != API_OK)
            return checked;
        const ApiTimeStamp sent = clockNow();
        r.deliver(hw, *frame, origin, sent);
        if (asksForLogOn(*frame))
            r.deliver(hw, logOnAnswer(), bus().moduleOrigin, clockNow());
        if (ts != nullptr)
            *ts = sent;
        return API_OK;
    });
}

} // extern "C"
