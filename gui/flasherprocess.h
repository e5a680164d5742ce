#pragma once

#include "outputparser.h"

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>

// The console program as the window's child for one run or scan: started
// with its arguments and merged output, read as whole lines, asked to stop
// with its closing sequence within a bounded time, and never left running
// when the window goes.
class FlasherProcess : public QProcess
{
    Q_OBJECT

public:
    // A line normally arrives whole; a tail without line feed that stays
    // alone quietLineMs is a line of its own (the final line has none). A
    // stopped child gets stopTimeoutMs for its closing sequence.
    FlasherProcess(const QString &program, int quietLineMs, int stopTimeoutMs, QObject *parent = nullptr);
    ~FlasherProcess() override;

    const QString &flasherProgram() const { return programPath; }
    // Windows takes the native argument string, other systems the list.
    void startFlasher(const QStringList &arguments, const QString &nativeArguments);

    // Whole lines read so far, each with its line feed.
    QList<QByteArray> readLines();
    bool hasPendingLine() const { return splitter.hasPending(); }
    QByteArray takePendingLine() { return splitter.takePending(); }
    // While watched, a pending tail that stays alone is announced by quiet().
    void watchPendingLine(bool watch);

    // Asks for the closing sequence; the child is killed when it takes longer.
    // Where no such request exists it is killed at once.
    void askToStop();
    // Before the window goes: a child still running gets what is left of its
    // stop time (or a whole one, asked now), and is killed after it.
    void endBeforeLeaving();

signals:
    void quiet();

private:
    bool requestStop();

    QString programPath;
    int stopTimeoutMs;
    bool stopAsked = false;
    LineSplitter splitter;
    QTimer quietTimer;
    QTimer stopTimer;
};
