// The retry state of the firmware line in transfer: whether the next send
// repeats it, and how often in a row the module has refused it or let it time
// out. One owner, reset at every pass start and whenever the module changes,
// so that nothing of a pass or of a module given up carries into the next.
#pragma once

#include "runlimits.h"

#include <utility>

class LineRetry
{
public:
    void reset() { *this = LineRetry(); }

    // The next send goes with the current line instead of reading a new one.
    void requestRepeat() { repeat_ = true; }
    // True once per request: the send that repeats the line consumes it.
    bool takeRepeat() { return std::exchange(repeat_, false); }

    // A refusal (checksum or other error) or a timeout of the line. False once
    // the line has been refused too often in a row: the module is given up.
    bool refused(int count = 1)
    {
        refusals_ += count;
        return refusals_ < runlimits::RefusalsInARow;
    }
    void accepted() { refusals_ = 0; }

private:
    bool repeat_ = false;
    int refusals_ = 0;
};
