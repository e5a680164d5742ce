// The only reader of CAN frames: takes them from the driver's queue for the
// run's line, decodes them and announces each as one or two signals.
#pragma once

#include "protocol.h"

#include <QThread>

#include <atomic>
#include <cstdint>

struct CanDriverFunctions;

class ReceiveThread : public QThread
{
    Q_OBJECT

public:
    // Reads the driver's queue for canLine. The owner connects the signals.
    ReceiveThread(QObject *parent, const CanDriverFunctions *driver, uint16_t canLine);
    // Waits for run() to end: a running QThread must not be destroyed.
    ~ReceiveThread() override;

    void requestStop() { stopRequested_.store(true); }

signals:
    void receivedLogOn(quint16 id, unsigned char stat, unsigned char deviceClass);
    void receivedDeviceInformation(quint16 id, ulong serialNumber, QString firmwareReleaseStr,
                                   unsigned char channelNumber);
    void receivedFirmwareRelease(quint16 id, int firmwareRelease);
    void receivedFirmwareName(quint16 id, QString firmwareName);
    void receivedFlashFrame(quint16 id);
    void receivedFirmwareUpdateStatusReady(quint16 id);
    void receivedFirmwareUpdateStatusError(quint16 id, quint8 error);
    void receivedLogOnReupdate(quint16);

protected:
    void run() override;

private:
    void announce(const protocol::Notification &notification);
    void waitForFrame();

    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> runEnded_{false}; // run()'s last write
    const CanDriverFunctions *driver_;
    uint16_t canLine_;
};
