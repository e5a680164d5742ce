// The C entry points of the interface and the hooks of the simulated
// adapters, all on the one state of the process.
#include "caninterface.h"
#include "simhooks.h"

#include <cstdio>
#include <exception>
#include <utility>

using canapi::CanInterface;

namespace {

CanInterface &api()
{
    return CanInterface::instance();
}

void reportException(const char *function, const char *what) noexcept
{
    std::fprintf(stderr, "tarvcanapi: %s failed: %s\n", function, what);
}

// No exception may cross into a C caller: it becomes a failed result and a
// line on standard error. Out of memory is the likely one.
template <typename Result, typename Call>
Result guarded(const char *function, Result failure, Call &&call) noexcept
{
    try {
        return call();
    } catch (const std::exception &e) {
        reportException(function, e.what());
    } catch (...) {
        reportException(function, "unknown exception");
    }
    return failure;
}

template <typename Call>
ApiResult guardedApi(const char *function, Call &&call) noexcept
{
    return guarded<ApiResult>(function, API_ERR_RESOURCE, std::forward<Call>(call));
}

template <typename Call>
void guardedHook(const char *function, Call &&call) noexcept
{
    guarded<bool>(function, false, [&] {
        call();
        return true;
    });
}

} // namespace

extern "C" {

ApiResult CanApi_LoadDriver(const char *driverName)
{
    return guardedApi(__func__, [&] { return api().loadDriver(driverName); });
}
ApiResult CanApi_ReadHwParam(uint8_t hw, uint16_t param, void *buf, uint16_t len)
{
    return guardedApi(__func__, [&] { return api().readHwParam(hw, param, buf, len); });
}
ApiResult CanApi_ReadNetParam(uint8_t net, uint16_t param, void *buf, uint16_t len)
{
    return guardedApi(__func__, [&] { return api().readNetParam(net, param, buf, len); });
}
ApiResult CanApi_ReadClientParam(uint8_t client, uint16_t param, void *buf, uint16_t len)
{
    return guardedApi(__func__, [&] { return api().readClientParam(client, param, buf, len); });
}
ApiResult CanApi_ReadDriverParam(uint16_t param, void *buf, uint16_t len)
{
    return guardedApi(__func__, [&] { return api().readDriverParam(param, buf, len); });
}
ApiResult CanApi_WriteDriverParam(uint16_t param, uint32_t value)
{
    return guardedApi(__func__, [&] { return api().writeDriverParam(param, value); });
}
ApiResult CanApi_WriteClientParam(uint8_t client, uint16_t param, uint32_t value)
{
    return guardedApi(__func__, [&] { return api().writeClientParam(client, param, value); });
}
ApiResult CanApi_RegisterNet(uint8_t net, const char *name, uint8_t hw, uint16_t btr0btr1)
{
    return guardedApi(__func__, [&] { return api().registerNet(net, name, hw, btr0btr1); });
}
ApiResult CanApi_RegisterClient(const char *name, uint32_t notify, uint8_t *client)
{
    return guardedApi(__func__, [&] { return api().registerClient(name, notify, client); });
}
ApiResult CanApi_ConnectClient(uint8_t client, const char *netName, uint8_t *net)
{
    return guardedApi(__func__, [&] { return api().connectClient(client, netName, net); });
}
ApiResult CanApi_RegisterMsgRange(uint8_t client, uint8_t net, const ApiRangeBound *first,
                                  const ApiRangeBound *last)
{
    return guardedApi(__func__, [&] { return api().registerMsgRange(client, net, first, last); });
}
ApiResult CanApi_ResetClient(uint8_t client)
{
    return guardedApi(__func__, [&] { return api().resetClient(client); });
}
ApiResult CanApi_ResetHardware(uint8_t hw)
{
    return guardedApi(__func__, [&] { return api().resetHardware(hw); });
}
ApiResult CanApi_RemoveClient(uint8_t client)
{
    return guardedApi(__func__, [&] { return api().removeClient(client); });
}
ApiResult CanApi_DetachClient(uint8_t client, uint8_t net)
{
    return guardedApi(__func__, [&] { return api().detachClient(client, net); });
}
ApiResult CanApi_RemoveNet(uint8_t net)
{
    return guardedApi(__func__, [&] { return api().removeNet(net); });
}
ApiResult CanApi_RemoveHardware(uint8_t hw)
{
    return guardedApi(__func__, [&] { return api().removeHardware(hw); });
}
ApiResult CanApi_ReadClock(ApiTimeStamp *now)
{
    return guardedApi(__func__, [&] { return api().readClock(now); });
}
ApiResult CanApi_ReadFrame(uint8_t client, ApiFrame *frame, uint8_t *net, ApiTimeStamp *ts)
{
    // A failed read must carry a "no frame" bit, or it reads as a frame.
    return guarded<ApiResult>(__func__, API_ERR_RESOURCE | API_ERR_QRCVEMPTY,
                              [&] { return api().readFrame(client, frame, net, ts); });
}
ApiResult CanApi_ReadBusStatus(uint8_t hw)
{
    return guarded<ApiResult>(__func__, API_ERR_ILLHW, [&] { return api().readBusStatus(hw); });
}
ApiResult CanApi_SendFrame(uint8_t client, uint8_t net, const ApiFrame *frame, ApiTimeStamp *ts)
{
    return guardedApi(__func__, [&] { return api().sendFrame(client, net, frame, ts); });
}

} // extern "C"

namespace canapi::sim {

bool configure(const std::string &iniText, std::string *error)
{
    return guarded(__func__, false, [&] { return api().configure(iniText, error); });
}
void shutdown()
{
    guardedHook(__func__, [] { api().shutdown(); });
}
BusStats busStats(int adapterIndex)
{
    return guarded(__func__, BusStats{}, [&] { return api().busStats(adapterIndex); });
}
void resetBusStats(int adapterIndex)
{
    guardedHook(__func__, [&] { api().resetBusStats(adapterIndex); });
}
void setBusStatus(int adapterIndex, uint16_t statusWord)
{
    guardedHook(__func__, [&] { api().setBusStatus(adapterIndex, statusWord); });
}
void setBusOff(int adapterIndex, bool off)
{
    guardedHook(__func__, [&] { api().setBusOff(adapterIndex, off); });
}
void setClockDriftPpm(double ppm)
{
    guardedHook(__func__, [&] { api().setClockDriftPpm(ppm); });
}
void dropClient(uint8_t client)
{
    guardedHook(__func__, [&] { api().dropClient(client); });
}
void dropNet(uint8_t net)
{
    guardedHook(__func__, [&] { api().dropNet(net); });
}
std::unique_ptr<Peer> attachPeer(int adapterIndex, std::function<void(const BusFrame &)> onFrame)
{
    return guarded(__func__, std::unique_ptr<Peer>(),
                   [&] { return api().attachPeer(adapterIndex, std::move(onFrame)); });
}

} // namespace canapi::sim
