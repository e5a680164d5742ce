#include "receivethread.h"

#include "candriverfunctions.h"

#include <QElapsedTimer>

#include <array>

namespace {
// Bounds how late a stop request is seen while no frame arrives.
constexpr uint32_t FrameWaitMs = 20;
// Without WaitForFrame an empty queue is polled at this pace instead of spinning.
constexpr unsigned long EmptyPollUs = 200;
} // namespace

ReceiveThread::ReceiveThread(QObject *parent, const CanDriverFunctions *driver, uint16_t canLine)
    : QThread(parent)
    , driver_(driver)
    , canLine_(canLine)
{
    setObjectName(QStringLiteral("tarvReceive"));
}

ReceiveThread::~ReceiveThread()
{
    wait();
    // QThread::wait() synchronises inside Qt, where the thread checker cannot
    // see it; pairing with run()'s last store makes the end of run() visible
    // to it before the object's memory is freed.
    (void)runEnded_.load(std::memory_order_acquire);
}

void ReceiveThread::run()
{
    uint16_t word = 0;
    std::array<uint8_t, 9> frame{};
    std::array<char, 20> timeText{};
    while (!stopRequested_.load()) {
        if (!driver_->ReadfBuff(canLine_, &word, frame.data(), timeText.data())) {
            waitForFrame();
            continue;
        }
        emit frameRead(word, frame[0], frame.data() + 1);
    }
    runEnded_.store(true, std::memory_order_release);
}

void ReceiveThread::waitForFrame()
{
    if (!driver_->WaitForFrame) {
        QThread::usleep(EmptyPollUs);
        return;
    }
    QElapsedTimer waited;
    waited.start();
    // A closed line answers at once; do not turn that into a spin.
    if (!driver_->WaitForFrame(canLine_, FrameWaitMs) && waited.elapsed() < 1)
        QThread::msleep(1);
}
