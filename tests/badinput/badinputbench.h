// A temporary folder with a simulated bench of one module (address 1, name
// K3B7) on adapter 0, a trace of every frame on its bus, and runs of the real
// tarvCanFlash against it.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>

namespace badinput {

using namespace std::chrono_literals;

// Far beyond a normal run of about ten seconds: only a hang reaches it.
constexpr auto RunDeadline = 180s;

struct FlashRun
{
    bool ended = false;     // ended by itself within the deadline
    bool crashed = false;   // ended by a signal
    int exitCode = -1;
    QByteArray out;
    QByteArray err;

    QList<QByteArray> outLines() const;
    QList<QByteArray> errLines() const;
    // Lines of both channels that open with `prefix`.
    int count(const QByteArray &prefix) const;
    // The last "Compare " progress line, empty when there is none.
    QByteArray lastCompareLine() const;
    QString describe() const;
};

class BadInputBench
{
public:
    BadInputBench();
    bool valid() const { return dir_.isValid(); }
    QString path(const QString &name) const { return dir_.filePath(name); }
    bool writeFile(const QString &name, const QByteArray &bytes) const;

    // Runs tarvCanFlash with these arguments; standard input is closed.
    FlashRun run(const QStringList &args, std::chrono::seconds deadline = RunDeadline) const;
    // Runs it through the shell, so that an argument may hold bytes that are
    // not text in the locale's encoding. `script` gets the program as $0
    // and `shellArgs` as $1 onward.
    FlashRun runShell(const QString &script, const QStringList &shellArgs) const;
    // Starts it; the caller waits with waitForOutput and finish.
    void start(QProcess &process, const QStringList &args) const;
    static bool waitForOutput(QProcess &process, QByteArray &out, const QByteArray &needle);
    static FlashRun finish(QProcess &process, QByteArray out,
                           std::chrono::seconds deadline = RunDeadline);

    // Frames the adapter's trace recorded on the bus.
    int tracedFrames() const;
    // Data bytes in the module's flash as it last saved it (0 when never saved).
    qsizetype moduleImageBytes() const;
    // The module's flash holds exactly the data of this firmware file.
    bool moduleHolds(const QString &firmwarePath, QString *why) const;

    static QString flasherPath();

private:
    QTemporaryDir dir_;
};

} // namespace badinput
