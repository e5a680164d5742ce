#include "receivethread.h"

#include "candriverfunctions.h"

#include <QElapsedTimer>

#include <array>
#include <type_traits>

namespace {
// Bounds how late a stop request is seen while no frame arrives.
constexpr uint32_t FrameWaitMs = 20;
// Without WaitForFrame an empty queue is polled at this pace instead of spinning.
constexpr unsigned long EmptyPollUs = 200;
} // namespace

ReceiveThread::ReceiveThread(QObject *parent, const CanDriverFunctions *driver, uint16_t canLine)
    : QThread(parent), driver_(driver), canLine_(canLine)
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
        for (const auto &notification : protocol::decodeFrame(word, frame[0], frame.data() + 1))
            announce(notification);
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

void ReceiveThread::announce(const protocol::Notification &notification)
{
    using namespace protocol;
    std::visit(
        [this](const auto &n) {
            using T = std::decay_t<decltype(n)>;
            if constexpr (std::is_same_v<T, LogOn>)
                emit receivedLogOn(n.id, n.status, n.deviceClass);
            else if constexpr (std::is_same_v<T, DeviceInformation>)
                emit receivedDeviceInformation(n.id, n.serialNumber, n.firmwareReleaseStr,
                                               n.channelNumber);
            else if constexpr (std::is_same_v<T, FirmwareRelease>)
                emit receivedFirmwareRelease(n.id, n.firmwareRelease);
            else if constexpr (std::is_same_v<T, FirmwareName>)
                emit receivedFirmwareName(n.id, n.firmwareName);
            else if constexpr (std::is_same_v<T, FlashFrame>)
                emit receivedFlashFrame(n.id);
            else if constexpr (std::is_same_v<T, UpdateStatusReady>)
                emit receivedFirmwareUpdateStatusReady(n.id);
            else if constexpr (std::is_same_v<T, UpdateStatusError>)
                emit receivedFirmwareUpdateStatusError(n.id, n.error);
            else
                emit receivedLogOnReupdate(n.id);
        },
        notification);
}
