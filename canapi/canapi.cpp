// The C entry points of the interface and the hooks of the simulated
// adapters, all on the one state of the process.
#include "caninterface.h"
#include "simhooks.h"

using canapi::CanInterface;

namespace {

CanInterface &api()
{
    return CanInterface::instance();
}

} // namespace

extern "C" {

ApiResult CanApi_LoadDriver(const char *driverName) { return api().loadDriver(driverName); }
ApiResult CanApi_ReadHwParam(uint8_t hw, uint16_t param, void *buf, uint16_t len) { return api().readHwParam(hw, param, buf, len); }
ApiResult CanApi_ReadNetParam(uint8_t net, uint16_t param, void *buf, uint16_t len) { return api().readNetParam(net, param, buf, len); }
ApiResult CanApi_ReadClientParam(uint8_t client, uint16_t param, void *buf, uint16_t len) { return api().readClientParam(client, param, buf, len); }
ApiResult CanApi_ReadDriverParam(uint16_t param, void *buf, uint16_t len) { return api().readDriverParam(param, buf, len); }
ApiResult CanApi_WriteDriverParam(uint16_t param, uint32_t value) { return api().writeDriverParam(param, value); }
ApiResult CanApi_WriteClientParam(uint8_t client, uint16_t param, uint32_t value) { return api().writeClientParam(client, param, value); }
ApiResult CanApi_RegisterNet(uint8_t net, const char *name, uint8_t hw, uint16_t btr0btr1) { return api().registerNet(net, name, hw, btr0btr1); }
ApiResult CanApi_RegisterClient(const char *name, uint32_t notify, uint8_t *client) { return api().registerClient(name, notify, client); }
ApiResult CanApi_ConnectClient(uint8_t client, const char *netName, uint8_t *net) { return api().connectClient(client, netName, net); }
ApiResult CanApi_RegisterMsgRange(uint8_t client, uint8_t net, const ApiRangeBound *first, const ApiRangeBound *last) { return api().registerMsgRange(client, net, first, last); }
ApiResult CanApi_ResetClient(uint8_t client) { return api().resetClient(client); }
ApiResult CanApi_ResetHardware(uint8_t hw) { return api().resetHardware(hw); }
ApiResult CanApi_RemoveClient(uint8_t client) { return api().removeClient(client); }
ApiResult CanApi_DetachClient(uint8_t client, uint8_t net) { return api().detachClient(client, net); }
ApiResult CanApi_RemoveNet(uint8_t net) { return api().removeNet(net); }
ApiResult CanApi_RemoveHardware(uint8_t hw) { return api().removeHardware(hw); }
ApiResult CanApi_ReadClock(ApiTimeStamp *now) { return api().readClock(now); }
ApiResult CanApi_ReadFrame(uint8_t client, ApiFrame *frame, uint8_t *net, ApiTimeStamp *ts) { return api().readFrame(client, frame, net, ts); }
ApiResult CanApi_ReadBusStatus(uint8_t hw) { return api().readBusStatus(hw); }
ApiResult CanApi_SendFrame(uint8_t client, uint8_t net, const ApiFrame *frame, ApiTimeStamp *ts) { return api().sendFrame(client, net, frame, ts); }

} // extern "C"

namespace canapi::sim {

bool configure(const std::string &iniText, std::string *error) { return api().configure(iniText, error); }
void shutdown() { api().shutdown(); }
BusStats busStats(int adapterIndex) { return api().busStats(adapterIndex); }
void resetBusStats(int adapterIndex) { api().resetBusStats(adapterIndex); }
void setBusStatus(int adapterIndex, uint16_t statusWord) { api().setBusStatus(adapterIndex, statusWord); }
void setBusOff(int adapterIndex, bool off) { api().setBusOff(adapterIndex, off); }
void setClockDriftPpm(double ppm) { api().setClockDriftPpm(ppm); }
void dropClient(uint8_t client) { api().dropClient(client); }
void dropNet(uint8_t net) { api().dropNet(net); }
std::unique_ptr<Peer> attachPeer(int adapterIndex, std::function<void(const BusFrame &)> onFrame)
{
    return api().attachPeer(adapterIndex, std::move(onFrame));
}

} // namespace canapi::sim
