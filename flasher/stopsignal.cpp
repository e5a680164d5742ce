#include "stopsignal.h"

#include <QtGlobal>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#endif

namespace {

std::atomic<int> signalsSeen{0};
static_assert(std::atomic<int>::is_always_lock_free, "read and written in a signal handler");
// The self-pipe: the handler writes one byte at the first signal.
int wakePipe[2] = {-1, -1};

extern "C" void onStopSignal(int)
{
    if (signalsSeen.fetch_add(1) == 0) {
#ifndef Q_OS_WIN
        const int savedErrno = errno;
        if (wakePipe[1] >= 0)
            (void)!write(wakePipe[1], "s", 1);
        errno = savedErrno;
#endif
        return;
    }
    static const char text[] = "\nError: stopped at once, without the closing sequence\n";
#ifdef Q_OS_WIN
    (void)!_write(2, text, sizeof text - 1);
#else
    (void)!write(STDERR_FILENO, text, sizeof text - 1);
#endif
    std::_Exit(2);
}

#ifndef Q_OS_WIN
void openWakePipe()
{
    if (pipe(wakePipe) != 0) {
        wakePipe[0] = wakePipe[1] = -1;
        return;
    }
    for (int fd : wakePipe)
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    // The handler must never block on it.
    fcntl(wakePipe[1], F_SETFL, fcntl(wakePipe[1], F_GETFL) | O_NONBLOCK);
}
#endif

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
    openWakePipe();
    // Interrupted system calls go on: the run notices the stop at its next
    // wait, which the wake descriptor cuts short.
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    // A reader that went away (a pipe into tee, closed with Ctrl-C) must not
    // end a run mid-line without its closing sequence.
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

bool requested()
{
    return signalsSeen.load() > 0;
}

int wakeDescriptor()
{
    return wakePipe[0];
}

void waitForEnter()
{
#ifdef Q_OS_WIN
    // Ctrl-C ends a console read as the end of input does.
    for (int c = 0; c != '\n' && c != EOF;)
        c = std::fgetc(stdin);
#else
    for (;;) {
        pollfd waits[2] = {{STDIN_FILENO, POLLIN, 0}, {wakePipe[0], POLLIN, 0}};
        if (poll(waits, wakePipe[0] >= 0 ? 2 : 1, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (waits[1].revents != 0 || requested())
            return;
        char c = 0;
        const ssize_t got = read(STDIN_FILENO, &c, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0 || c == '\n')
            return;
    }
#endif
}

} // namespace stopsignal
