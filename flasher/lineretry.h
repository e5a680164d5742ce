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

    // Refusals and timeouts the line may still take; at 0 the module is given up.
    int left() const { return runlimits::RefusalsInARow - refusals_ - timeouts_; }
    // A refusal (checksum or other error) or a timeout of the line. False once
    // the line has been refused or unanswered too often in a row.
    bool refused(int count = 1)
    {
        refusals_ += count;
        return left() > 0;
    }
    bool timedOut()
    {
        ++timeouts_;
        return left() > 0;
    }
    void accepted() { refusals_ = timeouts_ = 0; }

    // Of the line's run in a row, for the reason it was given up.
    int refusals() const { return refusals_; }
    int timeouts() const { return timeouts_; }

private:
    bool repeat_ = false;
    int refusals_ = 0;
    int timeouts_ = 0;
};
