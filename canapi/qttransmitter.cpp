#include "qttransmitter.h"

#include <QCanBusDevice>

#include <cerrno>

namespace canapi {

bool meansNoRoom(const QString &writeError)
{
    return writeError == qt_error_string(ENOBUFS) || writeError == qt_error_string(EAGAIN);
}

QtTransmitter::QtTransmitter(QCanBusDevice *device, Hooks hooks)
    : QObject(device)
    , device_(device)
    , hooks_(std::move(hooks))
{
    retry_.setSingleShot(true);
    retry_.setTimerType(Qt::PreciseTimer);
    retry_.setInterval(kRetryPause);
    connect(&retry_, &QTimer::timeout, this, &QtTransmitter::pump);
    connect(device, &QCanBusDevice::framesWritten, this, &QtTransmitter::pump);
    connect(device, &QCanBusDevice::errorOccurred, this,
            [this](QCanBusDevice::CanBusError error) { onError(static_cast<int>(error)); });
}

void QtTransmitter::push(Entry entry)
{
    queue_.push_back(std::move(entry));
    if (queue_.size() == 1)
        pump();
}

void QtTransmitter::pump()
{
    // Some devices report written frames from inside writeFrame().
    if (pumping_)
        return;
    pumping_ = true;
    // A device with a queue of its own gets the next frame once that is
    // empty, so that a frame it refuses is still ours to send again.
    while (!queue_.empty() && device_->framesToWrite() == 0) {
        if (writeFirst() == Outcome::NoRoom) {
            retry_.start();
            break;
        }
    }
    pumping_ = false;
}

QtTransmitter::Outcome QtTransmitter::writeFirst()
{
    writeError_.reset();
    writing_ = true;
    const bool taken = device_->writeFrame(queue_.front().qtFrame);
    writing_ = false;
    if (!taken && writeError_ && meansNoRoom(*writeError_))
        return Outcome::NoRoom;
    const Entry entry = std::move(queue_.front());
    queue_.pop_front();
    if (taken) {
        hooks_.written(entry);
        return Outcome::Written;
    }
    hooks_.failed(&entry, writeError_.value_or(QStringLiteral("the device refused the frame")));
    return Outcome::Failed;
}

void QtTransmitter::onError(int error)
{
    if (error != QCanBusDevice::WriteError)
        return;
    if (writing_)
        writeError_ = device_->errorString();
    else
        hooks_.failed(nullptr, device_->errorString());
}

} // namespace canapi
