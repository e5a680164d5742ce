// The simulation's hooks into the interface, for tests and the benchmark:
// bus status and bus off, clock drift, registrations dropped behind the
// caller's back, bus statistics and peers on an adapter's bus.
#include "caninterface.h"

namespace canapi {

int CanInterface::slotOfIndexLocked(int adapterIndex) const
{
    for (size_t s = 0; s < slots_.size(); ++s) {
        if (slots_[s].adapter->config().index == adapterIndex)
            return static_cast<int>(s);
    }
    return -1;
}

std::shared_ptr<Adapter> CanInterface::adapterOfIndex(int adapterIndex)
{
    std::lock_guard lock(mutex_);
    ensureBenchLocked();
    const int slot = slotOfIndexLocked(adapterIndex);
    return slot < 0 ? nullptr : slots_[static_cast<size_t>(slot)].adapter;
}

sim::BusStats CanInterface::busStats(int adapterIndex)
{
    const auto adapter = adapterOfIndex(adapterIndex);
    return adapter ? adapter->stats() : sim::BusStats{};
}

void CanInterface::resetBusStats(int adapterIndex)
{
    if (const auto adapter = adapterOfIndex(adapterIndex))
        adapter->resetStats();
}

void CanInterface::setBusStatus(int adapterIndex, uint16_t word)
{
    std::lock_guard lock(mutex_);
    ensureBenchLocked();
    const int slot = slotOfIndexLocked(adapterIndex);
    if (slot < 0)
        return;
    slots_[static_cast<size_t>(slot)].statusWord = word;
    registry_.setStatusWord(registry_.handleOfSlot(slot), word);
}

void CanInterface::setBusOff(int adapterIndex, bool off)
{
    std::lock_guard lock(mutex_);
    ensureBenchLocked();
    const int slot = slotOfIndexLocked(adapterIndex);
    if (slot < 0)
        return;
    slots_[static_cast<size_t>(slot)].busOff = off;
    registry_.setBusOff(registry_.handleOfSlot(slot), off);
}

void CanInterface::setClockDriftPpm(double ppm)
{
    clock_.setDriftPpm(ppm, monotonicNs());
}

void CanInterface::dropClient(uint8_t client)
{
    std::lock_guard lock(mutex_);
    registry_.removeClient(client);
}

void CanInterface::dropNet(uint8_t net)
{
    std::lock_guard lock(mutex_);
    registry_.removeNet(net);
}

std::unique_ptr<sim::Peer> CanInterface::attachPeer(int adapterIndex,
                                                    std::function<void(const sim::BusFrame &)> onFrame)
{
    const auto adapter = adapterOfIndex(adapterIndex);
    return adapter ? adapter->attachPeer(std::move(onFrame)) : nullptr;
}

} // namespace canapi
