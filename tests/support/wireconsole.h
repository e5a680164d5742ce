// What tarvCanFlash's console must show for the conversation on its bus: the
// progress lines on standard output, and on standard error the notices of
// repeated lines and lines given up, flash and version errors and modules
// given up.
#pragma once

#include "wirejudge.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>

namespace testkit {

struct DueLine
{
    QString text;
    bool required; // false: the wire leaves open whether the flasher wrote it
    int frame;     // the frame that called for it
};

// "Flash ID 208 37.5% S21400200010111213141516171819"
QString progressText(bool flash, unsigned moduleId, qint64 position, qint64 size, const QByteArray &line);
// The notice a status code calls for: checksum, other, flash or version error.
// repeating: false for the refusal or timeout that gives the line up.
QStringList codeNotices(uint8_t code, const QByteArray &line, bool repeating = true);
QString timeoutNotice(const QByteArray &line, bool repeating = true);
// Up to the reason, which the comparison leaves out.
QString moduleNotice(unsigned moduleId);

QStringList progressLinesOf(const QByteArray &out);
QStringList noticesOf(const QByteArray &err);

// complete: the wire was judged to its end, so every line shown needs a cause.
WireVerdict compareLines(const QList<DueLine> &due, const QStringList &shown, bool complete, const QString &rule,
                         const QString &stream);

} // namespace testkit
