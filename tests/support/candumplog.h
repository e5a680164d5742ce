// Reading a candump log (candump -L, or the stand-in's trace):
//
//   (1700000000.123456) can0 205#D80311
//
// time stamp in seconds and microseconds, interface, identifier in hex (3
// digits for a standard frame, 8 for an extended one), '#', the data bytes in
// hex; "R" and an optional length instead of data for a remote request.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>

namespace testkit {

struct LoggedFrame
{
    int index = 0; // among the frames read, in the order of the log
    qint64 timeUs = 0;
    QString interfaceName;
    uint32_t id = 0;
    bool extended = false;
    bool remote = false;
    // An error frame in SocketCAN's form (CAN_ERR_FLAG in the 8-digit
    // identifier): id holds the error class, data the details.
    bool error = false;
    QByteArray data;
};

struct CandumpLog
{
    QList<LoggedFrame> frames;
    int badLine = 0; // 1-based number of the first line that is no frame; 0: none
    QString problem; // what is wrong with that line
};

// Frames of interfaceName only, or of every interface when it is empty, in
// the order of their time stamps: a recorder on several processors may write
// frames of different senders out of order, while each frame is stamped when
// it goes on the bus. Blank lines are skipped; any other line that is not a
// frame (candump's DROPCOUNT notes among them) stops the reading.
CandumpLog readCandumpLog(const QByteArray &text, const QString &interfaceName);

} // namespace testkit
