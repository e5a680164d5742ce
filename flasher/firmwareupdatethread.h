// One update run on its own thread, as a state machine: waits for the modules
// to log on, then takes them one at a time in ascending id order through
// identity check, flashing, comparing and restart. PassLines sends the lines
// of a pass and judges the answers; the firmware file, the bus watch, the
// module table and the line transfer are units of their own. The set-up and
// the outcome of the run are in firmwareupdatesetup.cpp.
#pragma once

#include "candriverfunctions.h"
#include "firmwarefile.h"
#include "passlines.h"
#include "protocol.h"

#include <QDeadlineTimer>
#include <QList>
#include <QString>
#include <QThread>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

class BusWatch;
class Console;
class ManageCanCommunication;
class ModuleTable;
struct ModuleRecord;

class FirmwareUpdateThread : public QThread
{
    Q_OBJECT

public:
    enum class UpdateState { WaitLogOn, Announce, QueryModule, CheckFirmwareName, CheckSelection,
                             WaitReady, StartFlash, Flashing, StartCompare, Comparing, PostFlash,
                             NextModule, Finish, WaitEnter };

    explicit FirmwareUpdateThread(Console &console, QObject *parent = nullptr);
    ~FirmwareUpdateThread() override;

    void setCanIds(const QString &list);
    const QList<uint16_t> &canIds() const { return canIds_; }
    void setCloseAuto(bool closeAuto) { closeAuto_.store(closeAuto); }
    // driver: entry points to use instead of binding the library (tests, benchmark).
    bool startUpdate(const char *interfaceName, int bitRate, int canLine, const QString &fileName,
                     const CanDriverFunctions *driver = nullptr);
    // After the thread has finished: every selected module whose name fits
    // the file was updated, and at least one was.
    bool runSucceeded() const { return succeeded_; }
    // What a run does before its first update command, and the closing
    // sequence: every module is queried and named, none is updated. It
    // succeeds when a module answered.
    bool startScan(const char *interfaceName, int bitRate, int canLine,
                   const CanDriverFunctions *driver = nullptr);

signals:
    void information(QString peerName, QString info);
    void progress(int progress);

public slots:
    void stop() { stopAfterModule_.store(true); }
    // Ends the run at its next wait, and the module in work with it (SIGINT,
    // SIGTERM, SIGHUP); at the ENTER prompt the run ends as after ENTER. Any
    // thread, once the run has started.
    void stopNow();

protected:
    void run() override;

private:
    ModuleTable &modules() const;
    uint16_t currentModule() const;
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
    bool startRun(const char *interfaceName, int bitRate, int canLine, const CanDriverFunctions *driver);
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
    std::atomic<bool> stopAfterModule_{false};
    std::atomic<bool> stopNow_{false};
    bool runEnded_ = false;
    ManageCanCommunication *communication_ = nullptr;
    // Never set: the empty name that opens every notice and information as
    // "" (the lines the front end and users' scripts match on begin so).
    const QString peerName_;
    QString fileName_;
    FirmwareFile file_;
    QList<uint16_t> canIds_;
    std::atomic<bool> closeAuto_{false};
    UpdateState state_ = UpdateState::WaitLogOn;

    int logOnWindowCount_ = 0;
    bool updateStartSent_ = false;
    bool firstModuleSeen_ = false;
    QDeadlineTimer firstLogOnDeadline_;
    QDeadlineTimer nextLogOnRequest_;
    QDeadlineTimer logOnWindowEnd_;
    int modulesKnown_ = 0;
    std::unique_ptr<BusWatch> bus_;
    std::unique_ptr<PassLines> lines_;
    int flashStarts_ = 0;
    int readyPolls_ = 0;
    int nameRequests_ = 0;
    uint16_t canLine_ = 0;
    bool runFailed_ = false; // version error, lost connection
    bool stopped_ = false;
    bool scan_ = false;
    bool succeeded_ = false;
};
