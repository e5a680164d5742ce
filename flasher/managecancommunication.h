// The flasher's single point of contact with the CAN line: it opens and
// closes the line, watches the bus status, sends the protocol's frames and
// keeps what arrives in the module table. Frames go out through a port: the
// driver library's, or one handed in (a virtual run). Whatever reads frames
// hands them to receiveFrame(), the one decoding both worlds share; the
// receive thread does so directly on its own thread (see the design notes in
// docs/developers.md); the table and the line transfer carry their own locks.
// Every pause goes through the run's clock.
#pragma once

#include "busport.h"
#include "candriverfunctions.h"
#include "canmessage.h"
#include "linetransfer.h"
#include "moduletable.h"
#include "protocol.h"
#include "runclock.h"

#include <QObject>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <functional>
#include <memory>

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
    // Sends through port and paces itself by clock; the line is opened
    // elsewhere (a virtual run), openLine() greets it.
    ManageCanCommunication(BusPort &port, RunClock &clock, Console &console, QObject *parent);
    ~ManageCanCommunication() override;

    // Status codes of GetCanStatus's texts.
    enum CanStatus {
        StatusOk = 0,
        StatusBusHeavy = 1,
        StatusBusLight = 2,
        StatusBusOff = 3,
        StatusOverrun = 4,
        StatusOther = 5,
        StatusNoClient = 6
    };
    static int statusCode(const QByteArray &text);

    bool initCanInterface(const char *interfaceName, uint16_t bitRate, uint16_t canLine);
    // What initCanInterface does once the driver has opened the line, the
    // settle paced by the clock; for a manager with a port of its own.
    bool openLine(uint16_t canLine);
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
    // 12 00: asks the current module for its device information (serial,
    // release, channels); the name is the protocol's own.
    void sendRequest1200();
    void requestFirmwareRelease();
    void requestFirmwareName();
    // Restart clears the current module's log-on mark first.
    void sendUpdateCommand(protocol::UpdateCommand command);
    void sendFlashData(const QByteArray &bytes);

    // The module records and the current module, for the update sequence.
    ModuleTable &modules() { return modules_; }
    const ModuleTable &modules() const { return modules_; }
    RunClock &clock() { return *clock_; }

    // A frame read from the line: decoded, and each notification handled.
    void receiveFrame(uint16_t word, int length, const uint8_t *data);
    void receive(const protocol::Notification &notification);

    // Sends a firmware line to the current module, frame by frame (see
    // LineTransfer).
    void startLineTransfer(const QByteArray &firmwareLine);
    // True when every frame of the line was acknowledged. False when one was
    // not within frameBound of the previous one; the transfer is then dropped.
    bool waitLineTransferred(std::chrono::milliseconds frameBound);

public Q_SLOTS:
    void evalCanStatus();

private:
    void onReceivedLogOn(quint16 id, unsigned char status, unsigned char deviceClass);
    void onReceivedDeviceInformation(quint16 id, ulong serialNumber, QString firmwareReleaseStr,
                                     unsigned char channelNumber);
    void onReceivedFirmwareRelease(quint16 id, int firmwareRelease);
    void onReceivedFirmwareName(quint16 id, QString firmwareName);
    void onReceivedFlashFrame(quint16 id);
    void onReceivedFirmwareUpdateStatusReady(quint16 id);
    void onReceivedFirmwareUpdateStatusError(quint16 id, quint8 error);
    void onReceivedLogOnReupdate(quint16 id);

    void startReceiving();
    // The pattern frame and the log-off sweep, the settle, then the status.
    bool greetLine(const std::function<void()> &settle);
    uint16_t clearFlashFrameAck();
    void sendMessage(const CanMessage &message);
    QByteArray readCanStatus();
    void closeLine();
    void reportVersion();
    // The failed set-up's line; libraryText is what ExtendedInitCan answered.
    void reportFailedSetUp(const char *interfaceName, const char *libraryText);

    Console &console_;
    CanDriverFunctions driver_;
    std::unique_ptr<BusPort> driverPort_;
    BusPort *port_ = nullptr;
    bool driverBound_ = false;
    int canStatus_ = StatusOther;
    QByteArray canStatusText_;
    uint16_t bitRate_ = 125;
    uint16_t canLine_ = 0;
    bool canLineOpen_ = false;
    ReceiveThread *receiveThread_ = nullptr;
    ModuleTable modules_;
    std::unique_ptr<RunClock> steadyClock_;
    RunClock *clock_ = nullptr;
    // When the frames handed over so far are surely off the bus. Both the
    // update thread and the receive thread's slots send.
    mutable std::mutex busFreeMutex_;
    RunClock::Time busFreeBy_;
    LineTransfer transfer_;
};
