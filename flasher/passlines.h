// The lines of a pass to the current module: the next line of the firmware
// file (or the same one again, when the retry rules say so) goes out frame by
// frame, and the module's status codes for it are judged by the line check
// and the retry rules. What the sequence does next comes back as a value; the
// states are the update sequence's.
#pragma once

#include "lineretry.h"
#include "runclock.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>

namespace linecheck {
struct Verdict;
}

class BusWatch;
class Console;
class FirmwareFile;
class ManageCanCommunication;

class PassLines
{
public:
    // Why the module or the run cannot go on.
    // GivenUp: the line was refused or unanswered too often in a row.
    // Stopped: a stop cut the pause before a repeat short.
    enum class Stop { None, VersionError, BusLost, GivenUp, Stopped };
    enum class Pass { Flash, Compare };

    struct Result
    {
        bool go = false;         // the next line, or the same one again, may go out
        bool flashError = false; // the flashing starts again from the first line
        Stop stop = Stop::None;
    };

    enum class Sent { Line, EndOfFile, Stopped };

    PassLines(ManageCanCommunication &communication, FirmwareFile &file, BusWatch &bus, Console &console,
              const QString &peerName);

    // A new module: nothing of the last one's retries carries over.
    void resetRetry() { retry_.reset(); }
    // A pass starts from the file's first line; codes still queued cannot
    // answer it. Its lines are labelled by it until the next pass begins,
    // whatever the answers decide about the pass to come.
    void beginPass(Pass pass);
    // Sends the next line, or the same one again, and writes its progress
    // line. After Stopped, stop() says why.
    Sent send();
    Stop stop() const { return stop_; }
    // After GivenUp: what the module did to the line, for the console.
    QString giveUpReason() const;
    int percent() const; // of the file, after the line sent last
    // Waits for the module's answer to the line sent last, at most until its
    // deadline, and judges it.
    Result check();
    // Judges the codes queued now, without waiting: only a version error counts.
    Stop takeQueuedCodes();

private:
    std::function<bool(uint8_t &)> codes();
    void report(const linecheck::Verdict &verdict);
    bool transmit();
    Result answered(const linecheck::Verdict &verdict, Result result);
    Stop timedOut();
    Sent stopped(Stop stop);

    ManageCanCommunication &communication_;
    RunClock &clock_;
    FirmwareFile &file_;
    BusWatch &bus_;
    Console &console_;
    const QString &peerName_;
    LineRetry retry_;
    QByteArray firmwareLine_; // the line sent last, with CR LF
    RunClock::Time answerDeadline_;
    Stop stop_ = Stop::None;
    Pass pass_ = Pass::Flash;
};
