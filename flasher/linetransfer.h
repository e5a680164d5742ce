// One firmware line on its way to a module: frames of up to six text bytes,
// strictly one after the other. The receive thread reports each frame's
// acknowledgement and sends the next frame at once, so a frame costs no trip
// through the update sequence; the sequence starts the line and waits on the
// run's clock until it is through or a frame is overdue.
#pragma once

#include "runclock.h"

#include <QByteArray>

#include <chrono>
#include <cstdint>
#include <mutex>

class LineTransfer
{
public:
    explicit LineTransfer(RunClock &clock)
        : clock_(clock)
    {}

    // Takes over the line for the module; returns the first frame's text,
    // empty for an empty line.
    QByteArray start(uint16_t module, const QByteArray &firmwareLine);
    // An acknowledgement from the module: the next frame's text, or empty
    // when none is due (the line is through, or the acknowledgement is not
    // for a frame of this transfer). through: set when this one completed
    // the line.
    QByteArray acknowledged(uint16_t module, bool *through = nullptr);
    // True when every frame was acknowledged. False when one was not within
    // frameBound of the previous one; the transfer is then dropped.
    bool waitComplete(std::chrono::milliseconds frameBound);

private:
    QByteArray nextFrame(); // under mutex_: the next frame, counted as sent
    bool through();

    RunClock &clock_;
    std::mutex mutex_;
    bool active_ = false;
    uint16_t module_ = 0;
    QByteArray firmwareLine_;
    qsizetype sent_ = 0;     // bytes handed out to be sent
    qsizetype acked_ = 0;    // bytes acknowledged
    RunClock::Time lastAck_; // or the line's start
};
