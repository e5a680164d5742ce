// What a line's reader needs from the operating system, in one place: the
// auto-reset events it waits on (an eventfd on Linux, an event object on
// Windows) and the priority of its thread.
#pragma once

#include <chrono>
#include <cstdint>

namespace tarvpcan3 {

class RxEvent;
enum class Signalled { First, Second, Neither };

// Waits until either event is signalled or the deadline (none: for ever)
// passes, and resets the event that ended the wait. When both are signalled,
// the second wins and the first stays signalled.
Signalled waitForEither(RxEvent &first, RxEvent &second, const std::chrono::steady_clock::time_point *deadline);

class RxEvent
{
public:
    RxEvent() = default;
    ~RxEvent();
    RxEvent(const RxEvent &) = delete;
    RxEvent &operator=(const RxEvent &) = delete;

    // Not signalled when made; false when the system has no event to give.
    bool create();
    void close();
    bool isOpen() const { return native_ != kNone; }
    // What the interface is given to signal (client parameter 26); never 0.
    uint32_t interfaceHandle() const;
    void signal();

private:
    friend Signalled waitForEither(RxEvent &, RxEvent &, const std::chrono::steady_clock::time_point *);

    static constexpr intptr_t kNone = -1;
    intptr_t native_ = kNone; // the descriptor, or the event's handle
};

// Called before the library starts a thread of its own: from then on the
// library stays loaded until the process ends, so that unloading it with a
// line open neither pulls the code from under the line's threads nor waits
// for them (on Windows a thread cannot end while FreeLibrary holds the
// loader's lock).
void pinLibrary();

// Called by the reader on its own thread: lowers its priority two steps below
// the process's own level (the lowest normal thread priority) and, where the
// system keeps thread names for tools such as top -H, names it.
void prepareReaderThread();

} // namespace tarvpcan3
