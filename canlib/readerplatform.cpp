#include "readerplatform.h"

#include <algorithm>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace tarvpcan3 {

namespace {

using TimePoint = std::chrono::steady_clock::time_point;

std::chrono::nanoseconds timeLeft(const TimePoint &deadline)
{
    return std::max(std::chrono::nanoseconds::zero(), deadline - std::chrono::steady_clock::now());
}

} // namespace

RxEvent::~RxEvent()
{
    close();
}

// A descriptor fits anyway; kernel handles of a 64-bit Windows process hold 32
// significant bits, so the interface's 32-bit parameter carries them whole.
uint32_t RxEvent::interfaceHandle() const
{
    return static_cast<uint32_t>(native_);
}

#ifdef _WIN32

namespace {

HANDLE handleOf(intptr_t native)
{
    return reinterpret_cast<HANDLE>(native);
}

} // namespace

bool RxEvent::create()
{
    close();
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (event == nullptr)
        return false;
    native_ = reinterpret_cast<intptr_t>(event);
    return true;
}

void RxEvent::close()
{
    if (isOpen())
        CloseHandle(handleOf(native_));
    native_ = kNone;
}

void RxEvent::signal()
{
    if (isOpen())
        SetEvent(handleOf(native_));
}

Signalled waitForEither(RxEvent &first, RxEvent &second, const TimePoint *deadline)
{
    DWORD timeout = INFINITE;
    if (deadline) {
        // Rounded up: a wait that ends before the deadline only comes back.
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(timeLeft(*deadline)).count();
        timeout = static_cast<DWORD>(std::min<int64_t>(ms, INFINITE - 1));
    }
    // The lower index wins when both are signalled, and only it is reset.
    const HANDLE events[2] = {handleOf(second.native_), handleOf(first.native_)};
    switch (WaitForMultipleObjects(2, events, FALSE, timeout)) {
    case WAIT_OBJECT_0:
        return Signalled::Second;
    case WAIT_OBJECT_0 + 1:
        return Signalled::First;
    default:
        return Signalled::Neither;
    }
}

void pinLibrary()
{
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&pinLibrary), &self);
}

void prepareReaderThread()
{
    // Failure only means the reader keeps the normal priority.
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_LOWEST);
}

#else

// The interface takes 0 for "no event", so the descriptor must not be 0; it is
// kept clear of the standard streams altogether.
bool RxEvent::create()
{
    close();
    int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd >= 0 && fd < 3) {
        const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
        ::close(fd);
        fd = moved;
    }
    if (fd < 0)
        return false;
    native_ = fd;
    return true;
}

void RxEvent::close()
{
    if (isOpen())
        ::close(static_cast<int>(native_));
    native_ = kNone;
}

void RxEvent::signal()
{
    const uint64_t one = 1;
    if (isOpen())
        (void)write(static_cast<int>(native_), &one, sizeof one);
}

Signalled waitForEither(RxEvent &first, RxEvent &second, const TimePoint *deadline)
{
    const int firstFd = static_cast<int>(first.native_);
    const int secondFd = static_cast<int>(second.native_);
    pollfd fds[2] = {{firstFd, POLLIN, 0}, {secondFd, POLLIN, 0}};
    timespec left{};
    if (deadline) {
        const int64_t n = timeLeft(*deadline).count();
        left = {static_cast<time_t>(n / 1000000000), static_cast<long>(n % 1000000000)};
    }
    if (ppoll(fds, 2, deadline ? &left : nullptr, nullptr) <= 0)
        return Signalled::Neither;
    // Reading the counter resets it; another waiter may have been first.
    uint64_t count = 0;
    if ((fds[1].revents & POLLIN) != 0) {
        (void)read(secondFd, &count, sizeof count);
        return Signalled::Second;
    }
    return read(firstFd, &count, sizeof count) == static_cast<ssize_t>(sizeof count) ? Signalled::First
                                                                                     : Signalled::Neither;
}

// The library is linked with -z nodelete: dlclose never unmaps the code its
// threads run.
void pinLibrary() {}

// Deeper than two steps (nice 19, SCHED_IDLE) a busy machine starves the
// reader for hundreds of milliseconds, and every frame of the line waits.
void prepareReaderThread()
{
    pthread_setname_np(pthread_self(), "tarvpcan3-rx");
    constexpr int kReaderNiceSteps = 2;
    const pid_t self = gettid();
    errno = 0;
    const int current = getpriority(PRIO_PROCESS, static_cast<id_t>(self));
    if (errno != 0)
        return;
    // Failure only means the reader keeps the normal priority.
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(self), current + kReaderNiceSteps);
}

#endif

} // namespace tarvpcan3
