// The flasher's single point of contact with the CAN line: it opens and
// closes the line, watches the bus status, sends the protocol's frames and
// keeps what the receive thread reports in the module table. The receive
// thread's signals reach its slots directly on that thread (see the design
// notes in docs/developers.md); the table and the line transfer carry their own locks.
#pragma once

#include "candriverfunctions.h"
#include "canmessage.h"
#include "linetransfer.h"
#include "moduletable.h"
#include "protocol.h"

#include <QObject>

#include <chrono>
#include <cstdint>

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

    bool initCanInterface(const char *interfaceName, uint16_t bitRate, uint16_t canLine);
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
    // Restart clears the current module's log-on mark first.
    void sendUpdateCommand(protocol::UpdateCommand command);
    void sendFlashData(const QByteArray &bytes);

    // The module records and the current module, for the update thread.
    ModuleTable &modules() { return modules_; }
    const ModuleTable &modules() const { return modules_; }

    // Sends a firmware line to the current module, frame by frame (see
    // LineTransfer).
    void startLineTransfer(const QByteArray &firmwareLine);
    // True when every frame of the line was acknowledged. False when one was
    // not within frameBound of the previous one; the transfer is then dropped.
    bool waitLineTransferred(std::chrono::milliseconds frameBound);

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
    void startReceiving();
    uint16_t clearFlashFrameAck();
    void sendMessage(const CanMessage &message);
    QByteArray readCanStatus();
    void closeLine();
    void reportVersion();
    // The failed set-up's line; libraryText is what ExtendedInitCan answered.
    void reportFailedSetUp(const char *interfaceName, const char *libraryText);

    Console &console_;
    CanDriverFunctions driver_;
    bool driverBound_ = false;
    int canStatus_ = StatusOther;
    QByteArray canStatusText_;
    uint16_t bitRate_ = 125;
    uint16_t canLine_ = 0;
    bool canLineOpen_ = false;
    ReceiveThread *receiveThread_ = nullptr;
    ModuleTable modules_;
    LineTransfer transfer_;
};
