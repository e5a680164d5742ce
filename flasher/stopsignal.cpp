#include "stopsignal.h"

#include <QtGlobal>

#include <atomic>
#include <csignal>
#include <cstdlib>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

std::atomic<int> signalsSeen{0};
static_assert(std::atomic<int>::is_always_lock_free, "read and written in a signal handler");

extern "C" void onStopSignal(int)
{
    if (signalsSeen.fetch_add(1) == 0)
        return;
    static const char text[] = "\nError: stopped at once, without the closing sequence\n";
#ifdef Q_OS_WIN
    (void)!_write(2, text, sizeof text - 1);
#else
    (void)!write(STDERR_FILENO, text, sizeof text - 1);
#endif
    std::_Exit(2);
}

} // namespace

namespace stopsignal {

void install()
{
#ifdef Q_OS_WIN
    // A console program sees Ctrl-C and Ctrl-Break; SIGTERM is only raised
    // from within the process there.
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGBREAK, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
#else
    // Interrupted system calls go on: the run notices the stop at its next step.
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
#endif
}

bool requested()
{
    return signalsSeen.load() > 0;
}

} // namespace stopsignal
