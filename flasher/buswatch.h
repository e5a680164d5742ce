// The bus status during a run: read at the waits that ask for it, and at
// most once a second in long phases, where no wait gives a chance to look.
#pragma once

#include "runclock.h"

#include <optional>

class ManageCanCommunication;

class BusWatch
{
public:
    explicit BusWatch(ManageCanCommunication &communication);

    // Reads the status now. True when the bus was OK at the previous read and
    // no longer is.
    bool lost();
    // lost(), unless the last read is less than a second ago.
    bool lostDue();

private:
    ManageCanCommunication &communication_;
    RunClock &clock_;
    std::optional<RunClock::Time> lastRead_;
};
