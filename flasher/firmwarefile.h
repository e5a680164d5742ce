// The firmware file of a run: read once and checked before any CAN activity,
// then every pass sends its lines from that content. What the modules get is
// exactly what was checked, whatever happens to the file during the run.
#pragma once

#include <QByteArray>
#include <QString>

// Whether a module of this firmware name takes the file: the name is looked
// for in the file's own name, so that a folder of another module's name
// decides nothing.
bool firmwareFits(const QString &fileName, const QString &name);

class FirmwareFile
{
public:
    // A firmware image fills a module's flash, a few megabytes at most; the
    // bound keeps a wrong file from filling the memory.
    static constexpr qint64 LargestFile = 64 * 1024 * 1024;

    // Reads and checks the file; the error lines to show when it cannot be
    // flashed, empty when it can.
    QString open(const QString &fileName);
    // Back to the first line for a pass.
    void rewind() { position_ = 0; }
    // The next line, normalised and with CR LF, into firmwareLine; false at
    // the end of the content.
    bool next(QByteArray &firmwareLine);

    qint64 position() const { return position_; } // after the line read last
    qint64 size() const { return content_.size(); }

private:
    QByteArray content_;
    qint64 position_ = 0;
};
