// The one thread on which every QtSerialBus device of the interface lives,
// with its own event loop, so that callers never need one.
#pragma once

#include <QCoreApplication>
#include <QThread>

#include <functional>

namespace canapi {

class QtIoThread
{
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

} // namespace canapi
