// One update run on its own thread, as a state machine: waits for the modules
// to log on, then takes them one at a time in ascending id order through
// identity check, flashing, comparing and restart. The steps for the lines of
// a pass are in passlines.cpp; the file, the retry state, the module table and
// the line transfer are units of their own.
#pragma once

#include "candriverfunctions.h"
#include "firmwarefile.h"
#include "lineretry.h"
#include "protocol.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QThread>

#include <atomic>
#include <cstdint>
#include <functional>

namespace linecheck { struct Verdict; }

class Console;
class ManageCanCommunication;
class ModuleTable;

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

signals:
    void information(QString peerName, QString info);
    void progress(int progress);

public slots:
    void stop() { stopAfterModule_.store(true); }

protected:
    void run() override;

private:
    enum class LineSend { Sent, EndOfFile, Failed };

    ModuleTable &modules() const;
    uint16_t currentModule() const;
    void failChangedFile();
    LineSend sendNextLine();
    LineSend readNextLine();
    bool transmitCurrentLine();
    // Takes the current module's status codes, oldest first.
    std::function<bool(uint8_t &)> codes();
    bool checkLineResult();
    bool lineAnswered(const linecheck::Verdict &verdict);
    void processQueuedCodes();
    bool lineTimedOut();
    bool busLost();
    // busLost() at most once a second: the bus is watched during long phases
    // too, where no wait gives a chance to look.
    bool busLostDue();
    void failModule(const QString &reason, UpdateState next = UpdateState::NextModule);
    void closeRun();
    void reportOutcome();
    bool selected() const;

    void waitLogOn();
    void announce();
    void queryModule();
    void checkFirmwareName();
    void checkSelection();
    void waitReady();
    void startFlash();
    void flashing();
    void startCompare();
    void startPass(protocol::UpdateCommand command, UpdateState pass, const QString &label);
    void comparing();
    void postFlash();
    void nextModule();
    void finish();
    void waitEnter();

    Console &console_;
    std::atomic<bool> stopAfterModule_{false};
    bool runEnded_ = false;
    ManageCanCommunication *communication_ = nullptr;
    const QString peerName_;
    QString fileName_;
    FirmwareFile file_;
    QList<uint16_t> canIds_;
    std::atomic<bool> closeAuto_{false};
    UpdateState state_ = UpdateState::WaitLogOn;
    QByteArray currentLine_;

    int logOnWindowCount_ = 0;
    bool updateStartSent_ = false;
    bool firstModuleSeen_ = false;
    QDeadlineTimer firstLogOnDeadline_;
    QDeadlineTimer lineAnswerDeadline_;
    QElapsedTimer sinceBusCheck_;
    LineRetry retry_;
    int flashStarts_ = 0;
    int readyPolls_ = 0;
    int nameRequests_ = 0;
    uint16_t canLine_ = 0;
    bool runFailed_ = false; // version error, lost connection, unreadable file
    bool succeeded_ = false;
};
