// The firmware file of a run: opened and checked once, before any CAN
// activity, then read line by line from its first line in every pass. A file
// that changes underneath the run is noticed, and never flashed in part.
#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

class QFile;

class FirmwareFile
{
public:
    FirmwareFile();
    ~FirmwareFile();

    // Opens and checks the file; the error line to show when it cannot be
    // flashed, empty when it can.
    QString open(const QString &fileName);
    // Back to the first line for a pass. False when the file changed or
    // cannot be read.
    bool rewind();

    enum class Read { Line, End, Changed, Unreadable };
    // The next line, normalised and with CR LF, into firmwareLine.
    Read next(QByteArray &firmwareLine);

    qint64 position() const; // after the line read last
    qint64 size() const { return size_; }

private:
    // Its size still is what the check read, and so are the lines of a
    // finished pass.
    bool unchanged(bool passFinished) const;

    std::unique_ptr<QFile> file_;
    qint64 size_ = 0;
    int lines_ = 0;     // lines at the check, blank ones included
    int passLines_ = 0; // lines read in this pass
};
