// One update run as a state machine: waits for the modules to log on, then
// takes them one at a time in ascending id order through identity check,
// flashing, comparing and restart. It owns no thread and no console: it
// writes through the console, sends through the manager and waits on the
// clock it is handed, so the console program runs it on the steady clock
// and a virtual run on simulated time. PassLines sends the lines of a pass
// and judges the answers; the bus watch and the module table are units of
// their own.
#pragma once

#include "passlines.h"
#include "protocol.h"
#include "runclock.h"

#include <QCoreApplication>
#include <QList>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class BusWatch;
class Console;
class FirmwareFile;
class ManageCanCommunication;
class ModuleTable;
struct ModuleRecord;

class UpdateSequence
{
    Q_DECLARE_TR_FUNCTIONS(UpdateSequence)

public:
    enum class UpdateState {
        WaitLogOn,
        Announce,
        QueryModule,
        CheckFirmwareName,
        CheckSelection,
        WaitReady,
        StartFlash,
        Flashing,
        StartCompare,
        Comparing,
        PostFlash,
        NextModule,
        Finish,
        WaitEnter
    };

    struct Settings
    {
        QString fileName;       // as given; the file is opened and checked already
        QList<uint16_t> canIds; // empty: every module
        uint16_t canLine = 0;
        bool scan = false;      // query and name every module, update none
        bool closeAuto = false; // close without waiting for ENTER
    };
    // What the run tells the outside besides its console lines.
    struct Hooks
    {
        std::function<void(const QString &peerName, const QString &info)> information;
        std::function<void(int percent)> progress;
        // Returns once ENTER was pressed or a stop came.
        std::function<void()> waitForEnter;
    };

    // The line is open; the first log-on request has just gone out.
    UpdateSequence(Console &console, ManageCanCommunication &communication, FirmwareFile &file, Settings settings,
                   Hooks hooks);
    ~UpdateSequence();

    // The whole run, until the line is closed.
    void run();
    // After run(): every selected module whose name fits the file was
    // updated, and at least one was (a scan: a module answered).
    bool succeeded() const { return succeeded_; }

    // Any thread.
    void setCloseAuto(bool closeAuto) { closeAuto_.store(closeAuto); }
    void stopAfterModule() { stopAfterModule_.store(true); }
    // Ends the run at its next wait, and the module in work with it; at the
    // ENTER prompt the run ends as after ENTER.
    void stopNow();

private:
    ModuleTable &modules() const;
    uint16_t currentModule() const;
    void step();
    PassLines::Sent sendLine();
    bool lineAnswered();
    // Ends the module or the run for the reason given, with its message.
    void stopFor(PassLines::Stop stop);
    bool busLost();
    // busLost() at most once a second: the bus is watched during long phases
    // too, where no wait gives a chance to look.
    bool busLostDue();
    void failModule(const QString &reason);
    // For a module that stayed silent: into a lost bus every module does, so
    // the lost bus is named instead.
    void failSilentModule(const QString &reason);
    bool stoppedNow();
    bool moduleInWork() const;
    bool updateBegun() const; // the current module got an update command
    // False when a stop cut it short.
    bool pause(std::chrono::milliseconds duration);
    void moduleUpdated();
    void noteReason(const QString &reason);
    void mark(bool ModuleRecord::*flag, bool value = true); // of the current module
    void skip(const QString &reason);
    void inform(const char *text);
    void closeRun();
    void reportOutcome();
    bool selected() const;

    void waitLogOn();
    bool waitFirstLogOn();
    void askForLogOnsDue();
    void announce();
    void queryModule();
    void checkFirmwareName();
    void checkSelection();
    void waitReady();
    void startFlash();
    void flashing();
    void startCompare();
    void startPass(protocol::UpdateCommand command, PassLines::Pass pass, const char *label);
    void comparing();
    void postFlash();
    void nextModule();
    void finish();
    void waitEnter();

    Console &console_;
    ManageCanCommunication &communication_;
    RunClock &clock_;
    FirmwareFile &file_;
    const Settings settings_;
    const Hooks hooks_;
    std::atomic<bool> stopAfterModule_{false};
    std::atomic<bool> stopNow_{false};
    std::atomic<bool> closeAuto_{false};
    bool runEnded_ = false;
    // Never set: the empty name that opens every notice and information as
    // "" (the lines the front end and users' scripts match on begin so).
    const QString peerName_;
    UpdateState state_ = UpdateState::WaitLogOn;

    int logOnWindowCount_;
    bool updateStartSent_ = false;
    bool firstModuleSeen_ = false;
    RunClock::Time firstLogOnDeadline_;
    RunClock::Time nextLogOnRequest_;
    RunClock::Time logOnWindowEnd_;
    int modulesKnown_ = 0;
    std::unique_ptr<BusWatch> bus_;
    std::unique_ptr<PassLines> lines_;
    int flashStarts_ = 0;
    int readyPolls_ = 0;
    int nameRequests_ = 0;
    bool runFailed_ = false; // version error, lost connection
    bool stopped_ = false;
    bool succeeded_ = false;
};
