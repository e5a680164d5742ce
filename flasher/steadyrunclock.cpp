#include "steadyrunclock.h"

#include <thread>

// A sleep that a signal or a spurious wake-up ends early goes on to its
// deadline.
void SteadyRunClock::sleepUntil(Time deadline)
{
    for (Time now = this->now(); now < deadline; now = this->now())
        std::this_thread::sleep_for(deadline - now);
}
