// The interface's operations behind the CanApi_* functions, and the frames
// the adapters hand in. This object owns the bench's bus state (slots,
// registry, clock); how the bench is built and ended is in
// interfacebench.cpp, the simulation's hooks in simcontrol.cpp.
#include "caninterface.h"

#include "benchsource.h"
#include "bustiming.h"
#include "drivercatalogue.h"
#include "qtadapter.h"

#include <QString>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace canapi {

CanInterface &CanInterface::instance()
{
    // Never destroyed: finalShutdown ends the threads at exit, and a
    // destructor would run after objects that the I/O thread still uses.
    static CanInterface *const self = [] {
        auto *created = new CanInterface;
        std::atexit(&CanInterface::finalShutdown);
        return created;
    }();
    return *self;
}

CanInterface::CanInterface()
    : registry_(events_)
    , clock_(monotonicNs())
{}

ApiResult CanInterface::loadDriver(const char *name)
{
    if (!knownDriver(name))
        return API_ERR_NODRIVER;
    std::lock_guard lock(mutex_);
    ensureBenchLocked();
    drivers_.insert(name);
    for (size_t s = 0; s < slots_.size(); ++s) {
        const AdapterConfig &a = slots_[s].adapter->config();
        const int slot = static_cast<int>(s);
        if (!driverLists(name, a.driver) || registry_.handleOfSlot(slot) != 0)
            continue;
        const uint8_t hw = registry_.freeHardwareFromTop();
        if (hw == 0)
            break;
        HardwareInfo info;
        info.kind = hardwareKind(a.driver);
        info.name = productName(a);
        info.slot = slot;
        info.statusWord = slots_[s].statusWord;
        info.busOff = slots_[s].busOff;
        registry_.plugHardware(hw, info);
    }
    noteDriverLinesLocked(name);
    return API_OK;
}

// A line beyond the adapters the bench file lists for the driver has none:
// the note points at the last of them.
void CanInterface::noteDriverLinesLocked(const char *driver)
{
    if (benchFile_.isEmpty())
        return;
    const AdapterConfig *last = nullptr;
    int lines = 0;
    for (const Slot &slot : slots_) {
        if (driverLists(driver, slot.adapter->config().driver)) {
            last = &slot.adapter->config();
            ++lines;
        }
    }
    noteBenchPlace(
        last == nullptr
            ? QStringLiteral("%1: it lists no adapter for %2").arg(benchFile_, QString::fromLatin1(driver))
            : QStringLiteral("%1:%2: [adapter.%3], the last adapter it lists for %4, serves line %5")
                  .arg(benchFile_)
                  .arg(last->line)
                  .arg(last->name, QString::fromLatin1(driver))
                  .arg(lines - 1));
}

ApiResult CanInterface::readHwParam(uint8_t hw, uint16_t param, void *buf, uint16_t len)
{
    std::lock_guard lock(mutex_);
    ensureBenchLocked();
    return registry_.readHwParam(hw, param, buf, len);
}

ApiResult CanInterface::readNetParam(uint8_t net, uint16_t param, void *buf, uint16_t len)
{
    std::lock_guard lock(mutex_);
    return registry_.readNetParam(net, param, buf, len);
}

ApiResult CanInterface::readClientParam(uint8_t client, uint16_t param, void *buf, uint16_t len)
{
    std::lock_guard lock(mutex_);
    return registry_.readClientParam(client, param, buf, len);
}

ApiResult CanInterface::readDriverParam(uint16_t param, void *buf, uint16_t len)
{
    if (param != API_DRVPARAM_CLOCKCORR)
        return API_ERR_ILLPARAM;
    if (buf == nullptr || len < sizeof(int32_t))
        return API_ERR_ILLPARAM;
    const int32_t correction = clock_.correctionMs();
    std::memcpy(buf, &correction, sizeof correction);
    return API_OK;
}

ApiResult CanInterface::writeDriverParam(uint16_t param, uint32_t value)
{
    if (param != API_DRVPARAM_CLOCKCORR)
        return API_ERR_ILLPARAM;
    clock_.setCorrectionMs(static_cast<int32_t>(value));
    return API_OK;
}

ApiResult CanInterface::writeClientParam(uint8_t client, uint16_t param, uint32_t value)
{
    std::lock_guard lock(mutex_);
    return registry_.writeClientParam(client, param, value);
}

ApiResult CanInterface::registerNet(uint8_t net, const char *name, uint8_t hw, uint16_t btr0btr1)
{
    const uint32_t bitRate = bitRateFromBusTiming(btr0btr1);
    if (bitRate == 0)
        return API_ERR_ILLPARAM;
    std::shared_ptr<Adapter> adapter;
    uint64_t generation = 0;
    {
        std::lock_guard lock(mutex_);
        ensureBenchLocked();
        const ApiResult r = registry_.registerNet(net, name, hw, btr0btr1, bitRate);
        if (r != API_OK)
            return r;
        adapter = slots_[static_cast<size_t>(registry_.slotOf(hw))].adapter;
        generation = generation_;
    }
    // Outside the lock: a device may take a while to connect, and its
    // frames come in through this object meanwhile.
    std::string error;
    if (!adapter->open(bitRate, &error))
        return netNotOpened(net, *adapter, generation, error);
    if (adapter->config().backend == AdapterConfig::Backend::Qt) {
        // Qt's virtual bus made its server, a global object living on
        // the I/O thread, with the first device. Exit handlers run in
        // reverse order, so this one ends the thread before that object
        // is destroyed.
        static std::once_flag afterFirstDevice;
        std::call_once(afterFirstDevice, [] { std::atexit(&CanInterface::finalShutdown); });
    }
    return API_OK;
}

