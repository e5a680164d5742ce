#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// A stand-in for the console program: a shell script that records its
// arguments and its process id, then plays a scripted body. The body may
// call "gate N" to wait until the test opens gate N. A SIGTERM is recorded
// and ends the script while it waits at a gate.
class FakeFlasher
{
public:
    explicit FakeFlasher(const QString &dir);

    QString program() const;
    void setBody(const QByteArray &body);
    void openGate(int gate) const;

    QStringList arguments() const;
    int startCount() const;
    QStringList signalsReceived() const;
    qint64 pid() const;

private:
    QByteArray readFile(const QString &name) const;
    QString dir;
};

// True while a process with this id exists and is no zombie.
bool processAlive(qint64 pid);
