// The console program's run clock: the steady clock, and waits that sleep on
// the module table's condition, which every decoded frame signals.
#pragma once

#include "runclock.h"

class SteadyRunClock : public RunClock
{
public:
    explicit SteadyRunClock(ModuleTable &modules)
        : modules_(modules)
    {}

    Time now() const override { return std::chrono::steady_clock::now(); }
    bool pauseUntil(Time deadline) override { return modules_.pause(deadline); }
    bool waitFor(ModuleTable::Event event, Time deadline) override { return modules_.waitFor(event, deadline); }
    bool waitUntil(const std::function<bool()> &done, Time deadline) override
    {
        return modules_.waitUntil(done, deadline);
    }
    void sleepUntil(Time deadline) override;
    void cutWaitsShort() override { modules_.cutWaitsShort(); }

private:
    ModuleTable &modules_;
};
