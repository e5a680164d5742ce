// The flasher's single point of contact with the CAN line and its memory of
// the modules on it.
//
// The module table, its records and the current module id are shared by the
// receive thread (slots) and the update thread (operations): every access
// holds the manager's mutex, which is released before sending or sleeping.
// The update thread sleeps on the manager's wait condition and is woken by
// the slots as soon as an answer it waits for arrives.
#pragma once

#include "candriverfunctions.h"
#include "canmessage.h"
#include "modulerecord.h"

#include <QDeadlineTimer>
#include <QList>
#include <QObject>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>

class Console;
class ReceiveThread;

class ManageCanCommunication : public QObject
{
    Q_OBJECT

public:
    // Binds the driver library beside the program.
    ManageCanCommunication(Console &console, QObject *parent);
    // Uses the given entry points (tests, benchmark).
    ManageCanCommunication(const CanDriverFunctions &driver, Console &console, QObject *parent);
    ~ManageCanCommunication() override;

    // Status codes of GetCanStatus's texts.
    enum CanStatus { StatusOk = 0, StatusBusHeavy = 1, StatusBusLight = 2, StatusBusOff = 3,
                     StatusOverrun = 4, StatusOther = 5, StatusNoClient = 6 };
    static int statusCode(const QByteArray &text);

    bool initCanInterface(const char *interfaceName, uint16_t bitRate, uint16_t line);
    // Stops the receive thread, waits for its end, then closes the line.
    bool stopReceiving();
    int canStatus() const { return canStatus_; }
    const QByteArray &canStatusText() const { return canStatusText_; }

    // Reads the bus status during a run without sending anything. True when
    // the bus was OK at the previous read and no longer is.
    bool connectionLost();

    void sendLogOffAll();
    void sendLogOn(uint16_t id);
    void sendLogOnFollowUp(uint16_t id);
    void sendPatternFrame();
    void sendOpeningSequence();
    void sendClosingSequence();
    void sendRequest1200();
    void requestFirmwareRelease();
    void requestFirmwareName();
    void sendUpdateCommand(uint16_t code);
    void sendFlashData(const QByteArray &bytes);

    void setCurrentModule(uint16_t id);
    uint16_t currentModule() const;
    int moduleCount() const;
    bool firstModule(uint16_t &id) const;
    // The module with the smallest id that is neither done, skipped nor
    // failed; false when none is left. One look at the table, so that a
    // module logging on meanwhile cannot make a handled one look pending.
    bool nextPendingModule(uint16_t &id) const;
    bool isReupdateModule();
    bool isLoggedOn();
    bool isReady();
    bool isFlashFrameAcked();
    void markDone();
    void markSkipped();
    void markFailed();
    void clearReady();
    void clearErrors();
    QString currentFirmwareName();
    bool takeError(uint8_t &code);
    // Modules neither done nor skipped: those a run has not updated.
    QList<uint16_t> modulesNotUpdated() const;
    QList<uint16_t> moduleIds() const; // every module that logged on
    int modulesDone() const;

    // Sends a firmware line to the current module as flash data frames of up
    // to six bytes, strictly one after the other: the slot that receives a
    // frame's acknowledgement sends the next frame at once, so a frame costs
    // no trip through the update thread.
    void startLineTransfer(const QByteArray &line);
    // True when every frame of the line was acknowledged. False when one was
    // not within frameBound of the previous one; the transfer is then dropped.
    bool waitLineTransferred(std::chrono::milliseconds frameBound);

    // What the update thread can wait for; each but AnyModule is about the
    // current module.
    enum class Event { AnyModule, FlashFrameAcked, ErrorQueued, LoggedOn, Ready };
    // True as soon as the event holds, false when the deadline passes first.
    bool waitFor(Event event, QDeadlineTimer deadline);

public slots:
    void evalCanStatus();

private slots:
    void onReceivedLogOn(quint16 id, unsigned char status, unsigned char deviceClass);
    void onReceivedDeviceInformation(quint16 id, ulong serialNumber, QString firmwareReleaseStr,
                                     unsigned char channelNumber);
    void onReceivedFirmwareRelease(quint16 id, int firmwareRelease);
    void onReceivedFirmwareName(quint16 id, QString firmwareName);
    void onReceivedFlashFrame(quint16 id);
    void onReceivedFirmwareUpdateStatusReady(quint16 id);
    void onReceivedFirmwareUpdateStatusError(quint16 id, quint8 error);
    void onReceivedLogOnReupdate(quint16 id);

private:
    friend class ReceiveThread;

    void sendMessage(const CanMessage &message);
    QByteArray readCanStatus();
    void closeLine();
    void reportVersion();
    // Callers hold mutex_.
    ModuleRecord &record(uint16_t id);
    bool holds(Event event);

    Console &console_;
    CanDriverFunctions driver_;
    bool driverBound_ = false;
    int canStatus_ = StatusOther;
    QByteArray canStatusText_;
    uint16_t bitRate_ = 125;
    uint16_t line_ = 0;
    bool lineOpen_ = false;
    ReceiveThread *receiveThread_ = nullptr;

    struct LineTransfer
    {
        bool active = false;
        uint16_t module = 0;
        QByteArray line;
        qsizetype sent = 0;   // bytes handed to the driver
        qsizetype acked = 0;  // bytes acknowledged
        std::chrono::steady_clock::time_point lastAck; // or the line's start
    };
    // Under mutex_: the next frame of the transfer, marking it sent.
    QByteArray nextTransferFrame();

    // std:: rather than Qt's own: the thread sanitizer sees through these.
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    LineTransfer transfer_;
    uint16_t current_ = 0;
    std::map<uint16_t, ModuleRecord> moduleTable_;
};
