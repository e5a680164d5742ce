#include "firmwarefile.h"

#include "firmwarecheck.h"
#include "linetext.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

FirmwareFile::FirmwareFile() = default;

FirmwareFile::~FirmwareFile() = default;

QString FirmwareFile::open(const QString &fileName)
{
    file_ = std::make_unique<QFile>(fileName);
    // A pipe or a device would block the open or never end; a folder has no lines.
    const QFileInfo info(fileName);
    if ((info.exists() && !info.isFile()) || !file_->open(QIODevice::ReadOnly))
        return QStringLiteral("Can not open file '") + fileName + u'\'';
    size_ = file_->size();
    const firmwarecheck::FileCheck check = firmwarecheck::checkFile(*file_, fileName);
    if (!check.ok)
        return check.message;
    lines_ = check.lines;
    if (!rewind())
        return QCoreApplication::translate("FirmwareUpdateThread",
                                           "Error: Firmware file '%1' cannot be read")
            .arg(fileName);
    return {};
}

bool FirmwareFile::rewind()
{
    passLines_ = 0;
    return unchanged(false) && file_->seek(0);
}

bool FirmwareFile::unchanged(bool passFinished) const
{
    return file_->size() == size_ && (!passFinished || passLines_ == lines_);
}

qint64 FirmwareFile::position() const
{
    return file_->pos();
}

FirmwareFile::Read FirmwareFile::next(QByteArray &firmwareLine)
{
    if (file_->atEnd())
        return unchanged(true) ? Read::End : Read::Changed;
    // The file passed the check; a line beyond the longest record now means
    // it changed underneath, which counts as a read error.
    const QByteArray raw = file_->readLine(firmwarecheck::LongestRawLine + 1);
    const bool cut = !raw.endsWith('\n') && !file_->atEnd();
    if (raw.isEmpty() || cut || file_->error() != QFileDevice::NoError)
        return Read::Unreadable;
    // Only the file's last line may lack its line end; any other line that
    // does is the cut end of a file that shrank, and must not be flashed.
    if (!raw.endsWith('\n') && (passLines_ + 1 != lines_ || !unchanged(false)))
        return Read::Changed;
    ++passLines_;
    firmwareLine = linetext::normalise(raw);
    return Read::Line;
}
