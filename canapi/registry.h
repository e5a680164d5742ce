// The bookkeeping of the CAN programming interface: hardware, nets, clients,
// message ranges and the clients' receive queues. No threads and no locks of
// its own; the owner serialises every call.
#pragma once

#include "canapi.h"
#include "receivequeue.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace canapi {

constexpr int kMaxHardware = 16;
constexpr int kMaxNets = 32;
constexpr int kMaxClients = 32;
constexpr size_t kMaxNameLength = 127;
constexpr size_t kMaxRangesPerClient = 64;

// Identities of the nodes that put frames on a bus (clients, simulated
// modules, peers); never handed out twice in a process. 0 = a node outside.
uint64_t newOriginId();

// Where a client's reception event goes (an eventfd on Linux).
class EventSink
{
public:
    virtual ~EventSink() = default;
    virtual bool isEvent(uint32_t handle) const = 0;
    virtual void signal(uint32_t handle) = 0;
};

struct HardwareInfo
{
    uint32_t kind = 0;
    std::string name;
    int slot = -1; // the adapter of the bench behind the handle
    uint16_t statusWord = 0;
    bool busOff = false;
};

class Registry
{
public:
    explicit Registry(EventSink &events);

    // Forgets every registration and every hardware handle.
    void clear();
    // Hardware handles come from the loaded drivers, not from callers.
    void plugHardware(uint8_t hw, const HardwareInfo &info);
    bool isPresent(uint8_t hw) const;
    int slotOf(uint8_t hw) const;         // -1 when not present
    uint8_t handleOfSlot(int slot) const; // 0 when the adapter is not listed
    uint8_t freeHardwareFromTop() const;  // highest free handle, 0 = none

    ApiResult readHwParam(uint8_t hw, uint16_t param, void *buf, uint16_t len) const;
    ApiResult readNetParam(uint8_t net, uint16_t param, void *buf, uint16_t len) const;
    ApiResult readClientParam(uint8_t client, uint16_t param, void *buf, uint16_t len) const;
    ApiResult writeClientParam(uint8_t client, uint16_t param, uint32_t value);

    // bitRate: what the bus-timing word gives, decoded by the caller.
    ApiResult registerNet(uint8_t net, const char *name, uint8_t hw, uint16_t btr0btr1, uint32_t bitRate);
    ApiResult registerClient(const char *name, uint32_t notify, uint8_t *client);
    ApiResult connectClient(uint8_t client, const char *netName, uint8_t *net);
    ApiResult registerMsgRange(uint8_t client, uint8_t net, const ApiRangeBound *first,
                               const ApiRangeBound *last);
    ApiResult resetClient(uint8_t client);
    ApiResult resetHardware(uint8_t hw);
    ApiResult removeClient(uint8_t client);
    ApiResult detachClient(uint8_t client, uint8_t net);
    ApiResult removeNet(uint8_t net);
    ApiResult removeHardware(uint8_t hw);
    ApiResult readFrame(uint8_t client, ApiFrame *frame, uint8_t *net, ApiTimeStamp *ts);

    // Validates a send and names the hardware whose bus carries it and the
    // sending client's identity.
    ApiResult checkSend(uint8_t client, uint8_t net, const ApiFrame *frame, uint8_t *hw, uint64_t *origin) const;
    // A frame that completed its slot on the bus of hardware hw; origin is
    // the sender, which does not get it back.
    void deliver(uint8_t hw, const ApiFrame &frame, uint64_t origin, const ApiTimeStamp &ts);

    uint16_t busStatus(uint8_t hw) const;
    void setStatusWord(uint8_t hw, uint16_t word);
    void setBusOff(uint8_t hw, bool off);
    // Bit rate of the nets registered on hw; 0 when there is none.
    uint32_t bitRateOf(uint8_t hw) const;
    size_t droppedFrames(uint8_t client) const;

private:
    struct Hardware
    {
        bool present = false;
        HardwareInfo info;
    };
    struct Net
    {
        bool used = false;
        std::string name;
        uint8_t hw = 0;
        uint16_t busTiming = 0;
        uint32_t bitRate = 0;
    };
    struct Client
    {
        bool used = false;
        std::string name;
        uint32_t notify = 0;
        uint64_t origin = 0;
        std::array<bool, kMaxNets + 1> connected{};
        std::vector<MessageRange> ranges;
        ReceiveQueue queue;
        uint32_t event = 0;
        uint32_t param27 = 0;
    };

    const Hardware *hardware(uint8_t hw) const;
    const Net *net(uint8_t net) const;
    Client *client(uint8_t client);
    const Client *client(uint8_t client) const;
    bool clientBusOff(const Client &c, uint8_t net) const;
    void detach(Client &c, uint8_t net);

    EventSink &events_;
    std::array<Hardware, kMaxHardware + 1> hardware_{};
    std::array<Net, kMaxNets + 1> nets_{};
    std::array<Client, kMaxClients + 1> clients_{};
};

} // namespace canapi
