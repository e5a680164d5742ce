// An adapter backed by a QtSerialBus device (peakcan, socketcan, virtualcan).
// Every device lives on one thread of the interface with its own event loop,
// so callers never need one.
#pragma once

#include "adapter.h"

#include <QCoreApplication>
#include <QThread>

#include <chrono>
#include <functional>

class QCanBusDevice;
class QCanBusFrame;

namespace canapi {

class QtIoThread {
public:
    QtIoThread();
    ~QtIoThread();
    QtIoThread(const QtIoThread &) = delete;
    QtIoThread &operator=(const QtIoThread &) = delete;

    // Runs fn on the I/O thread and returns when it has run.
    void runBlocking(const std::function<void()> &fn);

private:
    // Qt delivers no event to any thread while the process has no
    // application object; a host without one gets one of ours. It lives as
    // long as the process: its destructor needs Qt's global objects, which
    // exit handlers may have destroyed by the time this thread ends.
    [[maybe_unused]] QCoreApplication *application_;
    QThread thread_;
    QObject *context_;
};

// QtSerialBus devices report their state coarser than the adapter's status
// word; this is the word each state reads as.
uint16_t statusWordOf(int canBusStatus);

// The frame QtSerialBus gets for frame: the format is set explicitly, since
// setFrameId() alone switches to 29 bits above 0x7FF.
QCanBusFrame toQtFrame(const ApiFrame &frame);
// False for frames the interface does not pass on (errors, CAN FD, own echo).
bool fromQtFrame(const QCanBusFrame &frame, ApiFrame *out);

class QtAdapter final : public Adapter {
public:
    static constexpr std::chrono::seconds kConnectTimeout{5};

    QtAdapter(const AdapterConfig &config, AdapterSink &sink, std::shared_ptr<TraceFile> trace, QtIoThread &io);
    ~QtAdapter() override;

    bool open(uint32_t bitRate, std::string *error) override;
    bool transmit(const ApiFrame &frame, uint64_t origin, int64_t atNs) override;
    std::optional<uint16_t> deviceStatus() override;
    void stop() override;

private:
    QCanBusDevice *createDevice(uint32_t bitRate, QString *error);
    // On the I/O thread: a new device on its way to connect; settle gets
    // an empty text once it is connected, else the problem.
    QCanBusDevice *startConnecting(uint32_t bitRate, const std::function<void(const QString &)> &settle);
    void closeDevice();
    void drain(QCanBusDevice *device);
    bool takesBitRate() const;

    QtIoThread &io_;
    std::mutex mutex_;
    QCanBusDevice *device_ = nullptr; // deleted on the I/O thread only
    uint32_t bitRate_ = 0;
    bool stopped_ = false;
};

} // namespace canapi
