// The process-wide state behind the CanApi_* functions: the bench's adapters,
// the registry of hardware, nets and clients, the clock and the loaded
// drivers.
#pragma once

#include "adapter.h"
#include "apiclock.h"
#include "benchconfig.h"
#include "eventfdsink.h"
#include "registry.h"

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace canapi {

class QtIoThread;

class CanInterface final : public AdapterSink
{
public:
    static CanInterface &instance();

    ApiResult loadDriver(const char *name);
    ApiResult readHwParam(uint8_t hw, uint16_t param, void *buf, uint16_t len);
    ApiResult readNetParam(uint8_t net, uint16_t param, void *buf, uint16_t len);
    ApiResult readClientParam(uint8_t client, uint16_t param, void *buf, uint16_t len);
    ApiResult readDriverParam(uint16_t param, void *buf, uint16_t len);
    ApiResult writeDriverParam(uint16_t param, uint32_t value);
    ApiResult writeClientParam(uint8_t client, uint16_t param, uint32_t value);
    ApiResult registerNet(uint8_t net, const char *name, uint8_t hw, uint16_t btr0btr1);
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
    ApiResult readClock(ApiTimeStamp *now);
    ApiResult readFrame(uint8_t client, ApiFrame *frame, uint8_t *net, ApiTimeStamp *ts);
    ApiResult readBusStatus(uint8_t hw);
    ApiResult sendFrame(uint8_t client, uint8_t net, const ApiFrame *frame, ApiTimeStamp *ts);

    bool configure(const std::string &iniText, std::string *error);
    void shutdown();
    sim::BusStats busStats(int adapterIndex);
    void resetBusStats(int adapterIndex);
    void setBusStatus(int adapterIndex, uint16_t word);
    void setBusOff(int adapterIndex, bool off);
    void setClockDriftPpm(double ppm);
    void dropClient(uint8_t client);
    void dropNet(uint8_t net);
    std::unique_ptr<sim::Peer> attachPeer(int adapterIndex, std::function<void(const sim::BusFrame &)> onFrame);

    void onBusFrame(const Adapter &adapter, const ApiFrame &frame, uint64_t origin, int64_t monoNs) override;

private:
    struct Slot
    {
        std::shared_ptr<Adapter> adapter;
        uint16_t statusWord = 0;
        bool busOff = false;
        uint64_t frames = 0;            // completed on the bus
        uint64_t busOffAfterFrames = 0; // 0 = never
        bool busOffForGood = false;
    };

    CanInterface();
    static void finalShutdown();

    void ensureBenchLocked();
    void noteDriverLinesLocked(const char *driver);
    // The net is taken back, unless the bench was replaced while the adapter
    // tried to open.
    ApiResult netNotOpened(uint8_t net, const Adapter &adapter, uint64_t generation, const std::string &error);
    std::vector<Slot> takeBenchLocked();
    // One slot per adapter of config; an adapter whose files cannot be
    // written gets a slot that refuses to open, and a line in problems.
    std::vector<Slot> buildBench(const BenchConfig &config, std::vector<std::string> *problems);
    void installBench(std::vector<Slot> slots, double driftPpm);
    QtIoThread &io();
    int slotOfIndexLocked(int adapterIndex) const;
    std::shared_ptr<Adapter> adapterOfIndex(int adapterIndex);

    std::mutex mutex_;
    EventFdSink events_;
    Registry registry_;
    ApiClock clock_;
    std::vector<Slot> slots_;
    std::set<std::string> drivers_;
    bool benchLoaded_ = false;
    QString benchFile_; // the bench file read; empty when there is none, or it was refused
    uint64_t generation_ = 0;

    std::mutex ioMutex_;
    std::unique_ptr<QtIoThread> io_;
};

} // namespace canapi
