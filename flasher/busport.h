// Where the frames of a run go and where its bus status comes from: the
// driver library in the console program, a simulated bus in a virtual run.
// What arrives comes back through the manager's shared decoding.
#pragma once

#include <QByteArray>

class CanMessage;

class BusPort
{
public:
    virtual ~BusPort() = default;
    virtual void send(const CanMessage &message) = 0;
    // The status text of GetCanStatus ("OK", "BUSOFF", ...).
    virtual QByteArray readStatus() = 0;
};
