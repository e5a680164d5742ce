// The time an update run lives in. The console program hands its run the
// steady clock, where waits sleep on the module table; a virtual run hands it
// a clock whose waits step the simulated bus and modules instead. Every
// pause, bound and deadline of a run goes through here, so both worlds pace
// the run the same way.
#pragma once

#include "moduletable.h"

#include <chrono>
#include <functional>

class RunClock
{
public:
    using Time = std::chrono::steady_clock::time_point;

    virtual ~RunClock() = default;

    virtual Time now() const = 0;
    template <typename Duration>
    Time in(Duration duration) const
    {
        return now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(duration);
    }

    // Until the deadline; false when a stop cut the pause short.
    virtual bool pauseUntil(Time deadline) = 0;
    // True as soon as the event holds; false when the deadline passes first
    // or a stop cut the wait short.
    virtual bool waitFor(ModuleTable::Event event, Time deadline) = 0;
    // Until done() holds (true) or the deadline passes (false); a stop does
    // not end it. done() is asked again whenever the module table changes.
    virtual bool waitUntil(const std::function<bool()> &done, Time deadline) = 0;
    // Until the deadline, whatever happens: the modules need the whole pause.
    virtual void sleepUntil(Time deadline) = 0;
    // A stop: every cut-aware wait, now and from now on, ends at once.
    virtual void cutWaitsShort() = 0;
};
