// The console program's update run: the update sequence on a thread of its
// own, on the steady clock and the driver library (the manager with its
// receive thread). The set-up before the run is in firmwareupdatesetup.cpp.
#pragma once

#include "candriverfunctions.h"
#include "firmwarefile.h"

#include <QList>
#include <QString>
#include <QThread>

#include <atomic>
#include <cstdint>
#include <memory>

class Console;
class ManageCanCommunication;
class UpdateSequence;

class FirmwareUpdateThread : public QThread
{
    Q_OBJECT

public:
    explicit FirmwareUpdateThread(Console &console, QObject *parent = nullptr);
    ~FirmwareUpdateThread() override;

    void setCanIds(const QString &list);
    const QList<uint16_t> &canIds() const { return canIds_; }
    void setCloseAuto(bool closeAuto);
    // driver: entry points to use instead of binding the library (tests, benchmark).
    bool startUpdate(const char *interfaceName, int bitRate, int canLine, const QString &fileName,
                     const CanDriverFunctions *driver = nullptr);
    // After the thread has finished: every selected module whose name fits
    // the file was updated, and at least one was.
    bool runSucceeded() const;
    // What a run does before its first update command, and the closing
    // sequence: every module is queried and named, none is updated. It
    // succeeds when a module answered.
    bool startScan(const char *interfaceName, int bitRate, int canLine,
                   const CanDriverFunctions *driver = nullptr);

signals:
    void information(QString peerName, QString info);
    void progress(int progress);

public slots:
    void stop();
    // Ends the run at its next wait, and the module in work with it (SIGINT,
    // SIGTERM, SIGHUP); at the ENTER prompt the run ends as after ENTER. Any
    // thread, once the run has started.
    void stopNow();

protected:
    void run() override;

private:
    bool startRun(const char *interfaceName, int bitRate, int canLine, const CanDriverFunctions *driver);

    Console &console_;
    QString fileName_;
    FirmwareFile file_;
    QList<uint16_t> canIds_;
    bool closeAuto_ = false;
    bool scan_ = false;
    // Before the run has started, the stop slot is kept for it here.
    std::atomic<bool> stopAfterModule_{false};
    ManageCanCommunication *communication_ = nullptr;
    std::unique_ptr<UpdateSequence> sequence_;
};