ApiResult CanInterface::netNotOpened(uint8_t net, const Adapter &adapter, uint64_t generation,
                                     const std::string &error)
{
    // The end of the caller's run: said where its user reads, on a line of
    // the kind that ends a run in the front end.
    std::fprintf(stderr, "Error: %s\n", error.c_str());
    std::lock_guard lock(mutex_);
    if (!benchFile_.isEmpty())
        noteBenchPlace(QStringLiteral("%1:%2: [adapter.%3] cannot be opened")
                           .arg(benchFile_)
                           .arg(adapter.config().line)
                           .arg(adapter.config().name));
    if (generation == generation_)
        registry_.removeNet(net);
    return API_ERR_ILLHW;
}

ApiResult CanInterface::registerClient(const char *name, uint32_t notify, uint8_t *client)
{
    std::lock_guard lock(mutex_);
    return registry_.registerClient(name, notify, client);
}

ApiResult CanInterface::connectClient(uint8_t client, const char *netName, uint8_t *net)
{
    std::lock_guard lock(mutex_);
    return registry_.connectClient(client, netName, net);
}

ApiResult CanInterface::registerMsgRange(uint8_t client, uint8_t net, const ApiRangeBound *first,
                                         const ApiRangeBound *last)
{
    std::lock_guard lock(mutex_);
    return registry_.registerMsgRange(client, net, first, last);
}

ApiResult CanInterface::resetClient(uint8_t client)
{
    std::lock_guard lock(mutex_);
    return registry_.resetClient(client);
}

ApiResult CanInterface::resetHardware(uint8_t hw)
{
    std::lock_guard lock(mutex_);
    const int slot = registry_.slotOf(hw);
    if (slot >= 0) {
        Slot &s = slots_[static_cast<size_t>(slot)];
        // A broken bus: the controller is back off the bus as soon as it is reset.
        if (s.busOff && s.busOffForGood)
            return API_OK;
        if (s.busOff && s.adapter)
            s.adapter->traceBusState(CanErrRestarted, monotonicNs());
        s.busOff = false;
    }
    return registry_.resetHardware(hw);
}

ApiResult CanInterface::removeClient(uint8_t client)
{
    std::lock_guard lock(mutex_);
    return registry_.removeClient(client);
}

ApiResult CanInterface::detachClient(uint8_t client, uint8_t net)
{
    std::lock_guard lock(mutex_);
    return registry_.detachClient(client, net);
}

ApiResult CanInterface::removeNet(uint8_t net)
{
    std::lock_guard lock(mutex_);
    return registry_.removeNet(net);
}

ApiResult CanInterface::removeHardware(uint8_t hw)
{
    std::lock_guard lock(mutex_);
    return registry_.removeHardware(hw);
}

ApiResult CanInterface::readClock(ApiTimeStamp *now)
{
    if (now == nullptr)
        return API_ERR_ILLPARAM;
    *now = clock_.at(monotonicNs());
    return API_OK;
}

ApiResult CanInterface::readFrame(uint8_t client, ApiFrame *frame, uint8_t *net, ApiTimeStamp *ts)
{
    std::lock_guard lock(mutex_);
    return registry_.readFrame(client, frame, net, ts);
}

ApiResult CanInterface::readBusStatus(uint8_t hw)
{
    std::shared_ptr<Adapter> adapter;
    {
        std::lock_guard lock(mutex_);
        ensureBenchLocked();
        const int slot = registry_.slotOf(hw);
        if (slot < 0)
            return API_ERR_ILLHW;
        adapter = slots_[static_cast<size_t>(slot)].adapter;
        // The word kept here (set by a test, or bus off) wins over a device.
        const uint16_t word = registry_.busStatus(hw);
        if (word != 0 || adapter->config().backend == AdapterConfig::Backend::Sim)
            return word;
    }
    // Outside the lock: the device answers on its own thread, which may
    // be waiting for this lock to hand over a frame.
    return adapter->deviceStatus().value_or(0);
}

ApiResult CanInterface::sendFrame(uint8_t client, uint8_t net, const ApiFrame *frame, ApiTimeStamp *ts)
{
    std::shared_ptr<Adapter> adapter;
    uint64_t origin = 0;
    {
        std::lock_guard lock(mutex_);
        uint8_t hw = 0;
        const ApiResult r = registry_.checkSend(client, net, frame, &hw, &origin);
        if (r != API_OK)
            return r;
        adapter = slots_[static_cast<size_t>(registry_.slotOf(hw))].adapter;
    }
    const int64_t now = monotonicNs();
    int64_t at = 0;
    // A time stamp given with the frame is when it is to go out.
    if (ts != nullptr && !isZero(*ts))
        at = clock_.monoAt(fromTimeStamp(*ts));
    if (!adapter->transmit(*frame, origin, at > now ? at : 0))
        return API_ERR_QXMTFULL;
    if (ts != nullptr)
        *ts = clock_.at(std::max(at, now));
    return API_OK;
}

void CanInterface::onBusFrame(const Adapter &adapter, const ApiFrame &frame, uint64_t origin, int64_t monoNs)
{
    const ApiTimeStamp ts = clock_.at(monoNs);
    std::lock_guard lock(mutex_);
    for (size_t s = 0; s < slots_.size(); ++s) {
        Slot &slot = slots_[s];
        if (slot.adapter.get() != &adapter)
            continue;
        const uint8_t hw = registry_.handleOfSlot(static_cast<int>(s));
        if (hw != 0)
            registry_.deliver(hw, frame, origin, ts);
        // Once only: a reset brings the controller back, unless the bus is
        // broken for good.
        if (++slot.frames == slot.busOffAfterFrames) {
            adapter.traceBusState(CanErrBusOff, monoNs);
            slot.busOff = true;
            registry_.setBusOff(hw, true);
        }
        return;
    }
}

} // namespace canapi
