// One run of the real tarvCanFlash and what it did: how it ended, its output,
// the verdict on the frames it put on the bus, and the modules' images as
// tarvModuleSim --verify sees them. Runs synchronously (runFlasher) or as an
// object that reports its end, so that several run at once.
#pragma once

#include "wirejudge.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <optional>

namespace testkit {

QString flasherPath();
QString moduleSimPath();

struct ImageCheck
{
    int address = 0;
    bool equal = false; // the image holds exactly the firmware file's data
    QString message;    // what tarvModuleSim --verify said
};

// tarvModuleSim --verify FIRMWARE IMAGE.
ImageCheck verifyImage(const QString &firmware, const QString &image, int address = 0);

struct RunSpec
{
    QString program = flasherPath();
    QStringList args;
    // The arguments as tarvCanFlash takes them, when args go to a program
    // that starts it; the checks read the firmware file and the line from
    // them. Empty: args.
    QStringList flasherArgs;
    QString folder;                    // working folder
    QString config;                    // TARVCAN_CONFIG; empty: left as it is
    QString tracePath;                 // the trace of the run's line; no wire verdict without one
    QList<QPair<int, QString>> images; // module address and image, verified after the run
    QByteArray input;                  // written to standard input
    bool closeInput = true;            // the end of input stands for the ENTER key
    // No loss or delay injected: a timeout whose answer was on the bus in
    // time is then a fault of the flasher, not of a starved machine.
    bool faultless = false;
    // Its standard output goes elsewhere, through a reader that may go away:
    // what the test sees of it is not judged.
    bool outCut = false;
    int deadlineMs = 200000;
};

struct RunResult
{
    bool started = false;
    bool ended = false;   // by itself, before its deadline
    bool crashed = false; // by a signal
    int exitCode = -1;    // -1 unless it ended by itself without a signal
    double seconds = 0.0;
    QByteArray out;
    QByteArray err;
    QStringList outLines; // without line ends
    QStringList errLines;
    QByteArray trace;
    std::optional<WireVerdict> wire; // filled when the run left a trace of its line
    QList<ImageCheck> images;
    bool faultless = false; // as in its RunSpec

    bool wireOk() const { return !wire || (wire->ok() && !(faultless && wire->answeredTimeouts > 0)); }
    bool imageEqual(int address) const;
    int countOut(const QString &prefix) const; // output lines that open with prefix
    int countErr(const QString &line) const;   // error lines equal to line
    int count(const QString &prefix) const;    // lines of both channels that open with prefix
    QStringList progressLines() const;         // the "Flash " and "Compare " lines in order
    // How it ended, the wire verdict, the images and the output, for a failure message.
    QString describe() const;
};

class FlasherRun : public QObject
{
    Q_OBJECT

public:
    explicit FlasherRun(RunSpec spec, QObject *parent = nullptr);
    ~FlasherRun() override;

    void start();
    // For a test that talks to the program while it runs.
    QProcess &process() { return process_; }
    // Sends it a signal; the first one's time goes to the wire verdict.
    void signal(int number);
    // Until standard output (or error) holds needle; false when the run ended first.
    bool waitForOutput(const QByteArray &needle, QProcess::ProcessChannel channel = QProcess::StandardOutput);
    // Until the run and its checks are done.
    const RunResult &finish();
    bool done() const { return done_; }
    const RunResult &result() const { return result_; }

Q_SIGNALS:
    void finished();
    void progressed();

private:
    void onFinished();
    void conclude();
    void waitFor(const std::function<bool()> &condition);

    RunSpec spec_;
    QProcess process_;
    QTimer deadline_;
    QElapsedTimer clock_;
    QByteArray firmware_; // as it was at the start
    bool killed_ = false;
    bool done_ = false;
    qint64 stopUs_ = -1;
    RunResult result_;
};

RunResult runFlasher(const RunSpec &spec);

// A program's output as lines, without their line ends.
QStringList linesOf(const QByteArray &bytes);

// tarvCanFlash --scan ADAPTER RATE LINE.
bool isScan(const QStringList &args);
// The arguments without a leading --scan: adapter, rate and line come first.
QStringList lineArguments(const QStringList &args);

// The CanIds argument as tarvCanFlash takes it: the fifth of five that is not
// CLOSE_AUTO, or the sixth of six; empty when there is none.
QString canIdsArgument(const QStringList &args);

} // namespace testkit
