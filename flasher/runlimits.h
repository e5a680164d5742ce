// Every wait and retry of an update run has a bound. The numbers derive from
// the fixed pauses that pace the modules; the README lists them. They are
// durations on the run's clock.
#pragma once

#include <chrono>

namespace runlimits {

using namespace std::chrono_literals;

constexpr auto StartupSettle = 500ms;  // after the first log-off sweep, before the bus status
constexpr auto FirstLogOn = 10s;       // until the first module logs on
constexpr int LogOnWindowPasses = 300; // then 300 passes of 10 ms without a new module
constexpr auto LogOnWindowPass = 10ms;
constexpr auto LogOnRequestEvery = 1s;   // the log-on request goes again until the window closes
constexpr auto LongestLogOnWindow = 30s; // from the first log-on, however many modules answer
constexpr auto QueryPause = 500ms;       // after the opening sequence and the identity requests
constexpr int NameRequests = 4;          // more, QueryPause apart, while a module has no name
constexpr auto ReadyPoll = 500ms;
constexpr int ReadyPolls = 20;     // 10 s until the module reports ready
constexpr auto PhasePause = 500ms; // after update commands 3 and 5
constexpr auto AfterFlashedLine = 1ms;
constexpr auto FrameAck = 251ms;   // acknowledgement of one flash data frame
constexpr auto LineAnswer = 251ms; // status code after a line's last frame
constexpr auto TimeoutPause = 2s;  // after a frame or line timeout
constexpr int RefusalsInARow = 10; // of one line: checksum/other errors and timeouts
constexpr int FlashRestarts = 5;   // flash errors of one module
constexpr auto PostFlashPoll = 100ms;
constexpr int PostFlashPolls = 200; // 20 s for the log-on after the restart
constexpr auto BusStatusEvery = 1s; // bus status read while waiting

template <typename Duration>
unsigned long millis(Duration duration)
{
    return static_cast<unsigned long>(std::chrono::duration_cast<std::chrono::milliseconds>(duration).count());
}

} // namespace runlimits
