// The transmit queue in front of one QtSerialBus device. Frames go to the
// device in the order they came; a frame the device refuses for want of room
// (the kernel's transmit queue is full) stays first in line and goes again
// once the device reports written frames or after a short pause. A frame the
// device fails for any other reason is lost, and the owner is told.
#pragma once

#include "canapi.h"

#include <QCanBusFrame>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>

class QCanBusDevice;

namespace canapi {

// Whether a device's write error means a full transmit queue (ENOBUFS from
// the queueing discipline, EAGAIN from a full socket send buffer).
bool meansNoRoom(const QString &writeError);

class QtTransmitter final : public QObject
{
public:
    static constexpr std::chrono::milliseconds kRetryPause{1};

    struct Entry
    {
        QCanBusFrame qtFrame;
        ApiFrame frame{};
        uint64_t origin = 0;
    };
    struct Hooks
    {
        std::function<void(const Entry &)> written;
        // entry is null for a frame the device lost after it had taken it.
        std::function<void(const Entry *entry, const QString &reason)> failed;
    };

    // A child of device, on its thread; every call comes from that thread.
    QtTransmitter(QCanBusDevice *device, Hooks hooks);

    void push(Entry entry);
    size_t waiting() const { return queue_.size(); }

private:
    enum class Outcome { Written, NoRoom, Failed };

    void pump();
    Outcome writeFirst();
    void onError(int error);

    QCanBusDevice *device_;
    Hooks hooks_;
    std::deque<Entry> queue_;
    QTimer retry_;
    bool pumping_ = false;
    bool writing_ = false;
    std::optional<QString> writeError_;
};

} // namespace canapi
