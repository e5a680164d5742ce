// tarvModuleSim in a process of its own on one of Qt's CAN buses, for as long
// as the object lives, so that the flasher's process holds nothing of the
// modules. Its output goes to a file: it prints a line per protocol event.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace testkit {

class ModuleSimProcess
{
public:
    ~ModuleSimProcess() { stop(); }

    // Starts it and waits for its ready line; false with the reason.
    bool start(const QString &program, const QStringList &args, const QString &logPath, QString *problem);
    // The end of its input ends it, and it writes the images; true when it
    // ended with exit code 0.
    bool stop();

private:
    QProcess process_;
};

// "tcp://127.0.0.1:PORT/can0" on a port nobody listens on at this moment.
QString freeVirtualCanInterface();

} // namespace testkit
