// A driver table whose entries record what the flasher sends and hand it
// queued frames, so that the manager and the receive thread run without a bus.
#pragma once

#include "candriverfunctions.h"

#include <QByteArray>
#include <QList>

#include <cstdint>

namespace fakedriver {

struct Sent
{
    uint16_t word;
    QByteArray data;
};

// Forgets everything; status "OK", set-up succeeds.
void reset();
void pushFrame(uint16_t word, const QByteArray &data);
QList<Sent> sent();
void clearSent();
void setStatus(const char *text);
void setInitResult(bool ok);
// Answers every flash data frame to `requestWord` with an acknowledgement from
// `answerWord`, except the frame numbered `dropFrame` (from 1; 0: none).
void autoAcknowledge(uint16_t requestWord, uint16_t answerWord, int dropFrame = 0);
// Flash data frames written while an earlier one was still unacknowledged.
int overlappingFrames();
// Answers the restart command to `commandWord` with a log-on from
// `answerWord` as a module that boots at once, and returns from that
// Write2Can only once the flasher has answered the log-on: the receive thread
// overtakes the sender, as a busy machine may let it.
void logOnAtRestart(uint16_t commandWord, uint16_t answerWord);

struct Calls
{
    int connect = 0;
    int adapterKind = -1;
    int extendedInit = 0;
    int reInit = 0;
    int read = 0;
    int status = 0;
    int version = 0;
    int write = 0;
};
Calls calls();

CanDriverFunctions table(bool withWaitForFrame = true);

} // namespace fakedriver
