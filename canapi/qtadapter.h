// An adapter backed by a QtSerialBus device (peakcan, socketcan, virtualcan):
// connecting at the run's bit rate, the transmit queue and its bound, the
// status word, closing.
#pragma once

#include "adapter.h"
#include "qtframes.h"
#include "qtiothread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>

class QCanBusDevice;

namespace canapi {

// Refusals of a full queue come in bursts of hundreds or thousands; the first
// of a burst is told, the rest only as a count when the burst ends.
class RefusalBurst
{
public:
    // True for the refusal that begins a burst.
    bool refuse() { return refused_++ == 0; }
    // Ends the burst: the refusals after its first.
    int end()
    {
        const int untold = refused_ > 1 ? refused_ - 1 : 0;
        refused_ = 0;
        return untold;
    }

private:
    int refused_ = 0;
};

class QtTransmitter;

class QtAdapter final : public Adapter
{
public:
    static constexpr std::chrono::seconds kConnectTimeout{5};
    // Frames taken and not yet handed to the device; about a second of a
    // bus at 125 kbit/s. Beyond it transmit() refuses.
    static constexpr int kTransmitQueueFrames = 1024;
    // How long a closing adapter waits for the frames still queued.
    static constexpr std::chrono::seconds kDrainTimeout{1};
    // Makes the device, on the I/O thread; the default asks QCanBus for the
    // configured plugin and interface.
    using DeviceFactory = std::function<QCanBusDevice *(QString *error)>;

    QtAdapter(const AdapterConfig &config, AdapterSink &sink, std::shared_ptr<TraceFile> trace, QtIoThread &io,
              DeviceFactory factory = {});
    ~QtAdapter() override;

    bool open(uint32_t bitRate, std::string *error) override;
    bool transmit(const ApiFrame &frame, uint64_t origin, int64_t atNs) override;
    std::optional<uint16_t> deviceStatus() override;
    void stop() override;

private:
    bool isSocketCan() const;
    QCanBusDevice *createDevice(bool setBitRate, uint32_t bitRate, QString *error);
    // On the I/O thread: a new device on its way to connect; settle gets
    // an empty text once it is connected, else the problem.
    QCanBusDevice *startConnecting(bool setBitRate, uint32_t bitRate,
                                   const std::function<void(const QString &)> &settle);
    // A new device connected at bitRate and in use; else the problem.
    QString openDevice(uint32_t bitRate);
    QString connectDevice(bool setBitRate, uint32_t bitRate, QCanBusDevice **device);
    QString linkProblemAfterConnect(uint32_t bitRate) const;
    // False when the adapter was stopped meanwhile.
    bool install(QCanBusDevice *device, uint32_t bitRate);
    QtTransmitter *attachTransmitter(QCanBusDevice *device);
    void closeDevice();
    void drain(QCanBusDevice *device);
    void countReceiveDrops();
    // One frame less waiting: written or lost.
    void leave();
    void latch(uint16_t word);
    // With mutex_ held: the count of a burst of refusals that has ended.
    void endRefusalBurstLocked();
    uint16_t liveStatusWord();

    QtIoThread &io_;
    DeviceFactory factory_;
    std::mutex mutex_;
    QCanBusDevice *device_ = nullptr;      // deleted on the I/O thread only
    QtTransmitter *transmitter_ = nullptr; // the device's child
    uint32_t bitRate_ = 0;
    bool stopped_ = false;
    RefusalBurst refusals_;
    // Frames transmit() took that are neither written nor lost yet.
    std::atomic<int> waiting_{0};
    std::mutex drainMutex_;
    std::condition_variable drained_;
    // What the bus status shows of frames lost, until the next open().
    std::atomic<uint16_t> latched_{0};
    // I/O thread only: the socket the kernel drops received frames on.
    int receiveSocket_ = -1;
    uint32_t receiveDrops_ = 0;
};

} // namespace canapi
