#include "firmwarefile.h"

#include "firmwarecheck.h"
#include "linetext.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("FirmwareUpdateThread", text);
}

} // namespace

bool firmwareFits(const QString &fileName, const QString &name)
{
    return QFileInfo(fileName).fileName().contains(name);
}

QString FirmwareFile::open(const QString &fileName)
{
    QFile file(fileName);
    // A pipe or a device would block the open or never end; a folder has no lines.
    const QFileInfo info(fileName);
    const bool special = info.exists() && !info.isFile();
    if (special || !file.open(QIODevice::ReadOnly)) {
        // The first line is the one scripts know; the reason goes on a line
        // the front end shows.
        const QString reason = !special       ? file.errorString()
                               : info.isDir() ? tr("it is a folder")
                                              : tr("it is not a regular file");
        return QStringLiteral("Can not open file '") + fileName + QStringLiteral("'\n")
               + tr("Error: Firmware file '%1' cannot be opened: %2").arg(fileName, reason);
    }
    const QString tooLarge =
        tr("Error: Firmware file '%1' is larger than %2 MiB").arg(fileName).arg(LargestFile / (1024 * 1024));
    if (file.size() > LargestFile)
        return tooLarge;
    content_ = file.read(LargestFile + 1);
    if (file.error() != QFileDevice::NoError)
        return tr("Error: Firmware file '%1' cannot be read").arg(fileName);
    // It may have grown since its size was read.
    if (content_.size() > LargestFile)
        return tooLarge;
    QBuffer buffer(&content_);
    buffer.open(QIODevice::ReadOnly);
    const firmwarecheck::FileCheck check = firmwarecheck::checkFile(buffer, fileName);
    return check.ok ? QString() : check.message;
}

bool FirmwareFile::next(QByteArray &firmwareLine)
{
    if (position_ >= content_.size())
        return false;
    const qsizetype newline = content_.indexOf('\n', position_);
    const qint64 end = newline < 0 ? content_.size() : newline + 1;
    firmwareLine = linetext::normalise(content_.mid(position_, end - position_));
    position_ = end;
    return true;
}
