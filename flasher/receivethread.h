// The console program's reader of CAN frames: takes them from the driver's
// queue for the run's line and announces each, for the manager to decode.
#pragma once

#include <QThread>

#include <atomic>
#include <cstdint>

struct CanDriverFunctions;

class ReceiveThread : public QThread
{
    Q_OBJECT

public:
    // Reads the driver's queue for canLine. The owner connects the signal.
    ReceiveThread(QObject *parent, const CanDriverFunctions *driver, uint16_t canLine);
    // Waits for run() to end: a running QThread must not be destroyed.
    ~ReceiveThread() override;

    void requestStop() { stopRequested_.store(true); }

signals:
    // data: the frame's bytes, valid during the call only.
    void frameRead(quint16 word, int length, const uint8_t *data);

protected:
    void run() override;

private:
    void waitForFrame();

    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> runEnded_{false}; // run()'s last write
    const CanDriverFunctions *driver_;
    uint16_t canLine_;
};
