// The program's two output channels. Lines come from the main thread and the
// update thread; each is written whole and flushed at once. A channel whose
// reader went away (a closed pipe) is left alone from then on: the run goes
// on without it.
#pragma once

#include <QString>

#include <mutex>

class DebugLine;
class QTextStream;

class Console
{
public:
    Console(QTextStream &out, QTextStream &err);

    // Standard output: banner, file line, progress, "PostFlash ", timing.
    void out(const QString &line);
    void outNoNewline(const QString &text);
    // Standard error: argument errors, refusals, run errors.
    void err(const QString &line);
    // Diagnostic lines share standard error.
    void debug(const DebugLine &line);

private:
    // Under mutex_.
    void write(QTextStream &stream, bool &lost, const QString &text);

    std::mutex mutex_;
    QTextStream &out_;
    QTextStream &err_;
    bool outLost_ = false;
    bool errLost_ = false;
};
